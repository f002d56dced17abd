#include "run/reports.h"

#include <string.h>

#include "outside/outside.h"
#include "report/report.h"
#include "run/stored.h"
#include "shared/log.h"
#include "shared/text.h"

namespace {

// The run's reports: at most one held from an earlier run and one of this run.
struct RunReports {
  int on;
  Report held[2];
  int count;
  char installed[64];
  char offered[64];
  int tenth;  // -1: no seed
};
RunReports gReports;

void Hold(const char* event, const char* from, const char* to, const char* code) {
  if (gReports.count >= 2) return;
  Report& r = gReports.held[gReports.count++];
  r.event = event;
  FormatBounded(r.from, sizeof r.from, "%s", from);
  FormatBounded(r.to, sizeof r.to, "%s", to);
  FormatBounded(r.code, sizeof r.code, "%s", code);
  r.tenth = gReports.tenth;
}

}  // namespace

void ResetRunReports() { gReports = RunReports(); }

void PrepareReports(const UpdateDecision& decision, const UpdateManifest& read, const ClientFacts& client) {
  ResetRunReports();
  gReports.on = UPDATER_REPORTS && decision.reports;
  FormatBounded(gReports.installed, sizeof gReports.installed, "%s", client.installed);
  FormatBounded(gReports.offered, sizeof gReports.offered, "%s", read.version);
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  if (!key) return;
  unsigned long seed = 0;  // read, never made for a report
  gReports.tenth = gReports.on && ReadStoredDword(key, outside::kRegSeedText, &seed)
                       ? static_cast<int>(RolloutBucket(seed, read.version) / 10) : -1;
  char started[64] = "";
  ReadStoredText(key, outside::kRegStartedText, started, sizeof started);
  if (started[0] && !gReports.on) {
    platform::SetStringValue(key, outside::kRegStartedText, "");  // nobody to tell: forgotten
  } else if (started[0]) {
    // As the offer compares: the installed version still sorts before the one started.
    Hold(VersionIsNewer(started, client.installed) ? "not-applied" : "updated", client.installed, started, "");
  }
  if (gReports.on && !decision.feed.yes) Hold("expired", client.installed, read.version, "");
}

void ReportOutcome(const char* event, const char* code) {
  if (!UPDATER_REPORTS || !gReports.on) return;
  Hold(event, gReports.installed, gReports.offered, code);
  SendHeldReports();
}

void SendHeldReports() {
  if (!UPDATER_REPORTS || !gReports.on || gReports.count == 0) return;  // a build without them sends nothing
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  char last[160] = "";
  if (key) ReadStoredText(key, outside::kRegReportedText, last, sizeof last);
  for (int i = 0; i < gReports.count; ++i) {
    const Report& r = gReports.held[i];
    char pair[160];
    ReportedPair(r, pair, sizeof pair);
    int judged = strcmp(r.event, "updated") == 0 || strcmp(r.event, "not-applied") == 0;
    int sent = key && strcmp(pair, last) == 0;  // never the same pair twice in a row
    if (sent) {
      Log("report: %s for %s sent before, not again", r.event, r.to);
    } else if ((sent = SendReport(r)) && key) {
      platform::SetStringValue(key, outside::kRegReportedText, pair);
      memcpy(last, pair, sizeof last);
    }
    if (sent && judged && key) platform::SetStringValue(key, outside::kRegStartedText, "");
  }
  gReports.count = 0;
}

void NoteInstallerStart(const char* version) {
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  if (key && gReports.on) platform::SetStringValue(key, outside::kRegStartedText, version);
}

void NoteStartFailed(unsigned error) {
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  if (key && gReports.on) platform::SetStringValue(key, outside::kRegStartedText, "");
  char code[16];
  FormatBounded(code, sizeof code, "%u", error);
  ReportOutcome("start-failed", code);
}
