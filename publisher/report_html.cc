// updater-manifest report --html: one self-contained page (inline SVG,
// nothing fetched from elsewhere) with the funnel of each offered version and
// the reports of each day by event.
#include <stdio.h>

#include <algorithm>

#include "report_log.h"

namespace {

const char* const kColors[] = {"#8a8a8a", "#d9534f", "#f0ad4e", "#5cb85c", "#5b7fc7", "#9b59b6", "#444"};

std::string Html(const std::string& value) {
  std::string out;
  for (unsigned char c : value) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char escaped[8];
          snprintf(escaped, sizeof escaped, "\\x%02X", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

// One horizontal bar per event: the funnel of one offered version.
void Funnel(FILE* f, const std::string& version, const VersionCounts& v) {
  long most = 1;
  for (int e = 0; e < kReportEventCount; ++e) most = std::max(most, v.events[e]);
  fprintf(f, "<section class=\"version\"><h2>offered %s</h2>\n", Html(version).c_str());
  fprintf(f, "<svg width=\"640\" height=\"%d\" role=\"img\">\n", 26 * kReportEventCount);
  for (int e = 0; e < kReportEventCount; ++e) {
    int width = static_cast<int>(400.0 * static_cast<double>(v.events[e]) / static_cast<double>(most));
    fprintf(f,
            "<text x=\"0\" y=\"%d\">%s</text><rect x=\"110\" y=\"%d\" width=\"%d\" height=\"18\" fill=\"%s\"/>"
            "<text class=\"count\" data-event=\"%s\" x=\"%d\" y=\"%d\">%ld</text>\n",
            26 * e + 16, kReportEvents[e], 26 * e + 3, width, kColors[e], kReportEvents[e], 116 + width, 26 * e + 16,
            v.events[e]);
  }
  fprintf(f, "</svg>\n<p class=\"share\">%s</p>\n", UpdatedShare(v).c_str());
  for (int e : {1, 2}) {
    if (v.codes[e].empty()) continue;
    fprintf(f, "<p>%s:", kReportEvents[e]);
    for (const auto& code : v.codes[e]) fprintf(f, " <code>%s</code> %ld", Html(code.first).c_str(), code.second);
    fprintf(f, "</p>\n");
  }
  fprintf(f, "</section>\n");
}

// Reports per day, one row of bars for each event.
void PerDay(FILE* f, const ReportTally& t) {
  if (t.days.empty()) return;
  long most = 1;
  for (const auto& day : t.days) {
    for (int e = 0; e < kReportEventCount; ++e) most = std::max(most, day.second[e]);
  }
  const int columns = static_cast<int>(t.days.size()), step = std::max(6, std::min(40, 600 / columns));
  fprintf(f, "<section><h2>reports per day</h2>\n");
  for (int e = 0; e < kReportEventCount; ++e) {
    fprintf(f, "<h3>%s</h3><svg width=\"%d\" height=\"70\" role=\"img\">", kReportEvents[e], step * columns + 10);
    int x = 0;
    for (const auto& day : t.days) {
      int height = static_cast<int>(60.0 * static_cast<double>(day.second[e]) / static_cast<double>(most));
      fprintf(f, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"><title>%s: %ld</title></rect>", x,
              62 - height, step - 2, height, kColors[e], Html(day.first).c_str(), day.second[e]);
      x += step;
    }
    fprintf(f, "</svg>\n");
  }
  fprintf(f, "<p>from %s to %s</p></section>\n", Html(t.days.begin()->first).c_str(),
          Html(t.days.rbegin()->first).c_str());
}

}  // namespace

bool WriteHtml(const ReportTally& t, const std::string& path) {
  FILE* f = fopen(path.c_str(), "w");
  if (!f) return false;
  fprintf(f,
          "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Orvessa updates: outcome reports</title>\n"
          "<style>body{font:14px sans-serif;margin:2em}svg text{font:13px sans-serif}"
          "section{margin-bottom:2em}</style></head><body>\n<h1>Outcome reports</h1>\n"
          "<p id=\"totals\">%ld report(s), %ld other line(s) skipped, %ld unreadable</p>\n",
          t.reports, t.skipped, t.unreadable);
  for (const auto& entry : t.versions) Funnel(f, entry.first, entry.second);
  PerDay(f, t);
  fprintf(f, "</body></html>\n");
  return fclose(f) == 0;
}
