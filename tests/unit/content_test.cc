#include <string>

#include "content/content.h"
#include "download/download.h"
#include "download/watchdog.h"
#include "updater_test.h"

namespace {

const char kContent[] = "C:\\Temp\\kelvaport\\mnMain.swf";
const char kPart[] = "C:\\Temp\\kelvaport\\mnMain.swf.part";
const char kSwfUrl[] = "http://h/m.swf";
const std::string kNewSwf = std::string("CWS\x0a", 4) + "new movie";

class ContentTest : public UpdaterTest {
 protected:
  void SetUp() override {
    UpdaterTest::SetUp();
    UseDefaultPaths();
    strcpy(gManifest.contentUrl, kSwfUrl);
    strcpy(gManifest.contentDate, "2013-01-05|10:00:00");
  }
  void StoreStamp(const std::string& stamp) {
    fake.values["swfUpdateTime"] = {platform::kRegSz, stamp + std::string(1, '\0')};
  }
};

struct DecisionCase {
  const char* name;
  std::function<void(FakePlatform&)> arrange;
  int due;
  bool touchesFiles;
};

TEST_F(ContentTest, DecidesWhenARefreshIsDue) {
  auto present = [](FakePlatform& f) { f.files[kContent] = "FWSold"; };
  auto stamp = [](const std::string& text) {
    return [text](FakePlatform& f) {
      f.files[kContent] = "FWSold";
      f.values["swfUpdateTime"] = {platform::kRegSz, text + std::string(1, '\0')};
    };
  };
  const DecisionCase cases[] = {
      {"no url", [](FakePlatform&) { gManifest.contentUrl[0] = '\0'; }, 0, false},
      {"no date", [](FakePlatform&) { gManifest.contentDate[0] = '\0'; }, 0, false},
      {"file missing", [](FakePlatform& f) { f.values["swfUpdateTime"] = {platform::kRegSz, std::string("9999\0", 5)}; },
       1, true},
      {"file locked", [](FakePlatform& f) { f.files[kContent] = "x"; f.locked.insert(kContent); }, 1, true},
      {"key unavailable", [&](FakePlatform& f) { present(f); f.keyAvailable = false; }, 1, true},
      {"stored stamp older", stamp("2013-01-04|09:00:00"), 1, true},
      {"stored stamp equal", stamp("2013-01-05|10:00:00"), 0, true},
      {"stored stamp newer", stamp("2013-01-05|10:00:01"), 0, true},
      {"stored stamp missing", present, 1, true},
      {"stored stamp of the wrong type",
       [](FakePlatform& f) {
         f.files[kContent] = "FWSold";
         f.values["swfUpdateTime"] = {platform::kRegDword, std::string("\x01\x00\x00\x00", 4)};
       },
       1, true},
      {"stored stamp without terminator",
       [](FakePlatform& f) {
         f.files[kContent] = "FWSold";
         f.values["swfUpdateTime"] = {platform::kRegSz, "2099-01-01|00:00:00"};
       },
       1, true},
      {"stored stamp filling the buffer without terminator",
       [](FakePlatform& f) {
         f.files[kContent] = "FWSold";
         f.values["swfUpdateTime"] = {platform::kRegSz, std::string(260, '9')};
       },
       1, true},
      {"stored stamp longer than the buffer",
       [](FakePlatform& f) {
         f.files[kContent] = "FWSold";
         f.values["swfUpdateTime"] = {platform::kRegSz, std::string(400, '9') + std::string(1, '\0')};
       },
       1, true},
      {"stored stamp of exactly the buffer", stamp(std::string(259, '9')), 0, true},
  };
  for (const DecisionCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    c.arrange(fake);
    EXPECT_EQ(c.due, NeedsContentRefresh());
    EXPECT_EQ(c.touchesFiles, fake.Called("OpenForReading"));
    if (!c.touchesFiles) {
      EXPECT_FALSE(fake.Called("OpenKey"));
    }
    // Every file and key opened is closed again.
    EXPECT_EQ(fake.Called("OpenForReading") && fake.files.count(kContent) && !fake.locked.count(kContent),
              fake.Called("CloseFile"));
  }
}

TEST_F(ContentTest, DownloadsBesideThenReplacesThenRecords) {
  fake.files[kContent] = "FWSold";
  StoreStamp("2013-01-04|09:00:00");
  fake.ServeDownload(kSwfUrl, kNewSwf);
  fake.now = {2026, 3, 7, 8, 5, 9};
  RefreshContentIfNeeded();
  EXPECT_EQ(kNewSwf, fake.files[kContent]);
  EXPECT_EQ(0u, fake.files.count(kPart));
  int download = fake.IndexOf(std::string("OpenForWriting ") + kPart);
  int replace = fake.IndexOf("MoveReplacing");
  int record = fake.IndexOf("SetDword swfUpdate=1");
  ASSERT_GE(download, 0);
  EXPECT_LT(download, replace);
  EXPECT_LT(replace, record);
  EXPECT_TRUE(fake.Called("SetString swfUpdateTime=2026-03-07|08:05:09"));
  EXPECT_EQ(std::string("2026-03-07|08:05:09\0", 20), fake.values["swfUpdateTime"].data);
}

struct FailureCase {
  const char* name;
  std::function<void(FakePlatform&)> arrange;
};

TEST_F(ContentTest, FailedDownloadKeepsOldContentAndWritesNoRecord) {
  const FailureCase cases[] = {
      {"unreachable", [](FakePlatform&) {}},
      {"error page saved as the file",
       [](FakePlatform& f) { f.ServeDownload(kSwfUrl, "<html>404 Not Found</html>"); }},
      {"answers 404",
       [](FakePlatform& f) {
         f.ServeDownload(kSwfUrl, kNewSwf);
         f.downloads[kSwfUrl].status = 404;
       }},
      {"cut short of the announced size",
       [](FakePlatform& f) {
         f.ServeDownload(kSwfUrl, kNewSwf);
         f.downloads[kSwfUrl].cuts = {4};
       }},
      {"empty file", [](FakePlatform& f) { f.ServeDownload(kSwfUrl, ""); }},
      {"redirected off the web",
       [](FakePlatform& f) {
         f.ServeDownload(kSwfUrl, kNewSwf);
         f.downloads[kSwfUrl].redirectedTo = "file:///C:/Users/secret.swf";
       }},
      {"redirected to plain http in an https-only build",
       [](FakePlatform& f) {
         gHttpsOnly = 1;
         f.ServeDownload(kSwfUrl, kNewSwf);
         f.downloads[kSwfUrl].redirectedTo = "http://h/mnMain.swf";
       }},
      {"an address that cannot be read, in an https-only build",
       [](FakePlatform& f) {
         gHttpsOnly = 1;
         f.ServeDownload(kSwfUrl, kNewSwf);
         f.downloads[kSwfUrl].redirectedTo = "!";
       }},
      {"stalled",
       [](FakePlatform& f) {
         f.ServeDownload(kSwfUrl, kNewSwf + std::string(20000, '\0'));
         f.downloads[kSwfUrl].piece = 1000;
         f.downloads[kSwfUrl].stallMs = kStallLimitMs;
       }},
      {"trickles",
       [](FakePlatform& f) {
         f.ServeDownload(kSwfUrl, kNewSwf + std::string(20000, '\0'));
         f.downloads[kSwfUrl].piece = 100;
         f.downloads[kSwfUrl].msPerRead = 20000;
       }},
      {"no length, past the ceiling",
       [](FakePlatform& f) {
         f.ServeDownload(kSwfUrl, kNewSwf + std::string(kMaxContentBytes, '\0'));
         f.downloads[kSwfUrl].haveLength = false;
       }},
      {"no length, the volume fills",
       [](FakePlatform& f) {
         f.ServeDownload(kSwfUrl, kNewSwf + std::string(3 << 20, '\0'));
         f.downloads[kSwfUrl].haveLength = false;
         f.duringDownload = [&f](const std::string&) { f.freeBytes = 1024; };
       }},
      {"no room on the volume",
       [](FakePlatform& f) {
         f.ServeDownload(kSwfUrl, kNewSwf);
         f.freeBytes = 1024;
       }},
      {"old file cannot be replaced",
       [](FakePlatform& f) {
         f.ServeDownload(kSwfUrl, kNewSwf);
         f.locked.insert(kContent);
       }},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    fake.files[kContent] = "FWSold";
    StoreStamp("2013-01-04|09:00:00");
    c.arrange(fake);
    RefreshContentIfNeeded();
    EXPECT_EQ("FWSold", fake.files[kContent]);
    EXPECT_EQ(0u, fake.files.count(kPart));
    EXPECT_FALSE(fake.Called("SetDword"));
    EXPECT_FALSE(fake.Called("SetString"));
  }
}

TEST_F(ContentTest, NoKeyMeansRefreshWithoutRecord) {
  fake.keyAvailable = false;
  fake.ServeDownload(kSwfUrl, kNewSwf);
  RefreshContentIfNeeded();
  EXPECT_EQ(kNewSwf, fake.files[kContent]);
  EXPECT_FALSE(fake.Called("SetDword"));
}

}  // namespace
