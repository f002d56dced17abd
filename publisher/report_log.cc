// Reading access logs in the combined format, streaming: a line is a report
// when its request is a GET of /api/pellixupdatereport?…
#include <string.h>
#include <zlib.h>

#include "report_log.h"

const char* const kReportEvents[] = {"declined", "failed", "start-failed", "updated", "not-applied", "expired",
                                     "other"};
const int kReportEventCount = 7;

namespace {

const char kMarker[] = "\"GET /api/pellixupdatereport?";

int Hex(char c) {
  return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

std::string Decode(const char* begin, const char* end) {
  std::string out;
  for (const char* c = begin; c < end; ++c) {
    if (*c == '%' && end - c > 2 && Hex(c[1]) >= 0 && Hex(c[2]) >= 0) {
      out += static_cast<char>(Hex(c[1]) * 16 + Hex(c[2]));
      c += 2;
    } else {
      out += *c == '+' ? ' ' : *c;
    }
  }
  return out;
}

// Two or four decimal digits at `at`; -1 when they are not.
int Digits(const char* at, int count) {
  int value = 0;
  for (int i = 0; i < count; ++i) {
    if (at[i] < '0' || at[i] > '9') return -1;
    value = value * 10 + (at[i] - '0');
  }
  return value;
}

// [09/Dec/2026:05:41:46 +0000] as UTC, with its day; -1 when it is not one.
// The day's start is worked out once per day seen, not once per line.
time_t LogTime(const char* line, const char* end, std::string* day) {
  const char* open = static_cast<const char*>(memchr(line, '[', static_cast<size_t>(end - line)));
  if (!open || end - open < 28 || open[3] != '/' || open[7] != '/' || open[12] != ':' || open[21] != ' ') return -1;
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  static std::string cachedKey, cachedDay;
  static time_t cachedStart = 0;
  std::string key(open + 1, 11);  // dd/Mon/yyyy
  if (key != cachedKey) {
    char month[4] = {open[4], open[5], open[6], 0};
    const char* found = strstr(kMonths, month);
    struct tm t = {};
    t.tm_mday = Digits(open + 1, 2);
    t.tm_year = Digits(open + 8, 4) - 1900;
    if (!found || (found - kMonths) % 3 || t.tm_mday < 1 || t.tm_year < 0) return -1;
    t.tm_mon = static_cast<int>(found - kMonths) / 3;
    cachedStart = timegm(&t);
    cachedKey = key;
  }
  int hour = Digits(open + 13, 2), minute = Digits(open + 16, 2), second = Digits(open + 19, 2);
  int zone = Digits(open + 23, 4);
  if (hour < 0 || minute < 0 || second < 0 || zone < 0 || (open[22] != '+' && open[22] != '-')) return -1;
  long offset = (zone / 100) * 3600L + (zone % 100) * 60L;
  time_t utc = cachedStart + hour * 3600L + minute * 60L + second - (open[22] == '-' ? -offset : offset);
  static time_t dayOf = -1;
  if (utc / 86400 != dayOf) {
    dayOf = utc / 86400;
    time_t start = dayOf * 86400;
    struct tm u;
    gmtime_r(&start, &u);
    char text[16];
    strftime(text, sizeof text, "%Y-%m-%d", &u);
    cachedDay = text;
  }
  *day = cachedDay;
  return utc;
}

int EventIndex(const std::string& event) {
  for (int i = 0; i < kReportEventCount - 1; ++i) {
    if (event == kReportEvents[i]) return i;
  }
  return kReportEventCount - 1;
}

// A key of a capped map: itself while there is room, else "other".
template <class Map>
const std::string& Capped(Map& map, const std::string& key) {
  static const std::string kOther = "other";
  return map.count(key) || map.size() < kReportCap ? key : kOther;
}

// One line that holds the marker at `at`.
void TallyReport(const char* line, const char* at, const char* end, time_t since, time_t until, ReportTally* t) {
  const char* query = at + sizeof kMarker - 1;
  const char* stop = query;
  while (stop < end && *stop != ' ' && *stop != '"') ++stop;
  std::string day;
  time_t when = LogTime(line, at, &day);
  if (when < 0) {
    ++t->unreadable;
    return;
  }
  if (when < since || when >= until) {
    ++t->outside;
    return;
  }
  std::string fields[5];  // e, from, to, code, tenth
  static const char* const kNames[] = {"e", "from", "to", "code", "tenth"};
  for (const char* part = query; part < stop;) {
    const char* amp = static_cast<const char*>(memchr(part, '&', static_cast<size_t>(stop - part)));
    if (!amp) amp = stop;
    const char* equals = static_cast<const char*>(memchr(part, '=', static_cast<size_t>(amp - part)));
    if (equals) {
      for (int i = 0; i < 5; ++i) {
        if (strlen(kNames[i]) == static_cast<size_t>(equals - part) && !memcmp(part, kNames[i], equals - part)) {
          fields[i] = Decode(equals + 1, amp).substr(0, 64);
        }
      }
    }
    part = amp + 1;
  }
  if (fields[0].empty()) {
    ++t->unreadable;
    return;
  }
  ++t->reports;
  int event = EventIndex(fields[0]);
  VersionCounts& v = t->versions[Capped(t->versions, fields[2])];
  ++v.events[event];
  if (event == 1 || event == 2) ++v.codes[event][Capped(v.codes[event], fields[3])];
  int tenth = fields[4].size() == 1 && fields[4][0] >= '0' && fields[4][0] <= '9' ? fields[4][0] - '0' : 10;
  ++v.byTenth[tenth][event];
  auto& perDay = t->days[Capped(t->days, day)];
  ++perDay[event];
}

// The complete lines in [begin, end), which ends just past a newline: the
// reports are found by their marker, the rest only counted.
void TallyLines(const char* begin, const char* end, time_t since, time_t until, ReportTally* t) {
  long lines = 0;
  for (const char* p = begin; (p = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)))); ++p) {
    ++lines;
  }
  for (const char* p = begin; p < end;) {
    const char* hit = static_cast<const char*>(memmem(p, static_cast<size_t>(end - p), kMarker, sizeof kMarker - 1));
    if (!hit) break;
    const char* start = static_cast<const char*>(memrchr(begin, '\n', static_cast<size_t>(hit - begin)));
    start = start ? start + 1 : begin;
    const char* stop = static_cast<const char*>(memchr(hit, '\n', static_cast<size_t>(end - hit)));
    TallyReport(start, hit, stop, since, until, t);
    --lines;
    p = stop + 1;
  }
  t->skipped += lines;
}

// A last line without its newline.
void TallyLast(const std::string& line, time_t since, time_t until, ReportTally* t) {
  std::string whole = line + "\n";
  TallyLines(whole.data(), whole.data() + whole.size(), since, until, t);
}

}  // namespace

bool TallyLog(const std::string& path, time_t since, time_t until, ReportTally* tally) {
  gzFile in = path == "-" ? gzdopen(0, "rb") : gzopen(path.c_str(), "rb");
  if (!in) return false;
  gzbuffer(in, 1 << 20);
  std::string buffer(1 << 22, '\0'), carry;
  bool dropping = false;  // inside a line too long to be a log's: skipped to its end
  int got = 0;
  while ((got = gzread(in, &buffer[0], static_cast<unsigned>(buffer.size()))) > 0) {
    const char* data = buffer.data();
    const char* end = data + got;
    const char* line = data;
    if (!carry.empty() || dropping) {  // the line the last block cut
      const char* newline = static_cast<const char*>(memchr(data, '\n', static_cast<size_t>(got)));
      if (!dropping) carry.append(data, newline ? newline : end);
      if (carry.size() > (1u << 20)) {
        ++tally->unreadable;
        carry.clear();
        dropping = true;
      }
      if (!newline) continue;
      if (!dropping) TallyLast(carry, since, until, tally);
      carry.clear();
      dropping = false;
      line = newline + 1;
    }
    const char* last = static_cast<const char*>(memrchr(line, '\n', static_cast<size_t>(end - line)));
    if (last) {
      TallyLines(line, last + 1, since, until, tally);
      line = last + 1;
    }
    carry.assign(line, end);
  }
  if (!carry.empty() && !dropping) TallyLast(carry, since, until, tally);
  bool ok = got >= 0;
  gzclose(in);
  return ok;
}
