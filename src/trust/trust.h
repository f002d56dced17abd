// What the updater trusts: the publisher keys pinned into the build.
#pragma once

#include "platform/platform.h"

// The pins, 64 lower-case hex digits each, back to back: the SHA-256 of each
// trusted signer certificate's SubjectPublicKeyInfo. Empty: no pins, and an
// installer is started unverified.
extern const char* gSignerPins;

// 1 when `digest` (32 bytes) is one of the pins.
int IsPinnedKey(const unsigned char digest[32]);

// 1 when the installer held open on `file` may be started: always without
// pins; with pins, only when it carries a valid Authenticode signature whose
// signer key is pinned.
int InstallerIsTrusted(platform::File file, const char* path);
