// What the updater trusts: the publisher keys pinned into the build.
#pragma once

#include "platform/platform.h"

// The pins, 64 lower-case hex digits each, back to back: the SHA-256 of each
// trusted signer certificate's SubjectPublicKeyInfo. Empty: no pins, and an
// installer is started unverified.
extern const char* gSignerPins;

// The pins of the keys that may sign the manifest, in the same form; empty:
// the installer's pins. A key that re-signs the feed from a server need not
// be one that can vouch for an installer.
extern const char* gFeedPins;

// 1 in builds that require signed releases: the manifest must carry a
// detached signature by a pinned key, and the files their hashes.
extern int gSignedManifest;

// 1 in builds that reach the server over https: every address the run
// fetches, redirects included, must be https://.
extern int gHttpsOnly;

// 1 when `digest` (32 bytes) is one of `pins`.
int IsPinnedKey(const char* pins, const unsigned char digest[32]);

// 1 when the installer held open on `file` may be started: always without
// pins; with pins, only when it carries a valid Authenticode signature whose
// signer key is pinned.
int InstallerIsTrusted(const platform::File& file, const char* path);

// 1 when `signature` (a detached PKCS #7 in DER, with no signed attributes)
// is valid over the manifest body and its signer key is a feed pin.
int ManifestSignatureIsTrusted(const unsigned char* body, unsigned long size, const unsigned char* signature,
                               unsigned long signatureSize);

// 1 when the file held open may be used: its SHA-256 is `expectedHex`. With
// no hash given, 1 unless signed releases require one. `what` is for the log.
int FileMatchesHash(const platform::File& file, const char* expectedHex, const char* what);
