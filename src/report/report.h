// Outcome reports: one GET per outcome to the update server's report path,
// which the web server's own access log collects. A report holds two
// versions, an event, a code and at most a rollout tenth: nothing that
// identifies a user. Off unless the manifest asks, and a user or an
// administrator may opt out (updateReport = 0).
#pragma once

#include <stddef.h>

#include "shared/limits.h"

#ifndef UPDATER_REPORTS
#define UPDATER_REPORTS 1
#endif

const unsigned long kReportDeadlineMs = UPDATER_REPORT_DEADLINE_MS;

struct Report {
  const char* event;  // "declined", "failed", "start-failed", "updated", "not-applied", "expired"
  char from[64];      // the version installed now
  char to[64];        // the version offered (or, for updated and not-applied, the one started)
  char code[32];      // one token, or a Windows error; empty: none
  int tenth;          // the rollout bucket / 10, 0-9; -1: the client has no seed
};

// The query after "?": e=EVENT&from=FROM&to=TO&code=CODE[&tenth=N], each value
// percent-encoded (all but ASCII letters, digits and -._~). 0 when it does
// not fit `capacity`.
int ReportQuery(const Report& report, char* out, size_t capacity);

// What the client keeps of the last report it sent, as "TO EVENT": the same
// pair is never sent twice in a row.
void ReportedPair(const Report& report, char* out, size_t capacity);

// Sends the report to the server the manifest came from (direct, then
// through the system's proxy when no server answered), within
// kReportDeadlineMs in all; the answer is not read beyond its status. 1 when
// a server answered. The caller logs and keeps nothing on failure.
int SendReport(const Report& report);
