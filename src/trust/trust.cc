#include "trust/trust.h"

#include <string.h>

#include "shared/log.h"

#ifndef UPDATER_SIGNER_PINS
#define UPDATER_SIGNER_PINS ""
#endif

#ifndef UPDATER_FEED_PINS
#define UPDATER_FEED_PINS ""
#endif

#ifndef UPDATER_SIGNED_MANIFEST
#define UPDATER_SIGNED_MANIFEST 0
#endif

#ifndef UPDATER_HTTPS_ONLY
#define UPDATER_HTTPS_ONLY 0
#endif

const char* gSignerPins = UPDATER_SIGNER_PINS;
const char* gFeedPins = UPDATER_FEED_PINS;
int gSignedManifest = UPDATER_SIGNED_MANIFEST;
int gHttpsOnly = UPDATER_HTTPS_ONLY;

namespace {

const size_t kPinLength = 64;

// 64 lower-case hex digits, not terminated.
void ToHex(const unsigned char digest[32], char text[kPinLength]) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < 32; ++i) {
    text[2 * i] = kHex[digest[i] >> 4];
    text[2 * i + 1] = kHex[digest[i] & 0xF];
  }
}

}  // namespace

int IsPinnedKey(const char* pins, const unsigned char digest[32]) {
  char text[kPinLength];
  ToHex(digest, text);
  size_t length = strlen(pins);
  for (size_t at = 0; at + kPinLength <= length; at += kPinLength) {
    if (memcmp(pins + at, text, kPinLength) == 0) return 1;
  }
  return 0;
}

int InstallerIsTrusted(const platform::File& file, const char* path) {
  if (!gSignerPins[0]) {
    Log("installer: no signer pins in this build, not verified");
    return 1;
  }
  unsigned char digest[32];
  int signer = 0;
  long verdict = 0;
  {
    platform::TrustState state;  // closed on every path, a failed verification too
    verdict = platform::VerifyFileTrust(file, path, &state);
    signer = verdict == 0 && platform::SignerKeyDigest(state, digest);
  }
  int trusted = signer && IsPinnedKey(gSignerPins, digest);
  Log("installer: WinVerifyTrust 0x%08lX, signer key %s, %s", static_cast<unsigned long>(verdict),
      !signer ? "unknown" : trusted ? "pinned" : "not pinned", trusted ? "trusted" : "refused");
  return trusted;
}

int ManifestSignatureIsTrusted(const unsigned char* body, unsigned long size, const unsigned char* signature,
                               unsigned long signatureSize) {
  unsigned char digest[32];
  int signedAttributes = 1;
  long verdict = platform::VerifyDetachedSignature(signature, signatureSize, body, size, digest, &signedAttributes);
  int pinned = verdict == 0 && IsPinnedKey(gFeedPins[0] ? gFeedPins : gSignerPins, digest);
  int trusted = pinned && !signedAttributes;
  Log("signature: %lu bytes, verdict 0x%08lX, signed attributes %s, signer key %s, %s", signatureSize,
      static_cast<unsigned long>(verdict), signedAttributes ? "present" : "none",
      verdict != 0 ? "unknown" : pinned ? "pinned" : "not pinned", trusted ? "trusted" : "refused: no manifest");
  return trusted;
}

int FileMatchesHash(const platform::File& file, const char* expectedHex, const char* what) {
  if (!expectedHex[0]) {
    if (gSignedManifest) Log("%s: no hash in the manifest, refused", what);
    return !gSignedManifest;
  }
  unsigned char digest[32];
  char text[kPinLength + 1] = {};
  int hashed = platform::FileSha256(file, digest);
  if (hashed) ToHex(digest, text);
  int matches = hashed && strlen(expectedHex) == kPinLength && memcmp(text, expectedHex, kPinLength) == 0;
  Log("%s: SHA-256 %s, %s", what, hashed ? text : "unreadable", matches ? "matches" : "does not match, refused");
  return matches;
}
