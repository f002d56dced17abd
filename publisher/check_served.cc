// updater-manifest check --url: fetches the release from the live server as
// a client does, judges the answers, then checks what arrived as a local
// release is checked.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "check.h"
#include "download/download.h"
#include "manifest/manifest.h"
#include "publisher.h"
#include "served.h"

namespace {

// urlmon, which fetches the content and the installer, sends the system's
// browser User-Agent.
const char kDownloadAgent[] = "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)";
const long kLongestManifestCacheSeconds = 300;
// The whole of a request: the manifest's and signature's as the client's
// deadline; a file's, a bound for a dry run that must end.
const long kManifestSeconds = static_cast<long>(kManifestDeadlineMs / 1000);
const long kFileSeconds = 2 * 3600;

struct Tally {
  int errors = 0, warnings = 0;
  void Error(const std::string& text) {
    printf("error: %s\n", text.c_str());
    ++errors;
  }
  void Warning(const std::string& text) {
    printf("warning: %s\n", text.c_str());
    ++warnings;
  }
};

// A manifest or signature that a cache on the way may keep hands out a stale offer.
void JudgeCaching(const char* what, const std::string& cacheControl, Tally* t) {
  if (cacheControl.find("no-cache") != std::string::npos || cacheControl.find("no-store") != std::string::npos) return;
  // A shared cache (a CDN) keeps it for s-maxage when there is one, whatever max-age says.
  const char* shared = strstr(cacheControl.c_str(), "s-maxage=");
  const char* age = shared ? shared + 1 : strstr(cacheControl.c_str(), "max-age=");
  if (!shared && age && age > cacheControl.c_str() && age[-1] == '-') age = nullptr;
  long seconds = age ? strtol(age + 8, nullptr, 10) : -1;
  if (cacheControl.empty()) {
    t->Warning(std::string(what) + " is served without Cache-Control: a cache on the way may keep it as long as it likes");
  } else if (seconds < 0 || seconds > kLongestManifestCacheSeconds) {
    t->Warning(std::string(what) + " is served with a long cache lifetime (Cache-Control \"" + cacheControl +
               "\"): a cache on the way may hand out the old offer after a new release or a halt");
  }
}

// Fetches one file; true when a whole 200 answer arrived, said so and judged.
// An `optional` file may be absent (404).
bool Fetch(const char* what, const std::string& url, const std::string& agent, const std::string& path,
           unsigned long long cap, long seconds, Tally* t, Answer* a, bool optional = false) {
  if (!HttpGet(url, agent, path, cap, seconds, a)) {
    t->Error(std::string(what) + ": GET " + url + " failed: " + a->error);
    return false;
  }
  printf("%s: GET %s: HTTP %ld, %llu bytes, Content-Length %s%s%s\n", what, url.c_str(), a->status, a->size,
         a->contentLength.empty() ? "none" : a->contentLength.c_str(), a->finalUrl != url ? ", from " : "",
         a->finalUrl != url ? a->finalUrl.c_str() : "");
  if (a->status == 404 && optional) return false;
  if (a->status != 200) {
    t->Error(std::string(what) + ": HTTP " + std::to_string(a->status) + ": the updater takes nothing from it");
    return false;
  }
  if (!a->contentLength.empty() && strtoull(a->contentLength.c_str(), nullptr, 10) != a->size) {
    t->Error(std::string(what) + ": " + std::to_string(a->size) + " bytes arrived, Content-Length says " +
             a->contentLength + ": the updater throws such a body away");
  }
  return true;
}

// The first bytes the updater holds a downloaded file to.
void JudgeStart(const char* what, const std::string& path, const char* const* prefixes, size_t count, Tally* t) {
  std::string data;
  ReadWhole(path, &data);
  if (StartsWithOneOf(data, prefixes, count)) return;
  t->Error(std::string(what) + " does not begin with " + prefixes[0] + (count > 1 ? ", CWS or ZWS" : "") +
           ": the updater refuses it");
}

}  // namespace

int CheckServed(CheckOptions options) {
  std::string base = options.url;
  while (!base.empty() && base.back() == '/') base.pop_back();
  size_t scheme = base.find("://");
  if ((base.compare(0, 7, "http://") != 0 && base.compare(0, 8, "https://") != 0) ||
      base.find('/', scheme + 3) != std::string::npos) {
    fprintf(stderr, "updater-manifest check: --url takes http://HOST[:PORT] or https://HOST[:PORT]\n");
    return 2;
  }
  char folder[] = "/tmp/updater-manifest-XXXXXX";
  if (!mkdtemp(folder)) return 2;
  std::string dir = folder, manifestUrl = base + "/api/pellixupdatecfg.xml?1";
  options.path = dir + "/pellixupdatecfg.xml";
  Tally t;
  Answer m, s, c, i;
  if (Fetch("manifest", manifestUrl, manifestUrl, options.path, kManifestCap, kManifestSeconds, &t, &m)) {
    JudgeCaching("the manifest", m.cacheControl, &t);
    std::string signature = options.path + ".p7s";
    if (Fetch("signature", base + "/api/pellixupdatecfg.xml.p7s", manifestUrl, signature, kSignatureCap,
              kManifestSeconds, &t, &s, true)) {
      JudgeCaching("the signature", s.cacheControl, &t);
    } else {
      unlink(signature.c_str());  // a fault only for builds that require signed releases: the rules say
      options.signatureWhere = s.status ? "the server's HTTP " + std::to_string(s.status) + " for " + base +
                                              "/api/pellixupdatecfg.xml.p7s"
                                        : "no answer for " + base + "/api/pellixupdatecfg.xml.p7s";
    }
    std::string body;
    ReadWhole(options.path, &body);
    UpdateManifest read = ReadManifest(body.c_str());
    if (read.contentUrl[0] && IsWebAddress(read.contentUrl, 0) &&
        Fetch("content", read.contentUrl, kDownloadAgent, dir + "/mnMain.swf", kMaxContentBytes, kFileSeconds, &t, &c)) {
      options.contentFile = dir + "/mnMain.swf";
      JudgeStart("the content", options.contentFile, kSwfSignatures, 3, &t);
    }
    static const char* const kExecutable[] = {"MZ"};
    if (read.installerUrl[0] && IsWebAddress(read.installerUrl, 0) &&
        Fetch("installer", read.installerUrl, kDownloadAgent, dir + "/setup.exe", kMaxInstallerBytes, kFileSeconds, &t,
              &i)) {
      options.installerFile = dir + "/setup.exe";
      JudgeStart("the installer", options.installerFile, kExecutable, 1, &t);
    }
    printf("what arrived, as the updater reads it:\n");
    CheckManifest(options, &t.errors, &t.warnings);
  }
  for (const char* name : {"pellixupdatecfg.xml", "pellixupdatecfg.xml.p7s", "mnMain.swf", "setup.exe"}) {
    unlink((dir + "/" + name).c_str());
  }
  rmdir(folder);
  printf("%d error(s), %d warning(s)%s\n", t.errors, t.warnings, options.strict && t.warnings ? ", strict: failed" : "");
  return t.errors || (options.strict && t.warnings) ? 1 : 0;
}
