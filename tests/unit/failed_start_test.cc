// An installer that did not start: its version waits a while, and then the
// installer kept from that start is used again, without a download.
#include <algorithm>
#include <string>

#include "offer/offer.h"
#include "updater_test.h"

namespace {

using FailedStartTest = UpdaterTest;

const std::string kExe = "MZ\x90\x00 installer";

TEST_F(FailedStartTest, ThatVersionWaits) {
  struct Row {
    const char* name;
    const char* failed;  // the version whose start failed
    long long ago;       // seconds
    int offered;
  };
  const Row rows[] = {
      {"no failed start", "", 0, 1},
      {"this version, a minute ago", "1.1.0.12182", 60, 0},
      {"this version, just under the hour", "1.1.0.12182", 3599, 0},
      {"this version, an hour ago", "1.1.0.12182", 3600, 1},
      {"another version, a minute ago", "1.1.0.12180", 60, 1},
      {"the clock was set back since", "1.1.0.12182", -60, 1},
  };
  const BuildPolicy policy = {0, 0, "Orvessa", 3600000};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ClientFacts client = {};
    strcpy(client.installed, "1.1.0.12181");
    strcpy(client.startFailedVersion, r.failed);
    client.startFailedAgo = r.ago;
    UpdateDecision d = DecideUpdate(ReadManifest("<version>1.1.0.12182</version><flag>force</flag><url>http://h/s.exe</url>"),
                                    client, policy);
    EXPECT_EQ(r.offered, d.offer.yes);
    EXPECT_STREQ(r.offered ? nullptr : "failed start", d.offer.rule);
  }
}

// A run after the installer did not start: the same version is not offered
// for a while; after that, the installer kept from the failed start is used
// again, without a download.
TEST_F(FailedStartTest, IsNoLoop) {
  const char kSetup[] = "C:\\Temp\\kelvaport\\setup.exe";
  fake.files["C:\\App\\Orvessa.exe"] = "MZ";
  fake.InstalledVersion(1, 1, 0, 12181);
  fake.ServeDownload("http://h/setup.exe", kExe);
  fake.shellResults[kSetup] = {5, platform::kErrorCancelled};  // the elevation prompt was declined
  struct Run {
    const char* name;
    int minutesLater;
    bool prompted, downloaded;
  };
  const Run runs[] = {{"the failed start", 0, true, true},
                      {"within the hour", 59, false, false},
                      {"after the hour", 61, true, false}};
  for (const Run& r : runs) {
    SCOPED_TRACE(r.name);
    SetUp();
    fake.calls.clear();
    fake.shellOpened.clear();
    fake.utcNow = {2013, 1, 5, 1 + r.minutesLater / 60, 7 + r.minutesLater % 60, 3};
    fake.ServeManifest("<version>1.1.0.12182</version><flag>0</flag><url>http://h/setup.exe</url>");
    if (r.minutesLater > 60) fake.shellResults.clear();  // this time the user lets it start
    EXPECT_EQ(1, RunUpdate(nullptr));
    EXPECT_EQ(r.prompted, fake.Called("MessageBox"));
    EXPECT_EQ(r.downloaded, fake.Called("Download http://h/setup.exe"));
    EXPECT_EQ(r.prompted, std::count(fake.shellOpened.begin(), fake.shellOpened.end(), kSetup) == 1);
    EXPECT_EQ("1.1.0.12182|2013-01-05T01:07:03Z",
              std::string(fake.values["updateStartFailed"].data.c_str()));  // kept from the first run
    EXPECT_EQ(r.minutesLater < 60, fake.files.count("C:\\Temp\\kelvaport\\setup.exe.verified") == 1);
  }
  EXPECT_EQ(kExe, fake.files[kSetup]);
  EXPECT_NE(std::string::npos, fake.files["C:\\Temp\\kelvaport\\update.log"].find(
                                   "did not start 3540 s ago; offered again in 60 s (failed start)"));
}

}  // namespace
