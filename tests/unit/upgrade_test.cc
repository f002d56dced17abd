#include <algorithm>
#include <string>

#include "download/download.h"
#include "download/watchdog.h"
#include "shared/log.h"
#include "upgrade/upgrade.h"
#include "updater_test.h"

namespace {

const char kSetupUrl[] = "http://h/setup.exe";
const char kInstaller[] = "C:\\Temp\\kelvaport\\setup.exe";
const std::string kExe = "MZ\x90\x00 installer";

class UpgradeTest : public UpdaterTest {
 protected:
  void SetUp() override {
    UpdaterTest::SetUp();
    UseDefaultPaths();
    strcpy(gManifest.installerUrl, kSetupUrl);
  }
  char failure[16] = "";  // why the last download did not arrive
};

struct PromptCase {
  const char* name;
  int forced;
  bool player;
  int answer;
  const wchar_t* text;
  unsigned style;
  int accepted;
};

TEST_F(UpgradeTest, PromptTextsButtonsAndOwner) {
  const wchar_t* optional = L"Orvessa发现新版本，是否现在更新？";
  const wchar_t* forced = L"Orvessa发现新版本，点击确定后更新。";
  const PromptCase cases[] = {
      {"optional yes", 0, false, platform::kIdYes, optional, platform::kMbYesNo, 1},
      {"optional no", 0, true, 7, optional, platform::kMbYesNo, 0},
      {"optional closed", 0, false, platform::kIdCancel, optional, platform::kMbYesNo, 0},
      {"forced ok", 1, true, platform::kIdOk, forced, platform::kMbOk, 1},
      {"box failed", 0, false, 0, optional, platform::kMbYesNo, 0},
  };
  for (const PromptCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    gManifest.forced = c.forced;
    if (c.player) fake.topWindows[L"TarvelonFlashPlayer"] = FakeWindow(0x42);
    fake.topWindows[L"Orvessa"] = FakeWindow(0x43);  // never the prompt's owner
    fake.boxAnswer = c.answer;
    EXPECT_EQ(c.accepted, PromptForUpgrade());
    ASSERT_EQ(1u, fake.boxes.size());
    EXPECT_EQ(c.text, fake.boxes[0].text);
    EXPECT_EQ(L"更新提示", fake.boxes[0].caption);
    EXPECT_EQ(c.style, fake.boxes[0].style);
    EXPECT_EQ(c.player ? FakeWindow(0x42) : nullptr, fake.boxes[0].owner);
  }
}

struct PlacementCase {
  int cx, cy, x, y;
};

TEST_F(UpgradeTest, ProgressWindowPlacement) {
  const PlacementCase cases[] = {
      {1024, 742, 352, 131}, {1024, 779, 352, 149}, {320, 480, 0, 0}, {300, 470, -10, -5}, {301, 471, -9, -4},
  };
  for (const PlacementCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.cx) + "x" + std::to_string(c.cy));
    NextCase();
    fake.screenWidth = c.cx;
    fake.screenHeight = c.cy;
    ShowProgressWindow();
    EXPECT_EQ(c.x, fake.placedX);
    EXPECT_EQ(c.y, fake.placedY);
  }
}

TEST_F(UpgradeTest, ProgressWindowShownWithCancelDisabled) {
  fake.topWindows[L"Orvessa"] = FakeWindow(0x43);
  ShowProgressWindow();
  EXPECT_LT(fake.IndexOf("RegisterProgressBarClass"), fake.IndexOf("CreateDialog 129"));
  EXPECT_EQ(fake.dialog, gRunState.progressWindow);
  EXPECT_EQ(FakeWindow(0x43), fake.dialogOwner);
  EXPECT_TRUE(fake.shown.count(fake.dialog));
  EXPECT_TRUE(fake.disabled.count(platform::DialogItem(fake.dialog, kCancelId)));

  // Only WM_COMMAND with wParam exactly 2 cancels; every message answers FALSE.
  EXPECT_EQ(0, fake.handler(fake.dialog, platform::kWmCommand, 0x10002, 0));
  EXPECT_EQ(0, fake.handler(fake.dialog, 0x0110, 2, 0));
  EXPECT_EQ(0, gRunState.cancelled);
  EXPECT_EQ(0, fake.handler(fake.dialog, platform::kWmCommand, 2, 0));
  EXPECT_EQ(1, gRunState.cancelled);
  EXPECT_EQ(nullptr, gRunState.progressWindow);
  EXPECT_TRUE(fake.destroyed.count(fake.dialog));
}

TEST_F(UpgradeTest, ProgressWindowThatCannotBeCreated) {
  fake.dialogCreates = false;
  fake.ServeDownload(kSetupUrl, kExe);
  EXPECT_TRUE(DownloadInstaller(failure, sizeof failure));
  EXPECT_FALSE(fake.Called("PlaceTopMost"));
  EXPECT_FALSE(fake.Called("DestroyWindow"));
}

struct ProgressCase {
  unsigned long progress, max;
};

TEST_F(UpgradeTest, ProgressDrivesTheBar) {
  const std::string large = kExe + std::string(3000000 - kExe.size(), 'x');
  fake.ServeDownload(kSetupUrl, large);
  fake.downloads[kSetupUrl].progress = {{0, 0}, {1000, 3000000}, {3000000, 3000000}};
  EXPECT_TRUE(DownloadInstaller(failure, sizeof failure));
  EXPECT_EQ(3000000ul, fake.barMax);
  EXPECT_EQ(3000000ul, fake.barPos);
  EXPECT_EQ(4, fake.barRepaints);  // the start of the data too

  // After a cancel the bar is gone and nothing changes.
  NextCase();
  fake.ServeDownload(kSetupUrl, large);
  fake.downloads[kSetupUrl].progress = {{1000, 3000000}, {3000000, 3000000}};
  fake.duringDownload = [](const std::string&) { gFake->handler(gFake->dialog, platform::kWmCommand, 2, 0); };
  DownloadInstaller(failure, sizeof failure);
  EXPECT_EQ(1000ul, fake.barPos);
  EXPECT_EQ(2, fake.barRepaints);
}

struct DownloadCase {
  const char* name;
  std::function<void(FakePlatform&)> serve;
  int arrived;
  const char* failure;  // the report's token
};

TEST_F(UpgradeTest, InstallerMustArriveWholeAndRunnable) {
  const DownloadCase cases[] = {
      {"whole executable", [](FakePlatform& f) { f.ServeDownload(kSetupUrl, kExe); }, 1, ""},
      {"no size announced", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, kExe);
         f.downloads[kSetupUrl].progress = {{0, 0}};
       }, 1, ""},
      {"unreachable", [](FakePlatform&) {}, 0, "cut"},
      {"404 page saved with success", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, "<html>404</html>");
         f.downloads[kSetupUrl].httpStatus = 404;
       }, 0, "http-404"},
      {"cut short", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, kExe);
         f.downloads[kSetupUrl].progress = {{0, 3000000}, {kExe.size(), 3000000}};
       }, 0, "cut"},
      {"failure code with a file", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, kExe);
         f.downloads[kSetupUrl].result = static_cast<long>(0x800C0008L);
       }, 0, "cut"},
      {"one byte", [](FakePlatform& f) { f.ServeDownload(kSetupUrl, "M"); }, 0, "http-200"},
      {"stalled past the limit", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, kExe);
         f.downloads[kSetupUrl].stallMs = kStallLimitMs;
       }, 0, "stalled"},
      {"quiet, but not for long enough", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, kExe);
         f.downloads[kSetupUrl].stallMs = kStallLimitMs - 1;
       }, 1, ""},
  };
  for (const DownloadCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    c.serve(fake);
    EXPECT_EQ(c.arrived == 1, static_cast<bool>(DownloadInstaller(failure, sizeof failure)));
    EXPECT_STREQ(c.failure, failure);
    EXPECT_EQ(c.arrived == 1, fake.files.count(kInstaller) == 1);  // no partial file left
    EXPECT_EQ(nullptr, gRunState.progressWindow);
    EXPECT_TRUE(fake.destroyed.count(fake.dialog));
    EXPECT_EQ(L"正在下载安装程序...", fake.texts[FakeWindow(0x1000 + kStatusLineId)]);
    // The watch ends before the binding is let go; an abandoned transfer leaves no cached copy.
    if (fake.Called("HoldBinding")) {
      EXPECT_LT(fake.IndexOf("JoinThread"), fake.IndexOf("ReleaseBinding"));
    }
    EXPECT_EQ(fake.Called("Download"), fake.Called(std::string("DeleteCacheEntry ") + kSetupUrl));
  }
}

TEST_F(UpgradeTest, WatchdogVerdicts) {
  struct VerdictCase {
    const char* name;
    unsigned long now, lastGain;
    int abandoned, abortable;
    WatchVerdict verdict;
  };
  const VerdictCase cases[] = {
      {"receiving", 70000, 69000, 0, 1, kKeepWaiting},
      {"below the floor, within the limit", 70000, 70000 - kStallLimitMs + 1, 0, 1, kKeepWaiting},
      {"below the floor for the limit", 70000, 70000 - kStallLimitMs, 0, 1, kExpire},
      {"stalled before any report", 70000, 70000 - kStallLimitMs, 0, 0, kEndNow},
      {"stalled across the tick wrap", 100, 0xFFFFFFFFul - kStallLimitMs + 101, 0, 1, kExpire},
      {"a report landed after the clock was read", 70000, 70016, 0, 1, kKeepWaiting},
      {"a first report landed after the clock was read", 70000, 70016, 0, 0, kKeepWaiting},
      {"given up by its observer", 70000, 69990, 1, 1, kExpire},
  };
  for (const VerdictCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.verdict, JudgeTransfer(c.now, c.lastGain, c.abandoned, c.abortable));
  }
}

TEST_F(UpgradeTest, DownloadsGiveUpAtTheirBounds) {
  const unsigned long kCeiling = 4 * 1024 * 1024;
  struct BoundCase {
    const char* name;
    std::vector<std::pair<unsigned long, unsigned long>> reports;  // (progress, max)
    long long freeBytes;
    Abandoned abandoned;
  };
  const BoundCase cases[] = {
      {"within every bound", {{0, 0}, {4096, kCeiling}, {kCeiling, kCeiling}}, 1ll << 40, kNotAbandoned},
      {"announced above the ceiling", {{0, 0}, {0, kCeiling + 1}}, 1ll << 40, kTooBig},
      {"no length, grows past the ceiling", {{4096, 0}, {kCeiling + 1, 0}}, 1ll << 40, kTooBig},
      {"grows past its announced length", {{1000, 2000}, {2001, 2000}}, 1ll << 40, kPastAnnounced},
      {"no room for length and reserve", {{0, 0}, {0, 1000000}}, 1000000 + kDiskReserveBytes - 1, kNoRoom},
      {"just room for length and reserve", {{0, 0}, {1000000, 1000000}}, 1000000 + kDiskReserveBytes, kNotAbandoned},
      {"room unknown", {{0, 0}, {1000000, 1000000}}, -1, kNotAbandoned},
  };
  for (const BoundCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    fake.freeBytes = c.freeBytes;
    DownLoadDelegate delegate(nullptr, kCeiling, "C:\\Temp\\kelvaport\\");
    int last = 1;
    for (auto& report : c.reports) last = delegate.OnReport(report.first, report.second, 5, nullptr);
    EXPECT_EQ(c.abandoned, delegate.abandoned);
    EXPECT_EQ(c.abandoned == kNotAbandoned ? 1 : 0, last);
    EXPECT_GE(1, std::count(fake.calls.begin(), fake.calls.end(), "FreeDiskBytes C:\\Temp\\kelvaport\\"));
  }
}

TEST_F(UpgradeTest, HandOverClosesHostWaitsForItsEndThenStarts) {
  struct HandOverCase {
    const char* name;
    bool processOpens;
    unsigned long exitMs;
    std::vector<std::string> calls;
  };
  const std::string start = std::string("OpenWithShell ") + kInstaller;
  const HandOverCase cases[] = {
      {"quick host: at least the pause", true, 200,
       {"FindTopWindow Orvessa", "OpenWindowProcess", "SendClose 10000", "WaitProcessEnd 15000", "CloseProcess",
        "Pause 800", start}},
      {"slow host: its end", true, 3000,
       {"FindTopWindow Orvessa", "OpenWindowProcess", "SendClose 10000", "WaitProcessEnd 15000", "CloseProcess",
        start}},
      {"host that never ends: the bound", true, 0xFFFFFFFFul,
       {"FindTopWindow Orvessa", "OpenWindowProcess", "SendClose 10000", "WaitProcessEnd 15000", "CloseProcess",
        start}},
      {"process out of reach: the pause", false, 0,
       {"FindTopWindow Orvessa", "OpenWindowProcess", "SendClose 10000", "Pause 1000", start}},
  };
  for (const HandOverCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    UseDefaultPaths();
    fake.topWindows[L"Orvessa"] = FakeWindow(0x43);
    fake.hostProcess = c.processOpens;
    fake.hostExitMs = c.exitMs;
    fake.files[kInstaller] = kExe;
    platform::File held = platform::OpenForReading(kInstaller);
    fake.calls.clear();
    HandOverToInstaller();
    EXPECT_EQ(c.calls, fake.calls);
  }
}

TEST_F(UpgradeTest, AnInstallerThatDoesNotStartGivesTheHostBack) {
  const std::string host = "C:\\App\\Orvessa.exe";
  struct StartCase {
    const char* name;
    int answer;
    unsigned error;
    bool hostRunning, hostEnds;
    bool restarted;
    const char* logged;
  };
  const StartCase cases[] = {
      {"started", 42, 0, true, true, false, "hand-over: ShellExecute 42"},
      {"not runnable here", 11, 193, true, true, true, "ShellExecute 11, error 193 (not a program this Windows"},
      {"elevation declined", 5, 1223, true, true, true, "ShellExecute 5, error 1223 (the user declined the elevation)"},
      {"access denied", 5, 5, true, true, true, "ShellExecute 5, error 5 (access denied)"},
      {"no host was running", 11, 193, false, false, false, "setup.exe did not start: ShellExecute 11"},
      {"host still running", 2, 2, true, false, false, "host still running after 15000 ms"},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    UseDefaultPaths();
    StartRunLog();
    if (c.hostRunning) fake.topWindows[L"Orvessa"] = FakeWindow(0x43);
    fake.hostExitMs = c.hostEnds ? 100 : 0xFFFFFFFFul;
    fake.files[kInstaller] = kExe;
    fake.shellResults[kInstaller] = {c.answer, c.error};
    HandOverToInstaller();
    FlushRunLog();
    EXPECT_EQ(c.restarted, fake.Called("OpenWithShell " + host + " (not held) in C:\\App\\"));
    EXPECT_EQ(c.restarted ? 2u : 1u, fake.shellOpened.size());
    EXPECT_NE(std::string::npos, fake.files["C:\\Temp\\kelvaport\\update.log"].find(c.logged));
    EXPECT_EQ(1u, fake.files.count(kInstaller));  // left for the next run to remove
  }
}

TEST_F(UpgradeTest, HandOverWithoutHostStartsAtOnce) {
  fake.files[kInstaller] = kExe;
  platform::File held = platform::OpenForReading(kInstaller);
  HandOverToInstaller();
  EXPECT_FALSE(fake.Called("SendClose"));
  EXPECT_TRUE(fake.pauses.empty());
  EXPECT_EQ(std::vector<std::string>({kInstaller}), fake.shellOpened);
}

}  // namespace
