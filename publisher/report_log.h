// updater-manifest report: outcome reports read from web-server access logs.
#pragma once

#include <time.h>

#include <array>
#include <map>
#include <string>

// The events a client reports, in the order they are shown.
extern const char* const kReportEvents[];
extern const int kReportEventCount;

// The counts of one offered version.
struct VersionCounts {
  long events[8] = {};                       // by kReportEvents index
  std::map<std::string, long> codes[8];      // failed's and start-failed's codes
  long byTenth[11][8] = {};                  // tenth 0-9, and 10: no tenth given
};

struct ReportTally {
  std::map<std::string, VersionCounts> versions;  // at most kCap, then "other"
  std::map<std::string, std::array<long, 8>> days;           // "YYYY-MM-DD": reports per event (at most kCap days)
  long reports = 0, skipped = 0, unreadable = 0, outside = 0;
};

// Distinct versions, codes and days kept; the rest are counted as "other".
const size_t kReportCap = 1000;

// Reads one access log (plain or gzip; "-" is standard input) into `tally`,
// keeping only reports within [since, until). False when it cannot be opened.
bool TallyLog(const std::string& path, time_t since, time_t until, ReportTally* tally);

// The outputs: a table per version, JSON, and a self-contained HTML page. Every
// value from the log is escaped for its output.
void PrintTables(const ReportTally& tally, bool byTenth);
void PrintJson(const ReportTally& tally, bool byTenth);
bool WriteHtml(const ReportTally& tally, const std::string& path);
// "N of M started installers updated (P %)", or that none was started yet.
std::string UpdatedShare(const VersionCounts& v);
// The text of a value from the log, safe on a terminal: control and non-ASCII
// bytes as \xNN.
std::string Printable(const std::string& value);
