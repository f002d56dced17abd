#include <string>

#include "shared/log.h"
#include "updater_test.h"

namespace {

using LogTest = UpdaterTest;

const char kLog[] = "C:\\Temp\\kelvaport\\update.log";
const char kOldLog[] = "C:\\Temp\\kelvaport\\update.log.1";

TEST_F(LogTest, LinesRotationAndFailures) {
  struct LogCase {
    const char* name;
    size_t existing;  // bytes already in update.log; 0: none
    bool locked;      // the log cannot be written
    bool rotated;
  };
  const LogCase cases[] = {
      {"new log", 0, false, false},
      {"at the cap: kept", kLogCap, false, false},
      {"over the cap: rotated", kLogCap + 1, false, true},
      {"cannot be written", 0, true, false},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    UseDefaultPaths();
    fake.now = {2026, 1, 2, 3, 4, 5};
    fake.files[kOldLog] = "older";
    if (c.existing) fake.files[kLog] = std::string(c.existing, 'x');
    if (c.locked) fake.locked.insert(kLog);
    StartRunLog();
    Log("manifest: HTTP %d, error %u, 0x%08lX, %s", 404, 12029u, 0x800B0100ul, std::string(2000, 'v').c_str());
    Log("end");
    EXPECT_EQ(c.rotated, fake.files[kOldLog] != "older");
    if (c.locked) {
      EXPECT_EQ(0u, fake.files.count(kLog));  // skipped, nothing else changed
      continue;
    }
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

TEST_F(LogTest, NothingBeforeTheRunLogStarts) {
  Log("early");
  EXPECT_TRUE(fake.files.empty());
}

}  // namespace
