#include <strings.h>

#include <algorithm>
#include <functional>
#include <string>

#include "outside/outside.h"
#include "updater_test.h"

namespace {

using ManifestTest = UpdaterTest;

struct ReaderCase {
  const char* name;
  std::string document;
  std::string contentUrl, contentDate, version;
  int forced;
  std::string installerUrl;
};

const std::string kFull =
    "<cfg><swf-url>http://h/m.swf</swf-url><swf-date>2013-01-05|10:00:00</swf-date>"
    "<version>1.1.0.12182</version><flag>0</flag><url>http://h/setup.exe</url></cfg>";

std::string Flag(const std::string& value) { return "<version>2</version><flag>" + value + "</flag><url>u</url>"; }

TEST_F(ManifestTest, ReaderRules) {
  const std::string big520(519, 'v'), big521(520, 'v');
  const ReaderCase cases[] = {
      {"all fields", kFull, "http://h/m.swf", "2013-01-05|10:00:00", "1.1.0.12182", 0, "http://h/setup.exe"},
      {"no content elements", "<version>1.2</version><flag>f</flag><url>x</url>", "", "", "1.2", 1, "x"},
      {"spaces and a line break kept", "<version> 1.2\n</version><flag>0<url>\tu </url>", "", "", " 1.2\n", 0,
       "\tu "},
      {"entities not decoded", "<version>1&amp;2</version><url><![CDATA[u]]></url>", "", "", "1&amp;2", 0,
       "<![CDATA[u]]>"},
      {"two versions: first open, first close", "<version>1</version><version>2</version><url>u</url>", "", "", "1",
       0, "u"},
      {"value runs to the first closing tag", "<version>3<version>4</version>", "", "", "3<version>4", 0, ""},
      {"closing tag before opening tag", "</version>x<version>3", "", "", "", 0, ""},
      {"content closing tag without opening tag", "swf</swf-url><swf-date>d</swf-date>", "", "d", "", 0, ""},
      {"content opening tag without closing tag", "<swf-url>a<swf-date>d</swf-date>", "", "d", "", 0, ""},
      {"url tags do not capture swf-url", "<swf-url>s</swf-url><swf-date>d</swf-date><url>i</url>", "s", "d", "",
       0, "i"},
      {"tags are case-sensitive", "<Version>1</Version><URL>u</URL><FLAG>f", "", "", "", 0, ""},
      {"empty text", "", "", "", "", 0, ""},
      {"version at capacity less one", "<version>" + big520 + "</version>", "", "", big520, 0, ""},
      {"version over capacity is rejected", "<version>" + big521 + "</version>", "", "", "", 0, ""},
      {"installer url at capacity less one", "<url>" + std::string(259, 'u') + "</url>", "", "", "", 0,
       std::string(259, 'u')},
      {"installer url over capacity is rejected", "<url>" + std::string(5000, 'u') + "</url>", "", "", "", 0, ""},
      {"content date over capacity is rejected",
       "<swf-url>s</swf-url><swf-date>" + std::string(260, '9') + "</swf-date>", "s", "", "", 0, ""},
      {"flag force", Flag("force"), "", "", "2", 1, "u"},
      {"flag f", Flag("f"), "", "", "2", 1, "u"},
      {"flag false", Flag("false"), "", "", "2", 1, "u"},
      {"flag 0", Flag("0"), "", "", "2", 0, "u"},
      {"flag 1", Flag("1"), "", "", "2", 0, "u"},
      {"flag t", Flag("t"), "", "", "2", 0, "u"},
      {"flag true", Flag("true"), "", "", "2", 0, "u"},
      {"flag F", Flag("F"), "", "", "2", 0, "u"},
      {"flag empty", Flag(""), "", "", "2", 0, "u"},
      {"flag at the very end", "<flag>", "", "", "", 0, ""},
  };
  for (const ReaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateManifest m = ReadManifest(c.document.c_str());
    EXPECT_EQ(c.contentUrl, m.contentUrl);
    EXPECT_EQ(c.contentDate, m.contentDate);
    EXPECT_EQ(c.version, m.version);
    EXPECT_EQ(c.forced, m.forced);
    EXPECT_EQ(c.installerUrl, m.installerUrl);
  }
}

// --- fetch -------------------------------------------------------------------

const std::string kOffer = "<version>1.1.0.12182</version><flag>0</flag><url>http://h/setup.exe</url>";

struct FetchCase {
  const char* name;
  std::function<void(FakePlatform&)> serve;
  int expectOffer;
  std::string expectVersion;
};

TEST_F(ManifestTest, FetchReadsWholeBodyOrNothing) {
  const std::string padded = kOffer + std::string(1000, ' ');
  const FetchCase cases[] = {
      {"one piece", [](FakePlatform& f) { f.ServeManifest(kOffer); }, 1, "1.1.0.12182"},
      {"several pieces",
       [](FakePlatform& f) {
         f.ServeManifest(kOffer);
         f.pieces = {kOffer.substr(0, 5), kOffer.substr(5, 20), kOffer.substr(25)};
       },
       1, "1.1.0.12182"},
      {"no content length reads to the end",
       [](FakePlatform& f) {
         f.haveLength = false;
         f.pieces = {kOffer.substr(0, 30), kOffer.substr(30)};
       },
       1, "1.1.0.12182"},
      {"non-numeric length reads to the end",
       [](FakePlatform& f) {
         f.lengthText = L"abc";
         f.pieces = {kOffer};
       },
       1, "1.1.0.12182"},
      {"length zero", [](FakePlatform& f) { f.ServeManifest(""); f.pieces = {kOffer}; }, 0, ""},
      {"read failure", [](FakePlatform& f) { f.ServeManifest(kOffer); f.failReadAt = 0; }, 0, ""},
      {"read failure in the second piece",
       [](FakePlatform& f) {
         f.ServeManifest(kOffer);
         f.pieces = {kOffer.substr(0, 5), kOffer.substr(5)};
         f.failReadAt = 1;
       },
       0, ""},
      {"body shorter than announced",
       [](FakePlatform& f) {
         f.ServeManifest(kOffer);
         f.lengthText = L"5000";
       },
       0, ""},
      {"longer body than announced reads the announced part",
       [&](FakePlatform& f) {
         f.ServeManifest(kOffer);
         f.pieces = {padded + "<version>9</version>"};
       },
       1, "1.1.0.12182"},
      {"negative length", [](FakePlatform& f) { f.ServeManifest(kOffer); f.lengthText = L"-5"; }, 0, ""},
      {"huge length", [](FakePlatform& f) { f.ServeManifest(kOffer); f.lengthText = L"1e300"; }, 0, ""},
      {"length over the cap", [](FakePlatform& f) { f.ServeManifest(kOffer); f.lengthText = L"65537"; }, 0, ""},
      {"unannounced body over the cap",
       [](FakePlatform& f) {
         f.haveLength = false;
         f.pieces = {kOffer + std::string(70000, ' ')};
       },
       0, ""},
      {"404 page", [](FakePlatform& f) { f.ServeManifest("<html><h1>404 Not Found</h1></html>"); }, 0, ""},
      {"offer without installer url",
       [](FakePlatform& f) { f.ServeManifest("<version>9</version><flag>0</flag>"); }, 0, "9"},
      {"trickle within the deadline",
       [](FakePlatform& f) {
         f.ServeManifest(kOffer);
         f.pieces = {kOffer.substr(0, 5), kOffer.substr(5, 5), kOffer.substr(10)};
         f.msPerRead = kManifestDeadlineMs / 4;
       },
       1, "1.1.0.12182"},
      {"trickle past the deadline",
       [](FakePlatform& f) {
         f.ServeManifest(kOffer);
         f.pieces = {kOffer.substr(0, 5), kOffer.substr(5, 5), kOffer.substr(10, 5), kOffer.substr(15)};
         f.msPerRead = kManifestDeadlineMs / 3;
       },
       0, ""},
      {"status line and headers past the deadline",
       [](FakePlatform& f) {
         f.ServeManifest(kOffer);
         f.blocksPastDeadline = true;
       },
       0, ""},
      {"session fails", [](FakePlatform& f) { f.sessionOpens = false; }, 0, ""},
      {"address fails", [](FakePlatform& f) { f.urlOpens = false; }, 0, ""},
  };
  for (const FetchCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    Installed12181();
    c.serve(fake);
    EXPECT_EQ(c.expectOffer, CheckForUpdate());
    EXPECT_EQ(c.expectVersion, gManifest.version);
    EXPECT_LE(fake.largestReadRequest, kManifestCap + 1);
    // Each handle closed once: by the run, or with the session by the deadline's watch.
    EXPECT_EQ(fake.sessionOpens ? 1 : 0, std::count(fake.calls.begin(), fake.calls.end(), "CloseSession"));
    EXPECT_EQ(fake.Called("OpenUrl") && fake.urlOpens && !fake.blocksPastDeadline, fake.Called("CloseRequest"));
  }
}

TEST_F(ManifestTest, OnlyWebAddressesAreKept) {
  struct AddressCase {
    const char* url;
    int web;
  };
  const AddressCase cases[] = {
      {"http://h/setup.exe", 1},
      {"https://update.example.com:8443/a/setup.exe?x=1", 1},
      {"HTTP://H:80/m.swf", 1},
      {"file:///C:/Windows/secret.swf", 0},
      {"FILE://host/share/x.swf", 0},
      {"C:\\Windows\\tool.exe", 0},
      {"\\\\host\\share\\x.swf", 0},
      {"ftp://127.0.0.1:21/x.swf", 0},
      {"http://user:pass@h/setup.exe", 0},
      {"http://user@h/setup.exe", 0},
      {"http://h\\..\\x", 0},
      {"http://h/set up.exe", 0},
      {"http://h/setup.exe\n", 0},
      {"http:///setup.exe", 0},
      {"setup.exe", 0},
      {"", 0},
  };
  for (const AddressCase& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(c.web, IsWebAddress(c.url, 0));
    EXPECT_EQ(c.web && strncasecmp(c.url, "https:", 6) == 0, IsWebAddress(c.url, 1));
  }
  // A refused address leaves its field empty: nothing offered, no content fetched.
  Installed12181();
  fake.ServeManifest("<swf-url>file:///C:/x.swf</swf-url><version>1.1.0.12182</version><flag>f</flag>"
                     "<url>\\\\host\\share\\tool.exe</url>");
  EXPECT_EQ(0, CheckForUpdate());
  EXPECT_STREQ("", gManifest.contentUrl);
  EXPECT_STREQ("", gManifest.installerUrl);
}

// An https-only build takes https addresses alone, and no manifest that a
// redirect brought over plain http.
TEST_F(ManifestTest, HttpsOnlyRefusesPlainHttp) {
  const struct {
    const char* name;
    const char* url;
    const char* redirectedTo;
    int offered;
  } cases[] = {
      {"https throughout", "https://h/setup.exe", "https://h/api/pellixupdatecfg.xml?1", 1},
      {"http installer address", "http://h/setup.exe", "https://h/api/pellixupdatecfg.xml?1", 0},
      {"manifest redirected to http", "https://h/setup.exe", "http://h/api/pellixupdatecfg.xml?1", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    gHttpsOnly = 1;
    Installed12181();
    fake.redirectedTo = c.redirectedTo;
    fake.ServeManifest(std::string("<version>1.1.0.12182</version><flag>o</flag><url>") + c.url + "</url>");
    EXPECT_EQ(c.offered, CheckForUpdate());
  }
}

TEST_F(ManifestTest, ProxyOnlyWhenNoServerAnswered) {
  struct ProxyCase {
    const char* name;
    bool proxyConfigured, directOpens;
    unsigned directError;
    std::string body;  // what the server sends when it answers
    bool triesProxy;
    int offer;
  };
  const std::string notFound = "<html>404</html>";
  const ProxyCase cases[] = {
      {"name not resolved", true, false, 12007, kOffer, true, 1},
      {"connection refused", true, false, 12029, kOffer, true, 1},
      {"connection timed out", true, false, 12002, kOffer, true, 1},
      {"no proxy configured", false, false, 12007, kOffer, false, 0},
      {"connection reset: the server was reached", true, false, 12030, kOffer, false, 0},
      {"an error page is an answer", true, true, 0, notFound, false, 0},
      {"direct works", true, true, 0, kOffer, false, 1},
  };
  for (const ProxyCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    Installed12181();
    fake.ServeManifest(c.body);
    fake.proxyConfigured = c.proxyConfigured;
    fake.urlOpens = c.directOpens;
    fake.urlError = c.directError;
    EXPECT_EQ(c.offer, CheckForUpdate());
    EXPECT_EQ(c.triesProxy, fake.Called("OpenSession proxy"));
    EXPECT_LT(fake.IndexOf("OpenSession"), fake.IndexOf("OpenUrl"));  // direct first, always
  }
}

TEST_F(ManifestTest, FetchAsksTheServerNotTheCache) {
  Installed12181();
  fake.ServeManifest(kOffer);
  EXPECT_EQ(1, CheckForUpdate());
  EXPECT_EQ(std::wstring(outside::kManifestUrl), fake.agent);
  EXPECT_EQ(fake.agent, fake.url);
  EXPECT_EQ(kManifestTimeoutMs, fake.timeout);
  // Fetching only fetches: the client is asked nothing while the request is open.
  EXPECT_LT(fake.IndexOf("CloseRequest"), fake.IndexOf("CloseSession"));
  EXPECT_LT(fake.IndexOf("CloseSession"), fake.IndexOf("VersionInfoSize"));
}

}  // namespace
