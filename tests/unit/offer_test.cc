// The offer decision: its table of rules, as Updater.exe and the publisher's
// tool both reach it, and the driver's part (the client's facts and seed).
#include <algorithm>
#include <functional>
#include <string>

#include "offer/offer.h"
#include "updater_test.h"

namespace {

using OfferTest = UpdaterTest;

UpdateManifest Manifest(const std::string& document, int signatureTrusted = 0) {
  UpdateManifest m = ReadManifest(document.c_str());
  m.signatureTrusted = signatureTrusted;
  return m;
}

ClientFacts Client(const char* installed) {
  ClientFacts client = {};
  strcpy(client.installed, installed);
  return client;
}

std::string Offer(const std::string& version, const std::string& url = "http://h/setup.exe") {
  return "<version>" + version + "</version><flag>0</flag><url>" + url + "</url>";
}

TEST_F(OfferTest, DecisionTable) {
  struct Row {
    const char* name;
    std::string document;
    int signatureTrusted;
    const char* installed;
    BuildPolicy policy;
    int believed, offered;
    const char* rule;  // the row that refused
    const char* note;  // what the log says on the way ("": nothing)
  };
  const BuildPolicy plain = {0, 0, "Orvessa", 0}, signedBuild = {1, 0, "Orvessa", 0}, httpsOnly = {0, 1, "Orvessa", 0};
  const std::string feed = "<product>Orvessa</product><serial>1</serial><expires>2030-01-01T00:00:00Z</expires>";
  const Row rows[] = {
      {"newer as text", Offer("1.1.0.12182"), 0, "1.1.0.12181", plain, 1, 1, nullptr, ""},
      {"text order, not number order", Offer("1.1.0.9"), 0, "1.1.0.12", plain, 1, 1, nullptr, ""},
      {"the same", Offer("1.1.0.5"), 0, "1.1.0.5", plain, 1, 0, "text order", "not newer than installed as text"},
      {"a trailing space sorts after", Offer("1.1.0.5 "), 0, "1.1.0.5", plain, 1, 1, nullptr, ""},
      {"number order is not text order", Offer("1.10.0.0"), 0, "1.9.0.0", plain, 1, 0, "text order", "as text"},
      {"bytes compare unsigned", Offer("\xff"), 0, "9.9.9.9", plain, 1, 1, nullptr, ""},
      {"installed version unknown", Offer("99"), 0, "", plain, 1, 0, "installed version", ""},
      {"no installer address", Offer("2", ""), 0, "1.1.0.12181", plain, 1, 0, "address present", ""},
      {"installer address off the web", Offer("2", "file:///C:/x.exe"), 0, "1.1.0.12181", plain, 1, 0, "address",
       "manifest: url refused: not a web address"},
      {"https only: an http address", Offer("2", "http://h/s.exe"), 0, "1.1.0.12181", httpsOnly, 1, 0, "address",
       "manifest: url refused: not an https address"},
      {"https only: an https address", Offer("2", "https://h/s.exe"), 0, "1.1.0.12181", httpsOnly, 1, 1, nullptr, ""},
      {"signed: no trusted signature", Offer("1.1.0.12182"), 0, "1.1.0.12181", signedBuild, 0, 0, "signature", ""},
      {"signed: newer as numbers", Offer("1.1.0.12182") + feed, 1, "1.1.0.12181", signedBuild, 1, 1, nullptr, ""},
      {"signed: newer as text only", Offer("1.1.0.9") + feed, 1, "1.1.0.12", signedBuild, 1, 0, "number order",
       "not newer as numbers"},
      {"signed: not four numbers", Offer("1.1.0.12182b") + feed, 1, "1.1.0.12181", signedBuild, 1, 0, "number order",
       "not four numbers"},
      {"rollout withheld", Offer("2") + "<rollout>5%</rollout>", 0, "1", plain, 1, 0, "rollout", "withheld"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ClientFacts client = Client(r.installed);
    strcpy(client.now, "2026-12-09T12:00:00Z");
    UpdateDecision d = DecideUpdate(Manifest(r.document, r.signatureTrusted), client, r.policy);
    EXPECT_EQ(r.believed, d.feed.yes);
    EXPECT_EQ(r.offered, d.offer.yes);
    EXPECT_STREQ(r.rule, r.believed ? d.offer.rule : d.feed.rule);
    std::string notes;
    for (int i = 0; i < d.noteCount; ++i) notes += d.notes[i];
    EXPECT_NE(std::string::npos, notes.find(r.note)) << notes;
    EXPECT_EQ(0, d.needsSeed);
    if (!r.believed) {
      EXPECT_STREQ("", d.manifest.version);  // nothing of it is used
    }
  }
}

// A signed feed is believed only for this product, with a serial that never
// falls and an expiry still ahead; builds without signed releases ignore all three.
TEST_F(OfferTest, SignedFeedHoldsItsGround) {
  const BuildPolicy signedBuild = {1, 0, "Orvessa", 0}, plain = {0, 0, "Orvessa", 0};
  auto tags = [](const std::string& product, const std::string& serial, const std::string& expires) {
    return (product.empty() ? "" : "<product>" + product + "</product>") +
           (serial.empty() ? "" : "<serial>" + serial + "</serial>") +
           (expires.empty() ? "" : "<expires>" + expires + "</expires>");
  };
  const std::string later = "2027-01-01T00:00:00Z", now = "2026-12-09T12:00:00Z";
  struct Row {
    const char* name;
    std::string tags;
    BuildPolicy policy;
    long stored;  // the highest serial accepted before; -1: none
    int believed;
    const char* rule;
    const char* reason;
  };
  const Row rows[] = {
      {"higher serial", tags("Orvessa", "10", later), signedBuild, 9, 1, nullptr, ""},
      {"equal serial: the same feed again", tags("Orvessa", "9", later), signedBuild, 9, 1, nullptr, ""},
      {"lower serial: replayed", tags("Orvessa", "8", later), signedBuild, 9, 0, "serial",
       "serial 8 is lower than 9"},
      {"no serial seen before", tags("Orvessa", "0", later), signedBuild, -1, 1, nullptr, ""},
      {"the largest serial", tags("Orvessa", "4294967295", later), signedBuild, 9, 1, nullptr, ""},
      {"serial missing", tags("Orvessa", "", later), signedBuild, -1, 0, "serial", "<serial> missing"},
      {"serial malformed", tags("Orvessa", "12a", later), signedBuild, -1, 0, "serial", "not a number"},
      {"serial out of range", tags("Orvessa", "4294967296", later), signedBuild, -1, 0, "serial", "not a number"},
      {"serial signed", tags("Orvessa", "+5", later), signedBuild, -1, 0, "serial", "not a number"},
      {"another product", tags("Orvessa-beta", "10", later), signedBuild, 9, 0, "product",
       "it is for product \"Orvessa-beta\", this build for \"Orvessa\""},
      {"no product", tags("", "10", later), signedBuild, 9, 0, "product", "names no product"},
      {"expired this second", tags("Orvessa", "10", now), signedBuild, 9, 0, "expiry",
       "expired at 2026-12-09T12:00:00Z, the clock says 2026-12-09T12:00:00Z"},
      {"expired long ago", tags("Orvessa", "10", "2020-01-01T00:00:00Z"), signedBuild, 9, 0, "expiry", "expired"},
      {"expiry malformed", tags("Orvessa", "10", "2027-01-01 00:00:00"), signedBuild, 9, 0, "expiry",
       "<expires> missing or not"},
      {"expiry month 13", tags("Orvessa", "10", "2027-13-01T00:00:00Z"), signedBuild, 9, 0, "expiry", "not"},
      {"unsigned build: none of them needed", tags("", "", ""), plain, -1, 1, nullptr, ""},
      {"unsigned build: a lower serial is no matter", tags("Other", "1", "2000-01-01T00:00:00Z"), plain, 9, 1,
       nullptr, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ClientFacts client = Client("1.1.0.12181");
    strcpy(client.now, now.c_str());
    client.haveSerial = r.stored >= 0;
    client.serial = r.stored >= 0 ? static_cast<unsigned long>(r.stored) : 0;
    UpdateDecision d = DecideUpdate(Manifest(Offer("1.1.0.12182") + r.tags, 1), client, r.policy);
    EXPECT_EQ(r.believed, d.feed.yes);
    EXPECT_STREQ(r.rule, d.feed.rule);
    EXPECT_NE(std::string::npos, std::string(d.feed.reason).find(r.reason)) << d.feed.reason;
    EXPECT_EQ(r.believed, d.offer.yes);
  }
}

// The seed is asked for only once every other row passed, and then decides.
TEST_F(OfferTest, RolloutAsksForTheSeedLast) {
  UpdateManifest m = Manifest(Offer("1.1.0.12182") + "<rollout>14</rollout>");
  const BuildPolicy plain = {0, 0, "Orvessa", 0};
  EXPECT_EQ(0, DecideUpdate(m, Client("1.1.0.12182"), plain).needsSeed);  // not newer: no seed
  ClientFacts client = Client("1.1.0.12181");
  UpdateDecision d = DecideUpdate(m, client, plain);
  EXPECT_EQ(1, d.needsSeed);
  EXPECT_EQ(0, d.offer.yes);
  client.seedAsked = client.haveSeed = 1;
  client.seed = 0x01020304;  // bucket 13
  EXPECT_EQ(1, DecideUpdate(m, client, plain).offer.yes);
  client.seed = 0;  // bucket 57
  EXPECT_EQ(0, DecideUpdate(m, client, plain).offer.yes);
}

TEST_F(OfferTest, NoVersionResourceOffersNothing) {
  UseDefaultPaths();
  char text[64] = "stale";
  EXPECT_EQ(0, FileVersionText(gWorkPaths.hostExePath, text, sizeof text));  // executable missing
  EXPECT_STREQ("", text);
  fake.files[gWorkPaths.hostExePath] = "MZ";
  EXPECT_EQ(0, FileVersionText(gWorkPaths.hostExePath, text, sizeof text));  // present, without version resource
  fake.InstalledVersion(1, 1, 0, 12181);
  EXPECT_EQ(1, FileVersionText(gWorkPaths.hostExePath, text, sizeof text));
  EXPECT_STREQ("1.1.0.12181", text);
}

TEST_F(OfferTest, RolloutBucketsAndTags) {
  // FNV-1a over the seed's bytes, least significant first, then the version text.
  struct BucketCase {
    unsigned long seed;
    const char* version;
    unsigned bucket;
  };
  const BucketCase buckets[] = {
      {0, "1.1.0.12182", 57},          {1, "1.1.0.12182", 38},       {0x01020304, "1.1.0.12182", 13},
      {0xFFFFFFFF, "1.1.0.12182", 85}, {0x01020304, "1.1.0.12183", 94}, {12345, "", 12},
      {0xDEADBEEF, "2.0.0.0", 89},
  };
  for (const BucketCase& c : buckets) {
    EXPECT_EQ(c.bucket, RolloutBucket(c.seed, c.version)) << c.seed << " " << c.version;
  }
  struct TagCase {
    const char* name;
    std::string tag;  // "": no tag at all
    int percent;
  };
  const TagCase tags[] = {
      {"missing", "", 100},          {"0", "<rollout>0</rollout>", 0},
      {"100", "<rollout>100</rollout>", 100}, {"101", "<rollout>101</rollout>", -1},
      {"10%", "<rollout>10%</rollout>", -1},  {"empty", "<rollout></rollout>", -1},
      {"leading space", "<rollout> 10</rollout>", -1}, {"sign", "<rollout>+10</rollout>", -1},
      {"four digits", "<rollout>0010</rollout>", -1},  {"leading zero", "<rollout>010</rollout>", 10},
  };
  for (const TagCase& c : tags) {
    SCOPED_TRACE(c.name);
    NextCase();
    UpdateManifest m = ReadManifest(("<version>1</version>" + c.tag).c_str());
    EXPECT_EQ(c.percent, RolloutPercent(m.rollout, m.foundRollout));
  }
}

TEST_F(OfferTest, RolloutSeedIsMadeOnceAndDecides) {
  const std::string offer = "<version>1.1.0.12182</version><flag>0</flag><url>http://h/setup.exe</url>";
  struct SeedCase {
    const char* name;
    std::string rollout;
    std::function<void(FakePlatform&)> arrange;
    int offered;
    bool seedRead;  // the registry was asked for the seed
    const char* logged;
  };
  const std::string dword1020304("\x04\x03\x02\x01", 4);  // bucket 13 for 1.1.0.12182
  const SeedCase cases[] = {
      {"no tag: nothing read or written", "", [](FakePlatform&) {}, 1, false, "decision: offered"},
      {"100: nothing read or written", "<rollout>100</rollout>", [](FakePlatform&) {}, 1, false, "offered"},
      {"stored seed inside the stage", "<rollout>14</rollout>",
       [&](FakePlatform& f) { f.values["updateSeed"] = {platform::kRegDword, dword1020304}; }, 1, true,
       "rollout 14 %, bucket 13: in this stage"},
      {"stored seed outside the stage", "<rollout>13</rollout>",
       [&](FakePlatform& f) { f.values["updateSeed"] = {platform::kRegDword, dword1020304}; }, 0, true,
       "rollout 13 %, bucket 13: not in this stage"},
      {"missing seed made", "<rollout>14</rollout>", [](FakePlatform&) {}, 1, true, "seed made"},
      {"seed of the wrong type made anew", "<rollout>14</rollout>",
       [](FakePlatform& f) { f.values["updateSeed"] = {platform::kRegSz, std::string("7\0", 2)}; }, 1, true,
       "bucket 13: in this stage"},
      {"seed cannot be written", "<rollout>99</rollout>", [](FakePlatform& f) { f.valuesWritable = false; }, 0, true,
       "no seed: not in this stage"},
      {"rollout 0", "<rollout>0</rollout>", [](FakePlatform&) {}, 0, true, "rollout 0 %"},
      {"malformed", "<rollout>50%</rollout>", [](FakePlatform&) {}, 0, false, "withheld"},
  };
  for (const SeedCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    Installed12181();
    c.arrange(fake);
    fake.ServeManifest(offer + c.rollout);
    RunUpdate(nullptr);
    EXPECT_EQ(c.offered, fake.Called("MessageBox"));
    EXPECT_EQ(c.seedRead, fake.Called("QueryValue updateSeed"));
    std::string log = fake.files["C:\\Temp\\kelvaport\\update.log"];
    EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
    if (c.seedRead && fake.valuesWritable) {  // made once, a DWORD, and kept
      ASSERT_EQ(1u, fake.values.count("updateSeed"));
      EXPECT_EQ(platform::kRegDword, fake.values["updateSeed"].type);
      EXPECT_GE(1, std::count(fake.calls.begin(), fake.calls.end(), "RandomBytes"));
    }
  }
}

}  // namespace
