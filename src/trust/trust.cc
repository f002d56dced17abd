#include "trust/trust.h"

#include <string.h>

#include "shared/log.h"

#ifndef UPDATER_SIGNER_PINS
#define UPDATER_SIGNER_PINS ""
#endif

const char* gSignerPins = UPDATER_SIGNER_PINS;

namespace {

const size_t kPinLength = 64;

}  // namespace

int IsPinnedKey(const unsigned char digest[32]) {
  static const char kHex[] = "0123456789abcdef";
  char text[kPinLength];
  for (size_t i = 0; i < 32; ++i) {
    text[2 * i] = kHex[digest[i] >> 4];
    text[2 * i + 1] = kHex[digest[i] & 0xF];
  }
  size_t length = strlen(gSignerPins);
  for (size_t at = 0; at + kPinLength <= length; at += kPinLength) {
    if (memcmp(gSignerPins + at, text, kPinLength) == 0) return 1;
  }
  return 0;
}

int InstallerIsTrusted(platform::File file, const char* path) {
  if (!gSignerPins[0]) {
    Log("installer: no signer pins in this build, not verified");
    return 1;
  }
  platform::TrustState state = nullptr;
  long verdict = platform::VerifyFileTrust(file, path, &state);
  unsigned char digest[32];
  int signer = verdict == 0 && platform::SignerKeyDigest(state, digest);
  int trusted = signer && IsPinnedKey(digest);
  platform::CloseTrust(state);  // on every path, a failed verification too
  Log("installer: WinVerifyTrust 0x%08lX, signer key %s, %s", static_cast<unsigned long>(verdict),
      !signer ? "unknown" : trusted ? "pinned" : "not pinned", trusted ? "trusted" : "refused");
  return trusted;
}
