// What the work folder keeps of an installer across runs: the bytes of one
// that did not arrive whole, or a whole, trusted one that did not start; each
// beside a small record of the offer it belongs to.
#pragma once

#include "platform/platform.h"

#ifndef UPDATER_PARTIAL_MAX_DAYS
#define UPDATER_PARTIAL_MAX_DAYS 7
#endif
// Bytes kept longer than this are discarded.
const long long kPartialMaxSeconds = UPDATER_PARTIAL_MAX_DAYS * 86400ll;

// The offer a download belongs to.
struct ResumeKey {
  const char* url;
  const char* version;
  const char* sha256;  // may be empty
};

struct KeptRecord {
  char url[260];
  char validator[256];      // the answer's strong validator; empty for a whole installer
  unsigned long total;       // the whole file's length
  char version[64];
  char sha256[65];
  long long keptAt;  // UTC seconds when the first bytes were kept (after 1970)
};

// The record of `key` with the answer's validator and total, kept now.
KeptRecord RecordFor(const ResumeKey& key, const char* validator, unsigned long total);
// Replaces the record at `path`; 1 when written whole.
int WriteKeptRecord(const char* path, const KeptRecord& record);
// 0 when missing, unreadable, too long or not in the record's form.
int ReadKeptRecord(const char* path, KeptRecord* record);
// Why the record does not belong to `key` at `now` (UTC seconds): another
// address, version or hash, too old, or from the future; null when it does.
const char* RecordMismatch(const KeptRecord& record, const ResumeKey& key, long long now);
