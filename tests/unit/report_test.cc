// Outcome reports: what a report says, and which runs send one.
#include <string>

#include "report/report.h"
#include "updater_test.h"

namespace {

using ReportTest = UpdaterTest;

TEST_F(ReportTest, ValuesArePercentEncodedAndBounded) {
  Report r = {"declined", "1.1.0.12181", "", "", -1};
  strcpy(r.to, "1&2=3%4 5#6\xe4\r\n");
  char query[256];
  ASSERT_EQ(1, ReportQuery(r, query, sizeof query));
  EXPECT_STREQ("e=declined&from=1.1.0.12181&to=1%262%3D3%254%205%236%E4%0D%0A&code=", query);
  r.tenth = 7;
  strcpy(r.code, "http-404");
  strcpy(r.to, "a-b._~Z9");
  ASSERT_EQ(1, ReportQuery(r, query, sizeof query));
  EXPECT_STREQ("e=declined&from=1.1.0.12181&to=a-b._~Z9&code=http-404&tenth=7", query);
  EXPECT_EQ(0, ReportQuery(r, query, 40));  // never cut
  EXPECT_STREQ("", query);
  char pair[64];
  strcpy(r.to, "1 declined");  // an encoded version holds no space: no two pairs read alike
  ReportedPair(r, pair, sizeof pair);
  EXPECT_STREQ("1%20declined declined", pair);
}

// Whole runs, from the manifest to the registry: which report each sends.
TEST_F(ReportTest, WhichRunsReport) {
  const std::string kExe = "MZ\x90 installer", setup = "C:\\Temp\\kelvaport\\setup.exe";
  struct Case {
    const char* name;
    std::string tag;  // <report>
    std::function<void(FakePlatform&)> arrange;
    std::vector<std::string> sent;  // each report's query
    const char* startedAfter;       // updateStarted after the run; nullptr: never written
  };
  auto text = [](const char* value) { return FakeRegValue{platform::kRegSz, std::string(value) + '\0'}; };
  const std::string declined = "e=declined&from=1.1.0.12181&to=1.1.0.12182&code=";
  const Case cases[] = {
      {"off without the tag", "", [](FakePlatform& f) { f.boxAnswer = 7; }, {}, nullptr},
      {"off for any value but 1", "<report>yes</report>", [](FakePlatform& f) { f.boxAnswer = 7; }, {}, nullptr},
      {"declined", "<report>1</report>", [](FakePlatform& f) { f.boxAnswer = 7; }, {declined}, nullptr},
      {"declined again: not twice in a row", "<report>1</report>",
       [&](FakePlatform& f) {
         f.boxAnswer = 7;
         f.values["updateReported"] = text("1.1.0.12182 declined");
       }, {}, nullptr},
      {"opted out", "<report>1</report>",
       [](FakePlatform& f) {
         f.boxAnswer = 7;
         f.values["updateReport"] = {platform::kRegDword, std::string(4, '\0')};
       }, {}, nullptr},
      {"with a seed: its tenth", "<report>1</report>",
       [](FakePlatform& f) {
         f.boxAnswer = 7;
         f.values["updateSeed"] = {platform::kRegDword, std::string("\x04\x03\x02\x01", 4)};  // bucket 13
       }, {declined + "&tenth=1"}, nullptr},
      {"started: nothing reported, the version kept", "<report>1</report>", [](FakePlatform&) {}, {}, "1.1.0.12182"},
      {"a start that failed", "<report>1</report>",
       [&](FakePlatform& f) { f.shellResults[setup] = {5, 1223}; },
       {"e=start-failed&from=1.1.0.12181&to=1.1.0.12182&code=1223"}, ""},
      {"an installer that did not arrive", "<report>1</report>",
       [](FakePlatform& f) {
         f.ServeDownload("http://h/setup.exe", "<html>404</html>");
         f.downloads["http://h/setup.exe"].status = 404;
       }, {"e=failed&from=1.1.0.12181&to=1.1.0.12182&code=http-404"}, nullptr},
      {"started before, now installed: updated", "<report>1</report>",
       [&](FakePlatform& f) {
         f.InstalledVersion(1, 1, 0, 12182);
         f.values["updateStarted"] = text("1.1.0.12182");
       }, {"e=updated&from=1.1.0.12182&to=1.1.0.12182&code="}, ""},
      {"started before, still older: not applied", "<report>1</report>",
       [&](FakePlatform& f) {
         f.boxAnswer = 7;
         f.values["updateStarted"] = text("1.1.0.12182");
       }, {"e=not-applied&from=1.1.0.12181&to=1.1.0.12182&code=", declined}, ""},
      {"started before, reports off: forgotten", "",
       [&](FakePlatform& f) {
         f.InstalledVersion(1, 1, 0, 12182);
         f.values["updateStarted"] = text("1.1.0.12182");
       }, {}, ""},
      {"no answer: tried again next run", "<report>1</report>",
       [&](FakePlatform& f) {
         f.InstalledVersion(1, 1, 0, 12182);
         f.values["updateStarted"] = text("1.1.0.12182");
         f.reportAnswers = false;
       }, {"e=updated&from=1.1.0.12182&to=1.1.0.12182&code="}, "1.1.0.12182"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    Installed12181();
    fake.ServeManifest("<version>1.1.0.12182</version><flag>0</flag><url>http://h/setup.exe</url>" + c.tag);
    fake.ServeDownload("http://h/setup.exe", kExe);
    c.arrange(fake);
    RunUpdate(nullptr);
    EXPECT_EQ(c.sent, fake.reports);
    if (!c.startedAfter) {
      EXPECT_EQ(0u, fake.values.count("updateStarted"));
    } else {
      EXPECT_EQ(text(c.startedAfter).data, fake.values["updateStarted"].data);
    }
    // What was answered is kept, so that it is not sent again.
    if (!c.sent.empty() && fake.reportAnswers) {
      EXPECT_EQ(1u, fake.values.count("updateReported"));
    }
    if (fake.Called("OpenWithShell " + setup) && fake.shellResults.empty()) {
      EXPECT_LT(fake.IndexOf("SetString updateStarted"), fake.IndexOf("OpenWithShell " + setup));
    }
  }
}

}  // namespace

namespace {

// A genuine signed feed past its expiry may still say so, once; a forged one
// (no trusted signature) can turn nothing on.
TEST_F(ReportTest, ExpiredGenuineFeedIsReported) {
  const std::string pin(64, 'a'), key(32, '\xaa');
  const std::string body = "<version>1.1.0.12182</version><flag>0</flag><url>http://h/setup.exe</url><report>1"
                           "</report><product>Orvessa</product><serial>5</serial><expires>2013-01-01T00:00:00Z"
                           "</expires>";
  for (bool genuine : {true, false}) {
    SCOPED_TRACE(genuine ? "genuine" : "forged");
    NextCase();
    Installed12181();
    gSignedManifest = 1;
    gSignerPins = pin.c_str();
    fake.ServeManifest(body);
    fake.signature = genuine ? "SIG:" + body : "SIG:other";
    fake.signatureKey = key;
    RunUpdate(nullptr);
    EXPECT_FALSE(fake.Called("MessageBox"));
    EXPECT_EQ(genuine ? std::vector<std::string>{"e=expired&from=1.1.0.12181&to=1.1.0.12182&code="}
                      : std::vector<std::string>{},
              fake.reports);
  }
}

}  // namespace
