// Resuming the installer: what an answer to a request for the rest means,
// what is kept across runs, and the flows of a run over a bad line.
#include <string>

#include "download/download.h"
#include "download/splice.h"
#include "shared/clock.h"
#include "upgrade/upgrade.h"
#include "updater_test.h"

namespace {

const char kUrl[] = "http://h/setup.exe";
const char kPart[] = "C:\\Temp\\kelvaport\\setup.exe.part";
const char kRecord[] = "C:\\Temp\\kelvaport\\setup.exe.part.txt";
const char kInstaller[] = "C:\\Temp\\kelvaport\\setup.exe";

class ResumeTest : public UpdaterTest {
 protected:
  void SetUp() override {
    UpdaterTest::SetUp();
    UseDefaultPaths();
    strcpy(gManifest.installerUrl, kUrl);
    strcpy(gManifest.version, "1.2.0.0");
  }
  // An installer of `size` bytes with a strong validator.
  std::string Serve(size_t size) {
    std::string bytes = "MZ" + std::string(size - 2, 'a');
    for (size_t i = 2; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 26);
    fake.ServeDownload(kUrl, bytes);
    fake.downloads[kUrl].etag = "\"v1\"";
    return bytes;
  }
  char failure[16] = "";
};

TEST(SpliceTest, AnswersToARequestForTheRest) {
  struct Row {
    const char* name;
    int status;
    const char* contentRange;
    Splice splice;
  };
  const Row rows[] = {
      {"206 at the bytes kept, same total", 206, "bytes 400-999/1000", kSpliceAppend},
      {"206 at another offset", 206, "bytes 0-999/1000", kSpliceDiscard},
      {"206 naming another total", 206, "bytes 400-1099/1100", kSpliceDiscard},
      {"206 without a Content-Range", 206, nullptr, kSpliceDiscard},
      {"206 with a range that does not parse", 206, "bytes */1000", kSpliceDiscard},
      {"200: the whole file", 200, nullptr, kSpliceStartOver},
      {"416", 416, "bytes */1000", kSpliceDiscard},
      {"503: busy", 503, nullptr, kSpliceRetry},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ContentRange range = {};
    int parsed = r.contentRange && ParseContentRange(r.contentRange, &range);
    EXPECT_EQ(r.splice, DecideSplice(400, 1000, r.status, parsed ? &range : nullptr));
  }
  ContentRange range = {};
  EXPECT_FALSE(ParseContentRange("bytes 5-4/10", &range));
  EXPECT_FALSE(ParseContentRange("bytes 0-9/10 ", &range));
  EXPECT_FALSE(ParseContentRange("bytes 0-9/99999999999", &range));
  EXPECT_FALSE(ParseContentRange("bytes 0-10/10", &range));
}

TEST(SpliceTest, OnlyAStrongValidatorResumes) {
  struct Row {
    const char* name;
    const char *etag, *lastModified, *chosen;
  };
  const Row rows[] = {
      {"ETag", "\"v1\"", "Tue, 01 Dec 2026 10:00:00 GMT", "\"v1\""},
      {"weak ETag, Last-Modified", "W/\"v1\"", "Tue, 01 Dec 2026 10:00:00 GMT", "Tue, 01 Dec 2026 10:00:00 GMT"},
      {"weak ETag alone", "W/\"v1\"", "", ""},
      {"no validator", "", "", ""},
      {"a line break in it", "\"v1\"\r\nX: y", "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    char out[64] = "x";
    EXPECT_EQ(r.chosen[0] != '\0', StrongValidator(r.etag, r.lastModified, out, sizeof out));
    EXPECT_STREQ(r.chosen, out);
  }
}

TEST_F(ResumeTest, KeptBytesBelongOnlyToTheSameOffer) {
  struct Row {
    const char* name;
    const char *url, *version, *sha256;
    long long age;  // seconds
    bool resumed;
  };
  const std::string sha(64, 'c');
  const Row rows[] = {
      {"the same offer", kUrl, "1.2.0.0", "", 3600, true},
      {"another version", kUrl, "1.2.0.1", "", 3600, false},
      {"another address", "http://h/other.exe", "1.2.0.0", "", 3600, false},
      {"another hash", kUrl, "1.2.0.0", sha.c_str(), 3600, false},
      {"8 days old", kUrl, "1.2.0.0", "", 8 * 86400, false},
      {"kept in the future", kUrl, "1.2.0.0", "", -3600, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    NextCase();
    SetUp();
    std::string bytes = Serve(100000);
    fake.files[kPart] = bytes.substr(0, 30000);
    KeptRecord record = RecordFor(ResumeKey{r.url, r.version, r.sha256}, "\"v1\"", 100000);
    record.keptAt -= r.age;
    ASSERT_TRUE(WriteKeptRecord(kRecord, record));
    EXPECT_TRUE(ObtainInstaller(failure, sizeof failure));
    EXPECT_EQ(bytes, fake.files[kInstaller]);
    const std::vector<std::string>& sent = fake.downloads[kUrl].headers;
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(r.resumed ? "Range: bytes=30000-\r\nIf-Range: \"v1\"\r\n" : "", sent[0]);
    EXPECT_EQ(0u, fake.files.count(kPart) + fake.files.count(kRecord));
  }
  // A record cut short is no record.
  NextCase();
  SetUp();
  fake.files[kRecord] = "url=http://h/setup.exe\nvalidator=\"v1\"\ntotal=100";
  KeptRecord record;
  EXPECT_FALSE(ReadKeptRecord(kRecord, &record));
}

TEST_F(ResumeTest, ABadLine) {
  struct Row {
    const char* name;
    std::function<void(FakePlatform&, const std::string& bytes)> arrange;
    bool arrives;
    size_t requests;
    const char* failure;
    size_t kept;  // bytes left for the next run
  };
  const std::string other = "MZ" + std::string(99998, 'z');
  const Row rows[] = {
      {"one cut at 40 %", [](FakePlatform& f, const std::string&) { f.downloads[kUrl].cuts = {40000}; }, true, 2, "", 0},
      {"cut twice", [](FakePlatform& f, const std::string&) { f.downloads[kUrl].cuts = {30000, 30000}; }, true, 3, "",
       0},
      {"ranges not served: the whole file again", [](FakePlatform& f, const std::string&) {
         f.downloads[kUrl].cuts = {40000};
         f.downloads[kUrl].ignoresRanges = true;
       }, true, 2, "", 0},
      {"the file replaced after the cut", [&other](FakePlatform& f, const std::string&) {
         f.downloads[kUrl].cuts = {40000};
         f.downloads[kUrl].replacement = other;
         f.downloads[kUrl].replacementEtag = "\"v2\"";
       }, true, 2, "", 0},
      {"another total named: dropped, then whole", [](FakePlatform& f, const std::string&) {
         f.downloads[kUrl].cuts = {40000};
         f.downloads[kUrl].contentRange = "bytes 40000-199999/200000";
       }, true, 3, "", 0},
      {"416: dropped, then whole", [](FakePlatform& f, const std::string&) {
         f.downloads[kUrl].cuts = {40000};
         f.downloads[kUrl].rangeStatus = 416;
       }, true, 3, "", 0},
      {"no validator: nothing to resume", [](FakePlatform& f, const std::string&) {
         f.downloads[kUrl].cuts = {40000};
         f.downloads[kUrl].etag = "";
       }, false, 1, "cut", 0},
      {"a weak validator: nothing to resume", [](FakePlatform& f, const std::string&) {
         f.downloads[kUrl].cuts = {40000};
         f.downloads[kUrl].etag = "W/\"v1\"";
       }, false, 1, "cut", 0},
      {"busy after the cut: kept for the next run", [](FakePlatform& f, const std::string&) {
         f.downloads[kUrl].cuts = {40000};
         f.downloads[kUrl].rangeStatus = 503;
       }, false, 2 + kResumeTries, "http-503", 40000},
      {"the run's bound passes", [](FakePlatform& f, const std::string&) {
         f.downloads[kUrl].bytes = "MZ" + std::string(999998, 'a');
         f.downloads[kUrl].piece = 1024;
         f.downloads[kUrl].msPerRead = 59000;  // each read meets the rate floor
       }, false, 1, "run-bound", 1024 * (kDownloadMaxMs / 59000 + 1)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    NextCase();
    SetUp();
    std::string bytes = Serve(100000);
    r.arrange(fake, bytes);
    platform::File installer = ObtainInstaller(failure, sizeof failure);
    EXPECT_EQ(r.arrives, static_cast<bool>(installer));
    EXPECT_STREQ(r.failure, failure);
    EXPECT_EQ(r.requests, fake.downloads[kUrl].headers.size());
    if (r.arrives) {
      const std::string& expected = fake.downloads[kUrl].replacement.empty() ? bytes : other;
      EXPECT_EQ(expected, fake.files[kInstaller]);  // whole, never a splice of two files
    }
    EXPECT_EQ(r.kept, fake.files.count(kPart) ? fake.files[kPart].size() : 0u);
    EXPECT_EQ(r.kept > 0, fake.files.count(kRecord) == 1);
  }
}

TEST_F(ResumeTest, PausesBetweenRequestsThatGainNothingGrow) {
  Serve(100000);
  fake.downloads[kUrl].cuts = {40000};
  fake.downloads[kUrl].rangeStatus = 503;
  ObtainInstaller(failure, sizeof failure);
  EXPECT_EQ((std::vector<unsigned long>{1000, 2000, 4000, 8000, 16000}), fake.pauses);
}

}  // namespace
