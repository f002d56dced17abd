// The watch that bounds a blocking call, and the log it shares with the main
// thread when it must end the process.
#include <stdio.h>

#include <string>

#include "shared/log.h"
#include "shared/watch.h"
#include "updater_test.h"

namespace {

using WatchTest = UpdaterTest;

const char kLog[] = "C:\\Temp\\kelvaport\\update.log";

// A call that never returns: the owner asks for `first` at every look.
class StuckCall : public WatchOwner {
 public:
  explicit StuckCall(WatchVerdict first) : first_(first) {}
  WatchVerdict Judge(unsigned long) override { return first_; }
  void Expire() override { ++expired; }
  void LogEnd() override { Log("stuck: the run ends here"); }
  int expired = 0;

 private:
  const WatchVerdict first_;
};

TEST_F(WatchTest, ACallThatOutlivesItsGraceEndsTheProcess) {
  struct Case {
    const char* name;
    WatchVerdict verdict;
    int looks;
    unsigned long msPerLook;
    int expired;
    bool ends;
  };
  const Case cases[] = {
      {"not due", kKeepWaiting, 5, kWatchGraceMs, 0, false},
      {"ended, and it returns within the grace", kExpire, 3, kWatchGraceMs / 3, 1, false},
      {"ended, and still blocked after the grace", kExpire, 3, kWatchGraceMs, 1, true},
      {"cannot be ended at all", kEndNow, 1, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    UseDefaultPaths();
    StartRunLog();
    fake.watchLooks = c.looks;
    fake.msPerWatchLook = c.msPerLook;
    StuckCall call(c.verdict);
    Watch watch(&call, 500);
    gFake->threadJob(gFake->threadContext);  // the watch thread's whole life
    EXPECT_EQ(c.expired == 1, watch.Stop() == 1);
    EXPECT_EQ(c.expired, call.expired);
    EXPECT_EQ(c.ends, fake.Called("EndProcessNow"));
    // The watch's lines reach the file before the end, and only then.
    EXPECT_EQ(c.ends, fake.files[kLog].find("stuck: the run ends here") != std::string::npos);
  }
}

// Real threads: the watch ends the process while the main thread writes the
// log. Every line in the file is whole, the main thread's lines come in order
// with none lost before the watch took the log, and the watch's line is there.
TEST_F(WatchTest, EndingFromTheWatchWhileTheMainThreadLogs) {
  UseDefaultPaths();
  fake.realThreads = true;
  StartRunLog();
  StuckCall call(kEndNow);
  int written = 0;
  {
    Watch watch(&call, 2);
    while (!fake.Called("EndProcessNow") && written < 200000) Log("main line %d", written++);
  }
  const std::string& log = fake.files[kLog];
  ASSERT_NE(std::string::npos, log.find("stuck: the run ends here\r\n"));
  int next = 0;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find("\r\n", at);
    ASSERT_NE(std::string::npos, end);
    std::string line = log.substr(at, end - at);
    int number = -1;
    if (sscanf(line.c_str() + 20, "main line %d", &number) == 1) {
      EXPECT_EQ(next++, number);
    } else {
      EXPECT_EQ("stuck: the run ends here", line.substr(20));
    }
    at = end + 2;
  }
  EXPECT_GT(next, 0);
}

}  // namespace
