// updater-manifest make: writes a manifest, and the files it names, as a tree
// any web server can serve.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "check.h"
#include "manifest/manifest.h"
#include "publisher.h"

namespace {

const char kMakeHelp[] =
    "updater-manifest make --version V --installer-url URL [--installer FILE] [--forced] [--rollout N]\n"
    "                      [--content FILE --content-url URL] [--tz +HH:MM] [--out DIR]\n"
    "                      [--sign --cert CERT --key KEY] [--serial N] [--product NAME] [--expires DAYS]\n"
    "\n"
    "Writes a manifest that `check` passes without errors or warnings: to standard output, or with --out\n"
    "(a folder that holds no manifest yet: a live tree takes `release` and `stage`) as a static tree for any web\n"
    "server: DIR/api/pellixupdatecfg.xml, and the content file copied to the\n"
    "path of --content-url inside DIR.\n"
    "V is four dot-separated numbers (0-65535). The flag is written \"force\" (forced) or \"0\".\n"
    "swf-date is the current time in the zone --tz (default +00:00, UTC), as " "YYYY-MM-DD|HH:MM:SS" ". The\n"
    "trade-off: a date later than a client's local clock makes that client download the content on every\n"
    "run until its clock passes the date; a date earlier than a client's last refresh makes that client\n"
    "skip this content. UTC is late for clients west of Greenwich and early for those east of it; a zone\n"
    "west of all your clients (e.g. -12:00) never makes anyone download twice, but makes clients that\n"
    "refreshed in the last hours skip it. `check --now` shows the verdict for a given client clock.\n"
    "Refuses a content file that does not begin with an SWF signature, a version that is not four\n"
    "numbers, and values that would not fit the updater's fields.\n"
    "--installer FILE writes its <sha256>, and copies it to the path of --installer-url inside DIR; with\n"
    "--content, <swf-sha256> is written too. --sign --cert CERT --key KEY also writes the signature\n"
    "api/pellixupdatecfg.xml.p7s (see `sign`) and checks the release as `release` does, with --pin PIN and\n"
    "--client Updater.exe (repeatable): a release the clients would refuse fails (exit 1).\n"
    "--rollout N (0-100) offers the release to N % of the clients (each by its own random seed); without it,\n"
    "to all of them. Change a live release's stage with `stage` (widen, or --rollout 0 to halt), never by\n"
    "publishing an earlier manifest again: signed clients refuse a serial lower than one they saw.\n"
    "The signed feed's facts, which builds with signed releases require and others ignore:\n"
    "<serial>: --serial N, by default the current Unix time, or one more than the serial of --previous MANIFEST\n"
    "(the one this replaces) when that is higher; a serial more than a day ahead of this clock is refused. <product>: --product\n"
    "NAME, by default the build's UPDATER_PRODUCT (\"" UPDATER_PRODUCT "\"). <expires>: --expires DAYS from\n"
    "now (default 30), in UTC; renew it with `stage` before then, or signed clients take nothing from it.\n"
    "The swf-date of the manifest replaced (--previous MANIFEST) is kept when the\n"
    "content is the same bytes at the same address: its clients have it already.\n"
    "--report writes <report>1</report>: the clients report each outcome to /api/pellixupdatereport (`report`).\n";

int Refuse(const std::string& why) {
  fprintf(stderr, "updater-manifest %s: %s\n", gCommand, why.c_str());
  return 1;
}

struct MakeOptions {
  std::string version, installerUrl, installer, content, contentUrl, out, cert, key, rollout, tz = "+00:00";
  std::string serialText, product = DefaultProduct(), expiresDays = "30", previous;
  bool forced = false, sign = false, report = false;
  std::vector<std::string> pins, clients;  // with --sign: the clients the release is checked as
  unsigned long serial = 0;  // chosen from the above
  std::string expires;
};

// -1 when the options are complete, else the exit status (help, usage).
int ParseMake(const std::vector<std::string>& args, MakeOptions* o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* target = a == "--version" ? &o->version : a == "--installer-url" ? &o->installerUrl
                        : a == "--content" ? &o->content : a == "--content-url" ? &o->contentUrl
                        : a == "--out" ? &o->out : a == "--tz" ? &o->tz : a == "--installer" ? &o->installer
                        : a == "--cert" ? &o->cert : a == "--key" ? &o->key
                        : a == "--rollout" ? &o->rollout : a == "--serial" ? &o->serialText
                        : a == "--product" ? &o->product : a == "--expires" ? &o->expiresDays
                        : a == "--previous" ? &o->previous : nullptr;
    if (a == "--help") {
      fputs(kMakeHelp, stdout);
      return 0;
    } else if (a == "--forced") {
      o->forced = true;
    } else if (a == "--sign") {
      o->sign = true;
    } else if (a == "--report") {
      o->report = true;
    } else if ((a == "--pin" || a == "--client") && i + 1 < args.size()) {
      (a == "--pin" ? o->pins : o->clients).push_back(args[++i]);
    } else if (target && i + 1 < args.size()) {
      *target = args[++i];
    } else {
      return UsageError(UnknownOption(a));
    }
  }
  if (o->version.empty() || o->installerUrl.empty() || o->content.empty() != o->contentUrl.empty() ||
      o->sign != (!o->cert.empty() && !o->key.empty()) || (o->sign && o->out.empty())) {
    fputs(kUsage, stderr);
    return 2;
  }
  return -1;
}

// "" when the values fit the updater's rules, else why not; chooses the
// serial and the expiry.
std::string ValuesFault(MakeOptions& o, long* zoneSeconds) {
  unsigned parts[4];
  if (!ParseVersion(o.version.c_str(), parts)) return "--version must be four dot-separated numbers (0-65535)";
  if (o.installerUrl.size() >= sizeof(UpdateManifest::installerUrl)) {
    return "--installer-url is longer than the updater's field (" +
           std::to_string(sizeof(UpdateManifest::installerUrl) - 1) + " bytes)";
  }
  if (o.contentUrl.size() >= sizeof(UpdateManifest::contentUrl)) {
    return "--content-url is longer than the updater's field (" + std::to_string(sizeof(UpdateManifest::contentUrl) - 1) +
           " bytes)";
  }
  for (const std::string* url : {&o.installerUrl, &o.contentUrl}) {
    if (!url->empty() && (!IsWebAddress(url->c_str(), 0) || url->find('<') != std::string::npos)) {
      return *url + " is not an absolute http:// or https:// address the updater accepts";
    }
  }
  if (!o.rollout.empty() && RolloutPercent(o.rollout.c_str(), static_cast<long>(o.rollout.size())) < 0) {
    return "--rollout takes a whole percentage from 0 to 100";
  }
  int hours = 0, minutes = 0;
  if (sscanf(o.tz.c_str(), "%*1[+-]%2d:%2d", &hours, &minutes) != 2 || hours > 14 || minutes > 59) {
    return "--tz takes +HH:MM or -HH:MM";
  }
  *zoneSeconds = (o.tz[0] == '-' ? -1 : 1) * (hours * 3600L + minutes * 60L);
  if (o.product.empty() || o.product.size() >= sizeof(UpdateManifest::product) ||
      o.product.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") !=
          std::string::npos) {
    return "--product takes a name of letters, digits, '.', '_' and '-', at most 63 bytes";
  }
  std::string fault = ChooseExpiry(o.expiresDays, &o.expires);
  if (!fault.empty()) return fault;
  return ChooseSerial(o.serialText, o.previous, &o.serial);
}

// The swf-date: the one of the manifest replaced when the content is the same
// bytes (its clients have it: they must not download it again), else now.
std::string ContentDate(const MakeOptions& o, const std::string& contentHash, long zoneSeconds) {
  std::string before;
  if (!o.previous.empty() && ReadWhole(o.previous, &before)) {
    UpdateManifest m = ReadManifest(before.c_str());
    if (m.contentDate[0] && contentHash == m.contentSha256 && o.contentUrl == m.contentUrl) return m.contentDate;
  }
  return Stamp(time(nullptr), zoneSeconds);
}

std::string ManifestText(const MakeOptions& o, const std::string& installerBytes, const std::string& contentBytes,
                         long zoneSeconds) {
  std::string manifest = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<update>\r\n";
  manifest += "  <version>" + o.version + "</version>\r\n";
  manifest += std::string("  <flag>") + (o.forced ? "force" : "0") + "</flag>\r\n";
  manifest += "  <url>" + o.installerUrl + "</url>\r\n";
  if (!o.rollout.empty()) manifest += "  <rollout>" + o.rollout + "</rollout>\r\n";
  manifest += FeedLines(o.serial, o.product, o.expires);
  if (o.report) manifest += "  <report>1</report>\r\n";
  if (!o.installer.empty()) manifest += "  <sha256>" + Sha256Hex(installerBytes) + "</sha256>\r\n";
  if (!o.content.empty()) {
    manifest += "  <swf-url>" + o.contentUrl + "</swf-url>\r\n";
    const std::string hash = Sha256Hex(contentBytes);
    manifest += "  <swf-sha256>" + hash + "</swf-sha256>\r\n";
    manifest += "  <swf-date>" + ContentDate(o, hash, zoneSeconds) + "</swf-date>\r\n";
  }
  return manifest + "</update>\r\n";
}

// Writes `bytes` to `path` and says so: its size and SHA-256, for the
// publisher's records and for comparing with what the server hands out.
bool WriteReported(const std::string& path, const std::string& bytes) {
  if (!WriteFile(path, bytes)) return false;
  printf("wrote %s (%zu bytes, sha256 %s)\n", path.c_str(), bytes.size(), Sha256Hex(bytes).c_str());
  return true;
}

// Writes `bytes` where `url` points inside the tree `out`; "" or why not.
std::string PlaceAtAddress(const std::string& out, const std::string& url, const std::string& bytes) {
  size_t slash = url.find('/', url.find("://") + 3);
  std::string local = slash == std::string::npos ? "" : url.substr(slash + 1);
  local = local.substr(0, local.find_first_of("?#"));
  if (local.empty() || local.find("..") != std::string::npos) return url + " has no file path in the tree";
  std::string target = out + "/" + local;
  if (!MakeDirectories(target.substr(0, target.rfind('/'))) || !WriteReported(target, bytes)) {
    return "cannot write " + target;
  }
  return "";
}

// A signed release is checked as `release` checks it, with the pins and
// clients given: what the clients would refuse fails here.
int CheckSigned(const MakeOptions& o) {
  CheckOptions check;
  check.path = ServedManifest(o.out);
  check.pins = o.pins;
  check.clients = o.clients;
  check.installerFile = o.installer;
  check.contentFile = o.content;
  check.product = o.product;
  int errors = 0, warnings = 0;
  int status = CheckClients(check, &errors, &warnings);
  printf("%d error(s), %d warning(s)\n", errors, warnings);
  return status ? Refuse("the signed release fails its checks (above): the clients would not take it") : 0;
}

}  // namespace

int Make(const std::vector<std::string>& args) {
  MakeOptions o;
  int status = ParseMake(args, &o);
  if (status >= 0) return status;
  long zone = 0;
  std::string fault = ValuesFault(o, &zone);
  if (!fault.empty()) return Refuse(fault);
  std::string contentBytes, installerBytes;
  if (!o.installer.empty() && !ReadWhole(o.installer, &installerBytes)) return Refuse("cannot read " + o.installer);
  if (!o.content.empty()) {
    if (!ReadWhole(o.content, &contentBytes)) return Refuse("cannot read " + o.content);
    if (!StartsWithOneOf(contentBytes, kSwfSignatures, 3)) {
      return Refuse(o.content + " does not begin with an SWF signature (FWS, CWS or ZWS)");
    }
  }
  std::string manifest = ManifestText(o, installerBytes, contentBytes, zone);
  if (o.out.empty()) {
    fputs(manifest.c_str(), stdout);
    return 0;
  }
  while (o.out.size() > 1 && o.out.back() == '/') o.out.pop_back();
  // Into a live tree the manifest would land before its files, beside the
  // old signature: `release` publishes in the order clients need.
  std::string live;
  if (ReadWhole(ServedManifest(o.out), &live)) {
    return Refuse(o.out + " holds a manifest already: publish into a live tree with `release` (or `stage`), "
                  "or make into an empty folder");
  }
  if (!MakeDirectories(o.out + "/api") || !WriteReported(o.out + "/api/pellixupdatecfg.xml", manifest)) {
    return Refuse("cannot write " + o.out + "/api/pellixupdatecfg.xml");
  }
  // The files go where their addresses point inside the tree.
  if (!o.content.empty() && !(fault = PlaceAtAddress(o.out, o.contentUrl, contentBytes)).empty()) return Refuse(fault);
  if (!o.installer.empty() && !(fault = PlaceAtAddress(o.out, o.installerUrl, installerBytes)).empty()) {
    return Refuse(fault);
  }
  if (o.sign) {
    std::string why, signature = SignBytes(manifest, o.cert, o.key, &why);
    if (signature.empty()) return Refuse(why);
    if (!WriteReported(o.out + "/api/pellixupdatecfg.xml.p7s", signature)) return Refuse("cannot write the signature");
    if (strcmp(gCommand, "make") == 0) return CheckSigned(o);  // `release` checks as it publishes
  }
  return 0;
}
