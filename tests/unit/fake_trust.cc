// The fake platform: trust and crypto.
#include "fake_internal.h"

#include <string.h>

#include <algorithm>

namespace platform {

long VerifyFileTrust(const File& file, const char* path, TrustState* state) {
  Record(std::string("VerifyFileTrust ") + path + (gFake->openFiles.count(file.Get()) ? " (held)" : " (not held)"));
  state->Reset(reinterpret_cast<void*>(0x5A));
  return gFake->trustVerdict;
}

int SignerKeyDigest(const TrustState&, unsigned char digest[32]) {
  Record("SignerKeyDigest");
  if (gFake->signerKey.size() != 32) return 0;
  memcpy(digest, gFake->signerKey.data(), 32);
  return 1;
}

void CloseTrustState(void*) {
  if (gFake) Record("CloseTrust");
}

int FileSha256(const File& file, unsigned char digest[32]) {
  auto open = gFake->openFiles.find(file.Get());
  if (open == gFake->openFiles.end()) return 0;
  std::string hex = FakeSha256Hex(gFake->files[open->second]);
  for (int i = 0; i < 32; ++i) digest[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return 1;
}

long VerifyDetachedSignature(const unsigned char* signature, unsigned long signatureSize, const unsigned char* content,
                             unsigned long contentSize, unsigned char signerKeyDigest[32], int* signedAttributes) {
  Record("VerifyDetachedSignature");
  *signedAttributes = gFake->signatureAttributes;
  // The fake's signature is "SIG:" followed by the exact bytes it covers.
  std::string covered(reinterpret_cast<const char*>(content), contentSize);
  std::string given(reinterpret_cast<const char*>(signature), signatureSize);
  if (given != "SIG:" + covered || gFake->signatureKey.size() != 32) return static_cast<long>(0x80090006L);
  memcpy(signerKeyDigest, gFake->signatureKey.data(), 32);
  return 0;
}

}  // namespace platform
