// The update manifest: its fields, the reader, the fetch and the version check.
#pragma once

#include <stddef.h>

#include "platform/platform.h"
#include "shared/heap_text.h"
#include "shared/limits.h"

class Watch;

struct UpdateManifest {
  char contentUrl[520];   // "swf-url"; empty: no content file announced
  char contentDate[260];  // "swf-date"
  char version[520];      // "version"
  int forced;             // "flag" value begins with 'f'
  char installerUrl[260]; // "url"
  char installerSha256[65];  // "sha256": SHA-256 of the installer, 64 lower-case hex digits
  char contentSha256[65];    // "swf-sha256": SHA-256 of the content file
  char rollout[4];           // "rollout": the share of clients offered the release, 0-100
  // The signed feed's own facts; builds without signed releases ignore them.
  char serial[11];   // "serial": a decimal number that only rises, 0-4294967295
  char product[64];  // "product": the product the feed is for
  char expires[21];  // "expires": "YYYY-MM-DDTHH:MM:SSZ", UTC
  char report[2];    // "report": "1" asks the clients for outcome reports
  // Length of each value as found between its tags, -1 when the tags were
  // missing or out of order: tells a rejected value from an absent one.
  long foundContentUrl, foundContentDate, foundVersion, foundInstallerUrl, foundInstallerSha256, foundContentSha256,
      foundRollout, foundSerial, foundProduct, foundExpires, foundReport;
  // Not the reader's: set by whoever fetched the document. A detached
  // signature by a pinned key vouched for exactly these bytes.
  int signatureTrusted;
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

// The fields of a zero-terminated document.
UpdateManifest ReadManifest(const char* text);

// 1 for an absolute http:// or https:// address with a host, no user
// information, no backslash, no control byte and no space. Anything else
// (file:, ftp:, a drive or share path) would let the manifest reach local
// files or other services. With `httpsOnly`, https:// alone.
int IsWebAddress(const char* url, int httpsOnly);

// Reads the whole body of an open request: until its Content-Length, or with
// none until the stream ends, at most `cap` bytes, before `requested` (a
// TickCount) plus the manifest deadline, and never once `deadline` closed the
// request. The zero-terminated body with its length, or null (the reason
// logged under `what`, unless the deadline closed it).
HeapText ReadBody(const platform::Internet& request, const Watch& deadline, unsigned long requested,
                  unsigned long cap, const char* what, unsigned long* length);

// The manifest's bytes as the server sent them, and in builds that require
// signed releases whether its signature vouched for them.
struct FetchedManifest {
  HeapText body;
  unsigned long size = 0;
  int signatureTrusted = 0;
};

// Fetches the manifest (direct, then through the system's proxy when no
// server answered) and, with signed releases, its signature; 1 when a body
// was read.
int FetchManifest(FetchedManifest* fetched);

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

// A feed serial: one to ten decimal digits, at most 4294967295, as found
// (`found` as the reader left it). 1 with its value.
int ParseSerial(const char* text, long found, unsigned long* serial);
// "YYYY-MM-DDTHH:MM:SSZ" with a real month, day, hour, minute and second: the
// form in which two times compare as text.
int IsUtcStamp(const char* text);

// The fixed file version of `path` as "a.b.c.d"; 0 (and empty) when unknown.
int FileVersionText(const char* path, char* text, size_t capacity);
