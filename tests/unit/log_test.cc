#include <stdio.h>

#include <algorithm>
#include <string>

#include "shared/log.h"
#include "updater_test.h"

namespace {

using LogTest = UpdaterTest;

const char kLog[] = "C:\\Temp\\kelvaport\\update.log";
const char kOldLog[] = "C:\\Temp\\kelvaport\\update.log.1";

TEST_F(LogTest, LinesAndRotation) {
  struct LogCase {
    const char* name;
    size_t existing;  // bytes already in update.log; 0: none
    bool rotated;
  };
  const LogCase cases[] = {
      {"new log", 0, false},
      {"at the cap: kept", kLogCap, false},
      {"over the cap: rotated", kLogCap + 1, true},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    UseDefaultPaths();
    fake.now = {2026, 1, 2, 3, 4, 5};
    fake.files[kOldLog] = "older";
    if (c.existing) fake.files[kLog] = std::string(c.existing, 'x');
    StartRunLog();
    Log("manifest: HTTP %d, error %u, 0x%08lX, %s", 404, 12029u, 0x800B0100ul, std::string(2000, 'v').c_str());
    Log("end");
    FlushRunLog();
    EXPECT_EQ(c.rotated, fake.files[kOldLog] != "older");
    std::string log = fake.files[kLog];
    std::string lines = log.substr(c.rotated ? 0 : c.existing);
    // Two lines, each "YYYY-MM-DD HH:MM:SS " and CRLF; a long one is cut, never overrun.
    EXPECT_EQ(0u, lines.find("2026-01-02 03:04:05 manifest: HTTP 404, error 12029, 0x800B0100, vvv"));
    size_t first = lines.find("\r\n");
    ASSERT_NE(std::string::npos, first);
    EXPECT_LT(first, 800u);
    EXPECT_EQ("2026-01-02 03:04:05 end\r\n", lines.substr(first + 2));
  }
}

TEST_F(LogTest, ValuesFromOutsideStayOnTheirLine) {
  struct EscapeCase {
    const char* name;
    std::string value;
    std::string logged;  // the line's event as written
  };
  const EscapeCase cases[] = {
      {"a forged line in a version", "1.0\r\n2026-12-08 17:40:05 installer: trusted",
       "version \"1.0\\x0D\\x0A2026-12-08 17:40:05 installer: trusted\""},
      {"an escape sequence in a URL", "http://h/\x1b[2Jx\x7f", "version \"http://h/\\x1B[2Jx\\x7F\""},
      {"the code page's text kept", "\xe4\xbd\xa0\xe5\xa5\xbd", "version \"\xe4\xbd\xa0\xe5\xa5\xbd\""},
  };
  for (const EscapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    UseDefaultPaths();
    fake.now = {2026, 1, 2, 3, 4, 5};
    StartRunLog();
    Log("version \"%s\"", c.value.c_str());
    FlushRunLog();
    EXPECT_EQ("2026-01-02 03:04:05 " + c.logged + "\r\n", fake.files[kLog]);
  }
  // Escapes count against the cap, and none is cut in half.
  NextCase();
  UseDefaultPaths();
  StartRunLog();
  Log("%s", std::string(2000, '\n').c_str());
  FlushRunLog();
  const std::string& line = fake.files[kLog];
  EXPECT_LT(line.size(), 800u);
  EXPECT_EQ(1, std::count(line.begin(), line.end(), '\n'));
  EXPECT_EQ("\\x0A\r\n", line.substr(line.size() - 6));
}

TEST_F(LogTest, HeldLinesArriveInOrderOnce) {
  UseDefaultPaths();
  StartRunLog();
  // More lines than are held at once: written as they fill, none lost or repeated.
  const int kLines = 3 * kLogPending / 40;
  for (int i = 0; i < kLines; ++i) Log("line %04d", i);
  EXPECT_GT(fake.files[kLog].size(), 0u);  // written before the end, in full lines
  EXPECT_EQ("\r\n", fake.files[kLog].substr(fake.files[kLog].size() - 2));
  FlushRunLog();
  FlushRunLog();
  std::string log = fake.files[kLog];
  for (int i = 0; i < kLines; ++i) {
    char line[32];
    snprintf(line, sizeof line, "line %04d\r\n", i);
    size_t at = log.find(line);
    ASSERT_NE(std::string::npos, at) << line;
    EXPECT_EQ(std::string::npos, log.find(line, at + 1)) << line;
  }
  // A write that fails drops what it held; the run's later lines still arrive.
  fake.locked.insert(kLog);
  Log("lost");
  FlushRunLog();
  fake.locked.clear();
  Log("after");
  FlushRunLog();
  EXPECT_EQ(std::string::npos, fake.files[kLog].find("lost"));
  EXPECT_NE(std::string::npos, fake.files[kLog].find("after"));
}

TEST_F(LogTest, NothingBeforeTheRunLogStarts) {
  Log("early");
  EXPECT_TRUE(fake.files.empty());
}

}  // namespace
