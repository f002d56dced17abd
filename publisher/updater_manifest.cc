// updater-manifest: writes and checks the update manifest the way Updater.exe
// reads it. Built from the updater's own reader and comparison sources, so the
// two can never disagree.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "platform/platform.h"

// The updater asks InternetCrackUrlA; this is the same reading for the forms a
// publisher writes: scheme://[user[:password]@]host[:port][/path].
int platform::CrackUrl(const char* url, UrlParts* parts) {
  const char* colon = strstr(url, "://");
  if (!colon || colon == url) return 0;
  std::string scheme(url, colon);
  for (char& c : scheme) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  parts->scheme = scheme == "http" ? kSchemeHttp : scheme == "https" ? kSchemeHttps : kSchemeOther;
  std::string rest = colon + 3;
  std::string authority = rest.substr(0, rest.find_first_of("/?#"));
  size_t at = authority.rfind('@');
  std::string user = at == std::string::npos ? "" : authority.substr(0, at);
  std::string host = at == std::string::npos ? authority : authority.substr(at + 1);
  size_t userColon = user.find(':');
  parts->userLength = static_cast<unsigned long>(userColon == std::string::npos ? user.size() : userColon);
  parts->passwordLength = userColon == std::string::npos ? 0 : static_cast<unsigned long>(user.size() - userColon - 1);
  parts->hostLength = static_cast<unsigned long>(host.substr(0, host.find(':')).size());
  return 1;
}

namespace {

const char kStampFormat[] = "YYYY-MM-DD|HH:MM:SS";
const char* const kSwfSignatures[] = {"FWS", "CWS", "ZWS"};

const char kUsage[] =
    "usage: updater-manifest check MANIFEST [--installed VERSION]... [--stamp STORED_STAMP]... [--now STAMP]\n"
    "       updater-manifest make --version V --installer-url URL [--forced] [--content FILE --content-url URL]\n"
    "                             [--tz +HH:MM] [--out DIR]\n"
    "       updater-manifest VERB --help\n";

const char kCheckHelp[] =
    "updater-manifest check MANIFEST [--installed VERSION]... [--stamp STORED_STAMP]... [--now STAMP]\n"
    "\n"
    "Reads MANIFEST exactly as Updater.exe reads it and prints each field as read (or why it is empty),\n"
    "whether the upgrade is forced and why, then one line per --installed file version (is the upgrade\n"
    "offered?) and per --stamp (the client's stored swfUpdateTime: is the content fetched again?).\n"
    "--now is a client's local clock (" "YYYY-MM-DD|HH:MM:SS" "): a swf-date later than it makes that client\n"
    "download the content on every run until its clock passes the date. Without --now, the latest clock\n"
    "on earth (UTC+14) is taken.\n"
    "Warnings (one line each, \"warning: ...\") name the pitfalls of the updater's exact rules.\n"
    "Exit status: 0 no errors (warnings allowed), 1 the manifest has errors, 2 usage error.\n";

const char kMakeHelp[] =
    "updater-manifest make --version V --installer-url URL [--forced] [--content FILE --content-url URL]\n"
    "                      [--tz +HH:MM] [--out DIR]\n"
    "\n"
    "Writes a manifest that `check` passes without errors or warnings: to standard output, or with --out\n"
    "as a static tree for any web server: DIR/api/pellixupdatecfg.xml, and the content file copied to the\n"
    "path of --content-url inside DIR.\n"
    "V is four dot-separated numbers (0-65535). The flag is written \"force\" (forced) or \"0\".\n"
    "swf-date is the current time in the zone --tz (default +00:00, UTC), as " "YYYY-MM-DD|HH:MM:SS" ". The\n"
    "trade-off: a date later than a client's local clock makes that client download the content on every\n"
    "run until its clock passes the date; a date earlier than a client's last refresh makes that client\n"
    "skip this content. UTC is late for clients west of Greenwich and early for those east of it; a zone\n"
    "west of all your clients (e.g. -12:00) never makes anyone download twice, but makes clients that\n"
    "refreshed in the last hours skip it. `check --now` shows the verdict for a given client clock.\n"
    "Refuses a content file that does not begin with an SWF signature, a version that is not four\n"
    "numbers, and values that would not fit the updater's fields.\n";

struct Report {
  int errors = 0, warnings = 0;
  void Error(const std::string& text) {
    printf("error: %s\n", text.c_str());
    ++errors;
  }
  void Warn(const std::string& text) {
    printf("warning: %s\n", text.c_str());
    ++warnings;
  }
};

std::string Quote(const char* text) { return std::string("\"") + text + "\""; }

// "a.b.c.d", each 0-65535: the form a file version takes.
bool ParseVersion(const char* text, unsigned parts[4]) {
  const char* c = text;
  for (int i = 0; i < 4; ++i) {
    if (!isdigit(static_cast<unsigned char>(*c))) return false;
    unsigned long value = 0;
    for (int digits = 0; isdigit(static_cast<unsigned char>(*c)); ++c, ++digits) {
      if (digits >= 5) return false;
      value = value * 10 + static_cast<unsigned long>(*c - '0');
    }
    if (value > 65535) return false;
    parts[i] = static_cast<unsigned>(value);
    if (i < 3 && *c++ != '.') return false;
  }
  return *c == '\0';
}

bool IsStamp(const char* text) {
  if (strlen(text) != sizeof kStampFormat - 1) return false;
  for (size_t i = 0; kStampFormat[i]; ++i) {
    bool digit = isalpha(static_cast<unsigned char>(kStampFormat[i])) != 0;
    if (digit ? !isdigit(static_cast<unsigned char>(text[i])) : text[i] != kStampFormat[i]) return false;
  }
  return true;
}

std::string Stamp(time_t when, long offsetSeconds) {
  time_t shifted = when + offsetSeconds;
  struct tm parts;
  gmtime_r(&shifted, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d|%H:%M:%S", &parts);
  return text;
}

// One field as Updater.exe reads it.
void PrintField(Report& report, const char* name, const char* value, long found, size_t capacity, bool required) {
  if (value[0]) {
    printf("%s: %s\n", name, Quote(value).c_str());
  } else if (found < 0) {
    printf("%s: missing\n", name);
    if (required) report.Error(std::string("<") + name + "> is missing (or its closing tag comes first)");
  } else if (static_cast<size_t>(found) >= capacity) {
    printf("%s: rejected (%ld bytes; holds at most %zu)\n", name, found, capacity - 1);
    report.Error(std::string(name) + " is longer than the updater's field: it is rejected, and left empty");
  } else {
    printf("%s: empty\n", name);
    if (required) report.Error(std::string("<") + name + "> is empty");
  }
}

int Check(const std::vector<std::string>& args) {
  std::string path;
  std::vector<std::string> installed, stamps;
  std::string now;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help") {
      fputs(kCheckHelp, stdout);
      return 0;
    }
    bool valued = i + 1 < args.size();
    if (a == "--installed" && valued) {
      installed.push_back(args[++i]);
    } else if (a == "--stamp" && valued) {
      stamps.push_back(args[++i]);
    } else if (a == "--now" && valued) {
      now = args[++i];
    } else if (a[0] != '-' && path.empty()) {
      path = a;
    } else {
      fputs(kUsage, stderr);
      return 2;
    }
  }
  if (path.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) {
    fprintf(stderr, "updater-manifest: cannot read %s\n", path.c_str());
    return 2;
  }
  std::string body;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) body.append(chunk, n);
  fclose(file);

  Report report;
  if (body.size() > kManifestCap) {
    printf("size: %zu bytes\n", body.size());
    report.Error("longer than the updater's cap of " + std::to_string(kManifestCap) + " bytes: it reads no manifest");
    return 1;
  }
  // The updater takes the body as text: it ends at the first NUL.
  size_t lastTag = 0;
  for (const char* tag : {"</version>", "<flag>", "</url>", "</swf-url>", "</swf-date>"}) {
    size_t at = body.find(tag);
    if (at != std::string::npos) lastTag = std::max(lastTag, at);
  }
  for (size_t i = 0; i < body.size() && i < lastTag; ++i) {
    unsigned char c = static_cast<unsigned char>(body[i]);
    if (c == 0 || (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) {
      report.Warn(c == 0 ? "a NUL byte at offset " + std::to_string(i) + ": the updater reads nothing after it"
                         : "a control byte (0x" + std::to_string(c) + ") at offset " + std::to_string(i));
      break;
    }
  }
  UpdateManifest& m = gManifest;
  m = UpdateManifest();
  ReadManifest(body.c_str());
  PrintField(report, "version", m.version, m.foundVersion, sizeof m.version, true);
  PrintField(report, "url", m.installerUrl, m.foundInstallerUrl, sizeof m.installerUrl, true);
  PrintField(report, "swf-url", m.contentUrl, m.foundContentUrl, sizeof m.contentUrl, false);
  PrintField(report, "swf-date", m.contentDate, m.foundContentDate, sizeof m.contentDate, false);

  const char* flag = strstr(body.c_str(), "<flag>");
  std::string flagValue;
  if (flag) {
    const char* value = flag + 6;
    const char* end = strstr(value, "</flag>");
    flagValue = std::string(value, end && end - value < 40 ? static_cast<size_t>(end - value) : strnlen(value, 12));
  }
  if (!flag) {
    printf("forced: no (\"<flag>\" is missing)\n");
    report.Error("<flag> is missing");
  } else if (m.forced) {
    printf("forced: yes (\"<flag>\" is followed by \"f\" in %s)\n", Quote(flagValue.c_str()).c_str());
    if (flagValue != "force" && flagValue != "f") {
      report.Warn("<flag>" + flagValue + "</flag> forces the upgrade: only its first byte counts, and it is \"f\"");
    }
  } else {
    printf("forced: no (\"<flag>\" is followed by %s, not \"f\")\n",
           flagValue.empty() ? "nothing" : Quote(flagValue.substr(0, 1).c_str()).c_str());
    static const char* const kLooksForced[] = {"true", "yes", "1", "t", "y", "on"};
    std::string lower = flagValue;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    bool looksForced = lower[0] == 'f';  // "F", "Force": an upper-case F is not forced
    for (const char* word : kLooksForced) looksForced = looksForced || lower == word;
    if (looksForced) {
      report.Warn("<flag>" + flagValue + "</flag> does not force the upgrade: only a lower-case \"f\" as its first "
                  "byte does");
    }
  }

  for (char* address : {m.installerUrl, m.contentUrl}) {
    if (address[0] && !IsWebAddress(address)) {
      report.Error(std::string(address == m.installerUrl ? "url" : "swf-url") + " " + Quote(address) +
                   " is not an absolute http:// or https:// address: the updater leaves it empty");
      address[0] = '\0';
    }
  }
  if (m.foundInstallerUrl < 0) printf("note: without <url> no upgrade is ever offered\n");
  std::string version = m.version;
  if (!version.empty() && (isspace(static_cast<unsigned char>(version.front())) ||
                           isspace(static_cast<unsigned char>(version.back())))) {
    report.Warn("the version has white space around it: every installed version sorts older, so the upgrade is "
                "offered on every run, even right after it was installed");
  }
  unsigned offered[4];
  bool offeredIsNumbers = ParseVersion(m.version, offered);
  if (m.version[0] && !offeredIsNumbers) report.Warn("the version is not four dot-separated numbers");
  if ((m.contentUrl[0] != '\0') != (m.contentDate[0] != '\0')) {
    report.Warn("swf-url and swf-date go together: with only one of them the content is never fetched");
  }
  if (m.contentDate[0]) {
    if (!IsStamp(m.contentDate)) {
      report.Warn(std::string("swf-date is not in the stored stamp's format ") + kStampFormat +
                  ": it compares with the stamps unpredictably");
    }
    std::string clock = now.empty() ? Stamp(time(nullptr), 14 * 3600) : now;
    if (StampIsNewer(m.contentDate, clock.c_str())) {
      report.Warn("swf-date sorts after the client clock " + Quote(clock.c_str()) +
                  ": such a client downloads mnMain.swf again on every run until its clock passes it");
    }
  }

  for (const std::string& v : installed) {
    bool newer = VersionIsNewer(m.version, v.c_str());
    if (!m.installerUrl[0]) {
      printf("installed %s: not offered (no installer address)\n", v.c_str());
    } else if (newer) {
      printf("installed %s: offered, %s (%s sorts after it as text)\n", v.c_str(), m.forced ? "forced" : "optional",
             Quote(m.version).c_str());
    } else {
      printf("installed %s: not offered (%s does not sort after it as text)\n", v.c_str(), Quote(m.version).c_str());
    }
    unsigned have[4];
    if (offeredIsNumbers && ParseVersion(v.c_str(), have)) {
      int numeric = 0;
      for (int i = 0; i < 4 && numeric == 0; ++i) numeric = offered[i] > have[i] ? 1 : offered[i] < have[i] ? -1 : 0;
      if ((numeric > 0) != newer) {
        report.Warn(Quote(m.version) + " is " + (numeric > 0 ? "newer" : "not newer") + " than " + v +
                    " as numbers, but the updater compares text: it is " + (newer ? "" : "not ") + "offered");
      }
    }
  }
  for (const std::string& stamp : stamps) {
    bool due = m.contentUrl[0] && m.contentDate[0] && StampIsNewer(m.contentDate, stamp.c_str());
    printf("stored %s: content %s\n", Quote(stamp.c_str()).c_str(),
           due ? "refreshed (swf-date sorts after it)" : "not refreshed");
  }
  printf("%d error(s), %d warning(s)\n", report.errors, report.warnings);
  return report.errors ? 1 : 0;
}

bool MakeDirectories(const std::string& path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), 0755);  // every folder on the way, then the last
    if (at == std::string::npos) break;
  }
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteFile(const std::string& path, const std::string& data) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = fwrite(data.data(), 1, data.size(), file) == data.size();
  return fclose(file) == 0 && ok;
}

int Refuse(const std::string& why) {
  fprintf(stderr, "updater-manifest make: %s\n", why.c_str());
  return 1;
}

int Make(const std::vector<std::string>& args) {
  std::string version, installerUrl, content, contentUrl, out, tz = "+00:00";
  bool forced = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* target = a == "--version" ? &version : a == "--installer-url" ? &installerUrl
                        : a == "--content" ? &content : a == "--content-url" ? &contentUrl
                        : a == "--out" ? &out : a == "--tz" ? &tz : nullptr;
    if (a == "--help") {
      fputs(kMakeHelp, stdout);
      return 0;
    } else if (a == "--forced") {
      forced = true;
    } else if (target && i + 1 < args.size()) {
      *target = args[++i];
    } else {
      fputs(kUsage, stderr);
      return 2;
    }
  }
  if (version.empty() || installerUrl.empty() || content.empty() != contentUrl.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  unsigned parts[4];
  if (!ParseVersion(version.c_str(), parts)) return Refuse("--version must be four dot-separated numbers (0-65535)");
  if (installerUrl.size() >= sizeof gManifest.installerUrl) {
    return Refuse("--installer-url is longer than the updater's field (" +
                  std::to_string(sizeof gManifest.installerUrl - 1) + " bytes)");
  }
  if (contentUrl.size() >= sizeof gManifest.contentUrl) {
    return Refuse("--content-url is longer than the updater's field (" +
                  std::to_string(sizeof gManifest.contentUrl - 1) + " bytes)");
  }
  for (const std::string* url : {&installerUrl, &contentUrl}) {
    if (!url->empty() && (!IsWebAddress(url->c_str()) || url->find('<') != std::string::npos)) {
      return Refuse(*url + " is not an absolute http:// or https:// address the updater accepts");
    }
  }
  int sign = 0, hours = 0, minutes = 0;
  if (sscanf(tz.c_str(), "%*1[+-]%2d:%2d", &hours, &minutes) != 2 || hours > 14 || minutes > 59) {
    return Refuse("--tz takes +HH:MM or -HH:MM");
  }
  sign = tz[0] == '-' ? -1 : 1;
  std::string contentBytes;
  if (!content.empty()) {
    FILE* file = fopen(content.c_str(), "rb");
    if (!file) return Refuse("cannot read " + content);
    char chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) contentBytes.append(chunk, n);
    fclose(file);
    bool swf = false;
    for (const char* prefix : kSwfSignatures) swf = swf || contentBytes.compare(0, 3, prefix) == 0;
    if (!swf) return Refuse(content + " does not begin with an SWF signature (FWS, CWS or ZWS)");
  }
  std::string manifest = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<update>\r\n";
  manifest += "  <version>" + version + "</version>\r\n";
  manifest += std::string("  <flag>") + (forced ? "force" : "0") + "</flag>\r\n";
  manifest += "  <url>" + installerUrl + "</url>\r\n";
  if (!content.empty()) {
    manifest += "  <swf-url>" + contentUrl + "</swf-url>\r\n";
    manifest += "  <swf-date>" + Stamp(time(nullptr), sign * (hours * 3600L + minutes * 60L)) + "</swf-date>\r\n";
  }
  manifest += "</update>\r\n";
  if (out.empty()) {
    fputs(manifest.c_str(), stdout);
    return 0;
  }
  if (!MakeDirectories(out + "/api") || !WriteFile(out + "/api/pellixupdatecfg.xml", manifest)) {
    return Refuse("cannot write " + out + "/api/pellixupdatecfg.xml");
  }
  if (!content.empty()) {
    // The content goes where its address points inside the tree.
    size_t scheme = contentUrl.find("://");
    size_t slash = contentUrl.find('/', scheme + 3);
    std::string local = slash == std::string::npos ? "" : contentUrl.substr(slash + 1);
    local = local.substr(0, local.find_first_of("?#"));
    if (local.empty() || local.find("..") != std::string::npos) {
      return Refuse("--content-url has no file path to lay the content at");
    }
    std::string target = out + "/" + local;
    if (!MakeDirectories(target.substr(0, target.rfind('/'))) || !WriteFile(target, contentBytes)) {
      return Refuse("cannot write " + target);
    }
  }
  printf("wrote %s/api/pellixupdatecfg.xml\n", out.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 1 ? 2 : 1), argv + argc);
  std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "check") return Check(args);
  if (verb == "make") return Make(args);
  if (verb == "--help" || verb == "-h") {
    fputs(kUsage, stdout);
    return 0;
  }
  fputs(kUsage, stderr);
  return 2;
}
