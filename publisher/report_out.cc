// updater-manifest report's tables and JSON.
#include <stdio.h>

#include "report_log.h"

namespace {

const int kFailed = 1, kStartFailed = 2, kUpdated = 3, kNotApplied = 4;

std::string Json(const std::string& value) {
  std::string out = "\"";
  for (unsigned char c : value) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string UpdatedShare(const VersionCounts& v) {
  long started = v.events[kUpdated] + v.events[kNotApplied];
  if (!started) return "no started installer reported yet";
  char text[96];
  snprintf(text, sizeof text, "%ld of %ld started installers updated (%.0f %%)", v.events[kUpdated], started,
           100.0 * static_cast<double>(v.events[kUpdated]) / static_cast<double>(started));
  return text;
}

namespace {

void PrintCodes(const VersionCounts& v, int event) {
  if (v.codes[event].empty()) return;
  printf("    %-12s", "");
  for (const auto& code : v.codes[event]) printf(" %s:%ld", Printable(code.first).c_str(), code.second);
  printf("\n");
}

}  // namespace

std::string Printable(const std::string& value) {
  std::string out;
  for (unsigned char c : value) {
    if (c < 0x20 || c >= 0x7F || c == '\\') {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out.empty() ? "(none)" : out;
}

void PrintTables(const ReportTally& t, bool byTenth) {
  for (const auto& entry : t.versions) {
    const VersionCounts& v = entry.second;
    printf("offered %s\n", Printable(entry.first).c_str());
    for (int e = 0; e < kReportEventCount; ++e) {
      if (!v.events[e] && e == kReportEventCount - 1) continue;
      printf("  %-12s %8ld\n", kReportEvents[e], v.events[e]);
      if (e == kFailed || e == kStartFailed) PrintCodes(v, e);
    }
    printf("  %s\n", UpdatedShare(v).c_str());
    if (!byTenth) continue;
    printf("  %-6s", "tenth");
    for (int e = 0; e < kReportEventCount; ++e) printf(" %12s", kReportEvents[e]);
    printf("\n");
    for (int tenth = 0; tenth <= 10; ++tenth) {
      long any = 0;
      for (int e = 0; e < kReportEventCount; ++e) any += v.byTenth[tenth][e];
      if (!any) continue;
      printf("  %-6s", tenth == 10 ? "none" : std::to_string(tenth).c_str());
      for (int e = 0; e < kReportEventCount; ++e) printf(" %12ld", v.byTenth[tenth][e]);
      printf("\n");
    }
  }
  printf("%ld report(s), %ld other line(s) skipped, %ld unreadable, %ld outside the times\n", t.reports, t.skipped,
         t.unreadable, t.outside);
}

void PrintJson(const ReportTally& t, bool byTenth) {
  printf("{\"reports\": %ld, \"skipped\": %ld, \"unreadable\": %ld, \"outside\": %ld, \"versions\": [", t.reports,
         t.skipped, t.unreadable, t.outside);
  const char* comma = "";
  for (const auto& entry : t.versions) {
    const VersionCounts& v = entry.second;
    printf("%s\n  {\"offered\": %s, \"events\": {", comma, Json(entry.first).c_str());
    for (int e = 0; e < kReportEventCount; ++e) printf("%s\"%s\": %ld", e ? ", " : "", kReportEvents[e], v.events[e]);
    printf("}, \"codes\": {");
    for (int e : {kFailed, kStartFailed}) {
      printf("%s\"%s\": {", e == kFailed ? "" : ", ", kReportEvents[e]);
      const char* inner = "";
      for (const auto& code : v.codes[e]) {
        printf("%s%s: %ld", inner, Json(code.first).c_str(), code.second);
        inner = ", ";
      }
      printf("}");
    }
    printf("}");
    if (byTenth) {
      printf(", \"tenths\": {");
      const char* inner = "";
      for (int tenth = 0; tenth <= 10; ++tenth) {
        printf("%s\"%s\": [", inner, tenth == 10 ? "none" : std::to_string(tenth).c_str());
        for (int e = 0; e < kReportEventCount; ++e) printf("%s%ld", e ? ", " : "", v.byTenth[tenth][e]);
        printf("]");
        inner = ", ";
      }
      printf("}");
    }
    printf("}");
    comma = ",";
  }
  printf("\n]}\n");
}
