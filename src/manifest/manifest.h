// The update manifest: its fields, the reader, the fetch and the version check.
#pragma once

#include <stddef.h>

#include "platform/platform.h"
#include "shared/limits.h"

struct UpdateManifest {
  char contentUrl[520];   // "swf-url"; empty: no content file announced
  char contentDate[260];  // "swf-date"
  char version[520];      // "version"
  int forced;             // "flag" value begins with 'f'
  char installerUrl[260]; // "url"
  char installerSha256[65];  // "sha256": SHA-256 of the installer, 64 lower-case hex digits
  char contentSha256[65];    // "swf-sha256": SHA-256 of the content file
  char rollout[4];           // "rollout": the share of clients offered the release, 0-100
  // Length of each value as found between its tags, -1 when the tags were
  // missing or out of order: tells a rejected value from an absent one.
  long foundContentUrl, foundContentDate, foundVersion, foundInstallerUrl, foundInstallerSha256, foundContentSha256,
      foundRollout;
};

extern UpdateManifest gManifest;

// Largest manifest body accepted; anything longer counts as no manifest.
const unsigned long kManifestCap = 64 * 1024;
// Largest signature accepted (the manifest's .p7s).
const unsigned long kSignatureCap = 16 * 1024;
// Connect, send and receive timeout of the manifest request.
const unsigned long kManifestTimeoutMs = UPDATER_MANIFEST_TIMEOUT_MS;
// The whole body must have arrived within this after the request was made; a
// server that trickles counts as no manifest.
const unsigned long kManifestDeadlineMs = UPDATER_MANIFEST_DEADLINE_MS;

// Fills gManifest from a zero-terminated document.
void ReadManifest(const char* text);

// 1 for an absolute http:// or https:// address with a host, no user
// information, no backslash, no control byte and no space. Anything else
// (file:, ftp:, a drive or share path) would let the manifest reach local
// files or other services. With `httpsOnly`, https:// alone.
int IsWebAddress(const char* url, int httpsOnly);

// Reads the whole body of an open request: until its Content-Length, or with
// none until the stream ends, at most `cap` bytes, before `requested` (a
// TickCount) plus the manifest deadline. The zero-terminated body (the caller
// frees) with its length, or null (the reason logged under `what`).
char* ReadBody(platform::Internet request, unsigned long requested, unsigned long cap, const char* what,
               unsigned long* length);

// Fetches and reads the manifest; 1 when it offers a newer version.
int FetchManifest();

// The comparisons, byte-wise as text (unsigned), never as numbers.
// 1 when the offered version text sorts after the installed one.
int VersionIsNewer(const char* offered, const char* installed);
// 1 when the announced content date sorts after the stored stamp.
int StampIsNewer(const char* announced, const char* stored);
// "a.b.c.d": four decimal numbers of at most five digits, each at most 65535,
// and nothing else. 1 when `text` is one, with its parts.
int ParseVersionNumbers(const char* text, unsigned parts[4]);
// 1 when both are four numbers and `offered` is newer, compared part by part.
int VersionIsNewerAsNumbers(const char* offered, const char* installed);

// A staged rollout: the share of clients a release is offered to. 100 without
// the tag; -1 for a tag that is not 0 to 100 in one to three decimal digits
// (`found` as the reader left it), which withholds the offer.
int RolloutPercent(const char* value, long found);
// The client's place in a release's rollout, 0-99: the 32-bit FNV-1a hash of
// the seed's four bytes (least significant first) and the version text, modulo 100.
unsigned RolloutBucket(unsigned long seed, const char* version);
// 1 when this client is in the manifest's rollout; reads, or makes once, the
// client's seed only when the rollout is below 100. Logs the verdict.
int InRollout();

// The fixed file version of `path` as "a.b.c.d"; 0 (and empty) when unknown.
int FileVersionText(const char* path, char* text, size_t capacity);

// 1 when the manifest's version text sorts after the installed file version;
// in builds that require signed releases, only when it is also newer as four
// numbers (a genuine old release replayed must never be offered). The log
// says which rule refused.
int IsNewerThanInstalled();
