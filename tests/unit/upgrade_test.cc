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
  EXPECT_TRUE(ObtainInstaller(failure, sizeof failure));
  EXPECT_FALSE(fake.Called("PlaceTopMost"));
  EXPECT_FALSE(fake.Called("DestroyWindow"));
}

struct ProgressCase {
  unsigned long progress, max;
};

TEST_F(UpgradeTest, ProgressDrivesTheBar) {
  const std::string large = kExe + std::string(3000000 - kExe.size(), 'x');
  fake.ServeDownload(kSetupUrl, large);
  EXPECT_TRUE(ObtainInstaller(failure, sizeof failure));
  EXPECT_EQ(3000000ul, fake.barMax);
  EXPECT_EQ(3000000ul, fake.barPos);

  // After a cancel the bar is gone and nothing changes.
  NextCase();
  fake.ServeDownload(kSetupUrl, large);
  fake.duringDownload = [](const std::string&) { gFake->handler(gFake->dialog, platform::kWmCommand, 2, 0); };
  ObtainInstaller(failure, sizeof failure);
  EXPECT_EQ(0ul, fake.barPos);  // where it stood when the window went
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
         f.downloads[kSetupUrl].haveLength = false;
       }, 1, ""},
      {"unreachable", [](FakePlatform&) {}, 0, "cut"},
      {"404", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, "<html>404</html>");
         f.downloads[kSetupUrl].status = 404;
       }, 0, "http-404"},
      {"cut short, no validator", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, kExe + "0123456789");
         f.downloads[kSetupUrl].cuts = {5};
       }, 0, "cut"},
      {"one byte", [](FakePlatform& f) { f.ServeDownload(kSetupUrl, "M"); }, 0, "http-200"},
      {"stalled past the limit", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, kExe + "0123456789");
         f.downloads[kSetupUrl].piece = 4;
         f.downloads[kSetupUrl].stallMs = kStallLimitMs;
       }, 0, "too-slow"},
      {"quiet, but not for long enough", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, kExe + "0123456789");
         f.downloads[kSetupUrl].piece = 4;
         f.downloads[kSetupUrl].stallMs = kStallLimitMs - 1;
       }, 1, ""},
      {"https-only: where the data comes from cannot be read", [](FakePlatform& f) {
         gHttpsOnly = 1;
         f.ServeDownload(kSetupUrl, kExe);
         f.downloads[kSetupUrl].redirectedTo = "!";
       }, 0, "redirect"},
      {"setup.exe cannot be replaced", [](FakePlatform& f) {
         f.ServeDownload(kSetupUrl, kExe);
         f.locked.insert(kInstaller);
       }, 0, "cut"},
  };
  for (const DownloadCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    c.serve(fake);
    EXPECT_EQ(c.arrived == 1, static_cast<bool>(ObtainInstaller(failure, sizeof failure)));
    EXPECT_STREQ(c.failure, failure);
    EXPECT_EQ(c.arrived == 1, fake.files.count(kInstaller) == 1 && !fake.locked.count(kInstaller));
    EXPECT_EQ(0u, fake.files.count(kInstaller + std::string(".part")));  // nothing to resume: nothing kept
    EXPECT_EQ(nullptr, gRunState.progressWindow);
    EXPECT_TRUE(fake.destroyed.count(fake.dialog));
    EXPECT_EQ(L"正在下载安装程序...", fake.texts[FakeWindow(0x1000 + kStatusLineId)]);
    EXPECT_FALSE(fake.Called("StartThread") && !fake.Called("JoinThread"));  // the watch ended with the download
  }
}

TEST_F(UpgradeTest, WatchEndsOnlyACallPastItsOwnBound) {
  const unsigned long kBound = kStallLimitMs + kWatchGraceMs;
  EXPECT_EQ(kKeepWaiting, JudgeTransfer(70000 + kBound, 70000, 0));
  EXPECT_EQ(kKeepWaiting, JudgeTransfer(70000 + kBound - 1, 70000, 1));
  EXPECT_EQ(kExpire, JudgeTransfer(70000 + kBound, 70000, 1));
  EXPECT_EQ(kExpire, JudgeTransfer(kBound - 101, 0xFFFFFFFFul - 100, 1));  // across the tick's wrap
  EXPECT_EQ(kKeepWaiting, JudgeTransfer(70000, 70016, 1));  // a call that began after the clock was read
}

TEST_F(UpgradeTest, DownloadsGiveUpAtTheirBounds) {
  const unsigned long kCeiling = 4 * 1024 * 1024;
  struct BoundCase {
    const char* name;
    size_t size;
    bool haveLength;
    long long freeBytes;
    const char* failure;
  };
  const BoundCase cases[] = {
      {"within every bound", kCeiling, true, 1ll << 40, ""},
      {"announced above the ceiling", kCeiling + 1, true, 1ll << 40, "too-big"},
      {"no length, grows past the ceiling", kCeiling + 1, false, 1ll << 40, "too-big"},
      {"no room for length and reserve", 1000000, true, 1000000 + kDiskReserveBytes - 1, "no-room"},
      {"just room for length and reserve", 1000000, true, 1000000 + kDiskReserveBytes, ""},
      {"room unknown", 1000000, true, -1, ""},
  };
  for (const BoundCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    fake.freeBytes = c.freeBytes;
    fake.ServeDownload(kSetupUrl, "MZ" + std::string(c.size - 2, 'x'));
    fake.downloads[kSetupUrl].haveLength = c.haveLength;
    DownLoadDelegate delegate(nullptr, kCeiling, "C:\\Temp\\kelvaport\\");
    int whole = DownloadToPath(kSetupUrl, kInstaller, &delegate, nullptr, nullptr);
    EXPECT_EQ(c.failure[0] == '\0', whole == 1);
    EXPECT_STREQ(c.failure, delegate.failure);
    EXPECT_EQ(whole == 1, fake.files.count(kInstaller) == 1);
  }
  // A file on disk past the ceiling is refused, whatever the transfer counted.
  NextCase();
  fake.files[kInstaller] = "MZ" + std::string(kCeiling, 'x');
  DownLoadDelegate delegate(nullptr, kCeiling, nullptr);
  EXPECT_FALSE(HoldIfRecognized(kSetupUrl, kInstaller, &delegate, FileSignature{nullptr, 0, "a file"}));
  EXPECT_EQ(0u, fake.files.count(kInstaller));
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
