#include <string>

#include "trust/trust.h"
#include "updater_test.h"

namespace {

using DriverTest = UpdaterTest;

const std::string kExe = "MZ\x90\x00 installer";

struct DriverCase {
  const char* name;
  std::function<void(FakePlatform&)> arrange;
  int answer;
  bool prompted, downloaded, handedOver;
};

TEST_F(DriverTest, StepsInOrder) {
  auto offer = [](FakePlatform& f, const char* flag) {
    f.files["C:\\App\\Orvessa.exe"] = "MZ";
    f.InstalledVersion(1, 1, 0, 12181);
    f.ServeManifest(std::string("<swf-url>http://h/m.swf</swf-url><swf-date>2013</swf-date><version>1.1.0.12182"
                                "</version><flag>") + flag + "</flag><url>http://h/setup.exe</url>");
    f.ServeDownload("http://h/m.swf", "FWS movie");
    f.ServeDownload("http://h/setup.exe", kExe);
    f.topWindows[L"Orvessa"] = FakeWindow(0x43);
  };
  const DriverCase cases[] = {
      {"accepted", [&](FakePlatform& f) { offer(f, "0"); }, 1, true, true, true},
      {"declined", [&](FakePlatform& f) { offer(f, "0"); f.boxAnswer = 7; }, 1, true, false, false},
      {"forced", [&](FakePlatform& f) { offer(f, "force"); f.boxAnswer = platform::kIdOk; }, 1, true, true, true},
      {"cancelled", [&](FakePlatform& f) {
         offer(f, "0");
         f.duringDownload = [](const std::string& url) {
           if (url == "http://h/setup.exe") gFake->handler(gFake->dialog, platform::kWmCommand, 2, 0);
         };
       }, 1, true, true, false},
      {"installer missing", [&](FakePlatform& f) { offer(f, "0"); f.downloads.erase("http://h/setup.exe"); },
       1, true, true, false},
      {"installer is an error page", [&](FakePlatform& f) {
         offer(f, "0");
         f.ServeDownload("http://h/setup.exe", "<html>Not Found</html>");
       }, 1, true, true, false},
      {"up to date", [&](FakePlatform& f) { offer(f, "0"); f.InstalledVersion(1, 1, 0, 12182); },
       1, false, false, false},
      {"server unreachable", [](FakePlatform& f) { f.urlOpens = false; }, 1, false, false, false},
      {"work directory refused", [](FakePlatform& f) { f.failMakeDirectory = true; }, 0, false, false, false},
  };
  for (const DriverCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    c.arrange(fake);
    EXPECT_EQ(c.answer, RunUpdate(reinterpret_cast<platform::Instance>(0x400000)));
    EXPECT_EQ(reinterpret_cast<platform::Instance>(0x400000), gRunState.instance);
    int box = fake.IndexOf("MessageBox");
    EXPECT_EQ(c.prompted, box >= 0 && c.answer == 1);
    EXPECT_EQ(c.downloaded, fake.Called("Download http://h/setup.exe"));
    EXPECT_EQ(c.handedOver, !fake.shellOpened.empty());
    EXPECT_EQ(c.handedOver, fake.Called("SendClose"));
    if (c.handedOver) {
      EXPECT_EQ(kExe, fake.files["C:\\Temp\\kelvaport\\setup.exe"]);
    }
    // The content refresh comes after the fetch and before any prompt.
    int content = fake.IndexOf("Download http://h/m.swf");
    if (content >= 0) {
      EXPECT_LT(fake.IndexOf("CloseSession"), content);
      if (box >= 0) {
        EXPECT_LT(content, box);
      }
    }
    if (c.answer == 0) {
      // After the error box, only the run mutex is let go.
      EXPECT_EQ(2u, fake.calls.size() - static_cast<size_t>(fake.IndexOf("MessageBox")));
    }
  }
}

TEST_F(DriverTest, InstallerStartsOnlyWhenSignedByAPinnedKey) {
  const std::string pinA(64, 'a'), pinB(64, 'b');
  const std::string keyA(32, '\xaa'), keyB(32, '\xbb'), keyC(32, '\xcc');
  struct TrustCase {
    const char* name;
    std::string pins;
    long verdict;
    std::string signerKey;
    bool started;
  };
  const TrustCase cases[] = {
      {"no pins: started unverified", "", static_cast<long>(0x800B0100L), "", true},
      {"signed by the pinned key", pinA, 0, keyA, true},
      {"signed by the second pin", pinA + pinB, 0, keyB, true},
      {"unsigned", pinA, static_cast<long>(0x800B0100L), "", false},
      {"changed after signing", pinA, static_cast<long>(0x80096010L), keyA, false},
      {"signed by another key", pinA + pinB, 0, keyC, false},
      {"valid, but no signer to read", pinA, 0, "", false},
  };
  for (const TrustCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    gSignerPins = c.pins.c_str();
    fake.files["C:\\App\\Orvessa.exe"] = "MZ";
    fake.InstalledVersion(1, 1, 0, 12181);
    fake.ServeManifest("<version>1.1.0.12182</version><flag>0</flag><url>http://h/setup.exe</url>");
    fake.ServeDownload("http://h/setup.exe", kExe);
    fake.topWindows[L"Orvessa"] = FakeWindow(0x43);
    fake.trustVerdict = c.verdict;
    fake.signerKey = c.signerKey;
    RunUpdate(nullptr);
    const std::string setup = "C:\\Temp\\kelvaport\\setup.exe";
    EXPECT_EQ(c.started, fake.Called("OpenWithShell " + setup));
    EXPECT_FALSE(fake.Called("OpenWithShell " + setup + " (not held)"));
    EXPECT_EQ(c.started, fake.Called("SendClose"));  // a refused installer leaves the host alone
    EXPECT_EQ(c.started, fake.files.count(setup) == 1);  // a refused one is deleted
    EXPECT_TRUE(fake.openFiles.empty());
    if (c.pins.empty()) {
      EXPECT_FALSE(fake.Called("VerifyFileTrust"));
      continue;
    }
    // Checked on the held file, the state always released, before any start.
    EXPECT_TRUE(fake.Called("VerifyFileTrust " + setup + " (held)"));
    EXPECT_TRUE(fake.Called("CloseTrust"));
    EXPECT_FALSE(fake.Called("CloseTrust null"));
    if (c.started) {
      EXPECT_LT(fake.IndexOf("CloseTrust"), fake.IndexOf("OpenWithShell"));
      EXPECT_LT(fake.IndexOf("OpenWithShell"), static_cast<int>(fake.calls.size()) - 1);
      EXPECT_EQ("CloseFile", fake.calls[fake.IndexOf("OpenWithShell") + 1]);  // held until the start returned
    }
  }
}

const std::string kPin(64, 'a'), kKey(32, '\xaa');
const std::string kSwf = "FWS new movie", kContent = "C:\\Temp\\kelvaport\\mnMain.swf";
const std::string kFeed = "<product>Orvessa</product><serial>10</serial><expires>2030-01-01T00:00:00Z</expires>";

// A run of a build that requires signed releases, the manifest `body` signed
// with `signature` by the key `signer`, and the old content in place.
void ArrangeSignedRun(FakePlatform& f, const std::string& body, const std::string& signature,
                      const std::string& signer) {
  gSignerPins = kPin.c_str();
  f.files["C:\\App\\Orvessa.exe"] = "MZ";
  f.files[kContent] = "FWS old";
  f.values["swfUpdateTime"] = {platform::kRegSz, std::string("2013-01-04|09:00:00", 20)};
  f.InstalledVersion(1, 1, 0, 12181);
  f.ServeManifest(body);
  f.ServeDownload("http://h/m.swf", kSwf);
  f.ServeDownload("http://h/setup.exe", kExe);
  f.signature = signature;
  f.signatureKey = signer;
  f.trustVerdict = 0;
  f.signerKey = kKey;  // the installer itself is signed by the pinned key
}

TEST_F(DriverTest, SignedReleases) {
  const std::string &key = kKey, stranger(32, '\xcc');
  const std::string &swf = kSwf, setup = "C:\\Temp\\kelvaport\\setup.exe";
  const std::string& content = kContent;
  auto manifest = [&](const std::string& swfHash, const std::string& exeHash) {
    return "<swf-url>http://h/m.swf</swf-url><swf-date>2013-01-05|10:00:00</swf-date><version>1.1.0.12182"
           "</version><flag>0</flag><url>http://h/setup.exe</url>" + kFeed +
           (swfHash.empty() ? "" : "<swf-sha256>" + swfHash + "</swf-sha256>") +
           (exeHash.empty() ? "" : "<sha256>" + exeHash + "</sha256>");
  };
  const std::string good = manifest(FakeSha256Hex(swf), FakeSha256Hex(kExe));
  struct SignedCase {
    const char* name;
    bool required;           // the build requires signed releases
    std::string body, signature, signerKey;
    bool served, attributes;
    bool offered, contentReplaced, started;
  };
  const SignedCase cases[] = {
      {"signed release", true, good, "SIG:" + good, key, true, false, true, true, true},
      {"no signature", true, good, "", key, false, false, false, false, false},
      {"signed by a stranger", true, good, "SIG:" + good, stranger, true, false, false, false, false},
      {"changed after signing", true, good + " ", "SIG:" + good, key, true, false, false, false, false},
      {"signed attributes", true, good, "SIG:" + good, key, true, true, false, false, false},
      {"content hash does not match", true, manifest(FakeSha256Hex("other"), FakeSha256Hex(kExe)),
       "SIG:" + manifest(FakeSha256Hex("other"), FakeSha256Hex(kExe)), key, true, false, true, false, true},
      {"content without a hash", true, manifest("", FakeSha256Hex(kExe)), "SIG:" + manifest("", FakeSha256Hex(kExe)),
       key, true, false, true, false, true},
      {"installer hash does not match", true, manifest(FakeSha256Hex(swf), FakeSha256Hex("other")),
       "SIG:" + manifest(FakeSha256Hex(swf), FakeSha256Hex("other")), key, true, false, true, true, false},
      {"not required: no signature asked for", false, manifest("", ""), "", key, false, false, true, true, true},
      {"not required: a present hash still counts", false, manifest(FakeSha256Hex("other"), ""), "", key, false,
       false, true, false, true},
  };
  for (const SignedCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    gSignedManifest = c.required;
    ArrangeSignedRun(fake, c.body, c.signature, c.signerKey);
    fake.signatureServed = c.served;
    fake.signatureAttributes = c.attributes;
    RunUpdate(nullptr);
    EXPECT_EQ(c.offered, fake.Called("MessageBox"));
    EXPECT_EQ((c.required && c.offered) || !c.required, fake.Called("Download http://h/m.swf"));
    EXPECT_EQ(c.contentReplaced ? swf : std::string("FWS old"), fake.files[content]);
    EXPECT_EQ(c.contentReplaced, fake.values.count("swfUpdate") == 1);
    EXPECT_EQ(c.started, fake.Called("OpenWithShell " + setup));
    EXPECT_EQ(c.required, fake.Called("OpenUrl signature"));
  }
}

// The highest serial is kept only once the whole feed was believed.
TEST_F(DriverTest, SignedFeedSerialIsKeptOnlyOnceBelieved) {
  const std::string offer = "<version>1.1.0.12182</version><flag>0</flag><url>http://h/setup.exe</url><sha256>" +
                            FakeSha256Hex(kExe) + "</sha256>";
  auto feed = [](const char* product, const char* serial, const char* expires) {
    return std::string("<product>") + product + "</product><serial>" + serial + "</serial><expires>" + expires +
           "</expires>";
  };
  struct SerialCase {
    const char* name;
    std::string tags;
    long stored;  // -1: none yet
    bool signedWell;
    unsigned long kept;  // 0: none
    bool offered;
  };
  const char* later = "2030-01-01T00:00:00Z";
  const SerialCase cases[] = {
      {"higher serial: kept", feed("Orvessa", "10", later), 9, true, 10, true},
      {"first feed: kept", feed("Orvessa", "10", later), -1, true, 10, true},
      {"the same feed again", feed("Orvessa", "9", later), 9, true, 9, true},
      {"a replayed lower serial", feed("Orvessa", "8", later), 9, true, 9, false},
      {"another product's feed", feed("Orvessa-beta", "10", later), 9, true, 9, false},
      {"expired", feed("Orvessa", "10", "2013-01-05T01:07:03Z"), 9, true, 9, false},
      {"signature refused", feed("Orvessa", "10", later), 9, false, 9, false},
  };
  for (const SerialCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    gSignedManifest = 1;
    const std::string body = offer + c.tags;
    ArrangeSignedRun(fake, body, c.signedWell ? "SIG:" + body : "SIG:other", kKey);
    if (c.stored >= 0) {
      uint32_t stored = static_cast<uint32_t>(c.stored);
      fake.values["updateSerial"] = {platform::kRegDword, std::string(reinterpret_cast<const char*>(&stored), 4)};
    }
    RunUpdate(nullptr);
    EXPECT_EQ(c.offered, fake.Called("MessageBox"));
    ASSERT_EQ(c.kept != 0, fake.values.count("updateSerial") == 1);
    if (c.kept) {
      uint32_t kept = 0;
      memcpy(&kept, fake.values["updateSerial"].data.data(), 4);
      EXPECT_EQ(c.kept, kept);
    }
    if (!c.offered) {
      EXPECT_FALSE(fake.Called("Download"));  // nothing of a refused feed is used
    }
  }
}

TEST_F(DriverTest, OneRunAtATime) {
  for (bool held : {false, true}) {
    SCOPED_TRACE(held ? "another run holds the mutex" : "first run");
    NextCase();
    fake.mutexHeld = held;
    EXPECT_EQ(1, RunUpdate(nullptr));
    ASSERT_LE(2u, fake.calls.size());
    EXPECT_EQ("RestrictDllSearch", fake.calls[0]);  // before anything could load a DLL
    EXPECT_EQ("TakeNamedMutex Local\\TarvelonMM.Orvessa.Updater.Run", fake.calls[1]);
    if (held) {
      EXPECT_EQ(2u, fake.calls.size());  // no file, request or window
    } else {
      EXPECT_EQ("ReleaseNamedMutex", fake.calls.back());
    }
  }
}

}  // namespace
