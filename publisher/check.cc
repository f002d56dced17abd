// updater-manifest check: reads a manifest exactly as Updater.exe reads it,
// prints what each client would do with it, and walks the rules.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "check.h"
#include "publisher.h"

namespace {

const char kCheckHelp[] =
    "updater-manifest check MANIFEST [--installed VERSION]... [--stamp STORED_STAMP]... [--now STAMP]\n"
    "                             [--pin PIN]... [--installer FILE] [--content FILE] [--seed SEED]...\n"
    "                             [--previous MANIFEST] [--product NAME]\n"
    "updater-manifest check --url http[s]://HOST[:PORT] [--installed VERSION]... [--pin PIN]... ...\n"
    "\n"
    "--url is a dry run against the live server: it fetches what Updater.exe built for HOST fetches, the way it\n"
    "fetches it (the manifest address with its ?1 and the User-Agent it sends, the .p7s beside it, then the\n"
    "content and the installer from the manifest's addresses), checks the answers (status, Content-Length,\n"
    "the manifest's caching, the files' first bytes) and then runs every check below on what arrived.\n"
    "\n"
    "Reads MANIFEST exactly as Updater.exe reads it and prints each field as read (or why it is empty),\n"
    "whether the upgrade is forced and why, then one line per --installed file version (is the upgrade\n"
    "offered?) and per --stamp (the client's stored swfUpdateTime: is the content fetched again?).\n"
    "--now is a client's local clock (" "YYYY-MM-DD|HH:MM:SS" "): a swf-date later than it makes that client\n"
    "download the content on every run until its clock passes the date. Without --now, the latest clock\n"
    "on earth (UTC+14) is taken.\n"
    "Warnings (one line each, \"warning: ...\") name the pitfalls of the updater's exact rules.\n"
    "With --pin (a signer pin, as UPDATER_TRUSTED_SIGNERS takes it; repeatable), MANIFEST.p7s is checked by the\n"
    "rules of a build that requires signed releases: a detached PKCS #7 signature over the exact bytes, no\n"
    "signed attributes, a pinned signer key, and a <sha256> (and with content a <swf-sha256>) present; and an\n"
    "--installed version is offered only when the version is also newer as four numbers.\n"
    "--installer FILE and --content FILE are held against <sha256> and <swf-sha256>.\n"
    "<rollout>N</rollout> offers the release to N % of the clients: --seed SEED (a client's updateSeed, the\n"
    "REG_DWORD under HKCU\\Software\\TarvelonMM\\Orvessa, decimal or 0x...) prints its bucket and verdict.\n"
    "<serial>, <product> and <expires> are printed; a signed release needs all three (--product names the\n"
    "clients' product, by default the build's UPDATER_PRODUCT), --previous FILE (the manifest this one\n"
    "replaces) must have a lower serial, and an expiry less than 7 days away is a warning.\n"
    "--client Updater.exe (repeatable) judges the release as that build does, from the facts it carries\n"
    "(`inspect`): its pins, https or http, its ceilings, its product; once per build, for a mixed fleet.\n"
    "Exit status: 0 no errors (warnings allowed; none with --strict), 1 the manifest has errors, 2 usage error.\n";

// A client's seed as the options give it: decimal, or 0x and hex digits.
bool IsSeed(const std::string& text) {
  bool hex = text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0;
  std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
    return false;
  }
  return strtoull(text.c_str(), nullptr, 0) <= 0xFFFFFFFFull && digits.size() <= (hex ? 8u : 10u);
}

// -1 when the options are complete, else the exit status (help, usage).
int ParseCheck(const std::vector<std::string>& args, CheckOptions* o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help") {
      fputs(kCheckHelp, stdout);
      return 0;
    }
    bool valued = i + 1 < args.size();
    std::string* single = a == "--now" ? &o->now : a == "--installer" ? &o->installerFile
                        : a == "--content" ? &o->contentFile : a == "--url" ? &o->url
                        : a == "--previous" ? &o->previous : a == "--product" ? &o->product : nullptr;
    std::vector<std::string>* repeated = a == "--installed" ? &o->installed : a == "--stamp" ? &o->stamps
                                       : a == "--pin" ? &o->pins : a == "--seed" ? &o->seeds
                                       : a == "--client" ? &o->clients : nullptr;
    if (a == "--strict") {
      o->strict = true;
    } else if (single && valued) {
      *single = args[++i];
    } else if (repeated && valued) {
      repeated->push_back(args[++i]);
    } else if (a[0] != '-' && o->path.empty()) {
      o->path = a;
    } else {
      return UsageError(UnknownOption(a));
    }
    if (repeated == &o->pins && !IsPin(o->pins.back())) {
      return UsageError("--pin " + o->pins.back() + ": not a pin (64 lower-case hex digits)");
    }
    if (repeated == &o->seeds && !IsSeed(o->seeds.back())) {
      return UsageError("--seed " + o->seeds.back() + ": not a seed (decimal, or 0x and hex digits; 32 bits)");
    }
  }
  return o->path.empty() == o->url.empty() ? UsageError("check takes MANIFEST or --url, one of them") : -1;
}

// Reads the manifest as the updater does into `c`, and judges its signature
// as a build with the pins would.
void ReadAsTheUpdater(CheckContext* c) {
  const CheckOptions& o = *c->options;
  c->read = ReadManifest(c->body.c_str());
  if (RequiresSigned(o)) {
    std::string signature, path = o.path + ".p7s";
    c->signatureFault = !ReadWhole(path, &signature)
                            ? (o.signatureWhere.empty() ? "there is no " + path : o.signatureWhere)
                            : SignatureFault(c->body, signature, o.feedPins.empty() ? o.pins : o.feedPins);
  }
  c->read.signatureTrusted = RequiresSigned(o) && c->signatureFault.empty();
  // The addresses as the updater keeps them, whatever else is decided.
  const BuildPolicy webOnly = {0, 0, "", 0};
  c->m = DecideUpdate(c->read, ClientFacts(), webOnly).manifest;
  c->m.signatureTrusted = c->read.signatureTrusted;
  const char* read[] = {c->read.installerUrl, c->read.contentUrl};
  const char* kept[] = {c->m.installerUrl, c->m.contentUrl};
  for (int i = 0; i < 2; ++i) {
    if (read[i][0] && !kept[i][0]) c->refusedUrl[i] = read[i];
  }
  const char* flag = strstr(c->body.c_str(), "<flag>");
  c->hasFlag = flag != nullptr;
  if (flag) {
    const char* value = flag + 6;
    const char* end = strstr(value, "</flag>");
    c->flagValue = std::string(value, end && end - value < 40 ? static_cast<size_t>(end - value) : strnlen(value, 12));
  }
  c->versionIsNumbers = ParseVersion(c->m.version, c->offered);
}

// The installer's signature, judged once for the report and the rules.
void JudgeInstaller(CheckContext* c) {
  std::string image;
  const CheckOptions& o = *c->options;
  c->installerRead = !o.installerFile.empty() && ReadWhole(o.installerFile, &image);
  if (c->installerRead) {
    c->installerFault = AuthenticodeFault(image, o.pins, &c->installerSigner, &c->installerWarning);
  }
}

// The installer's signer, as the updater will see it.
void PrintInstaller(const CheckContext& c) {
  if (!c.installerRead) return;
  if (c.installerFault.empty()) {
    printf("installer: signed by %s%s\n", c.installerSigner.c_str(), c.options->pins.empty() ? "" : ", pinned");
  } else {
    printf("installer: %s%s%s\n", c.installerFault.c_str(), c.installerSigner.empty() ? "" : "; signer ",
           c.installerSigner.c_str());
  }
}

}  // namespace

int Check(const std::vector<std::string>& args) {
  CheckOptions options;
  int status = ParseCheck(args, &options);
  if (status >= 0) return status;
  if (!options.url.empty()) return CheckServed(options);
  int errors = 0, warnings = 0;
  status = CheckClients(options, &errors, &warnings);
  if (status == 2) return status;
  printf("%d error(s), %d warning(s)%s\n", errors, warnings, options.strict && warnings ? ", strict: failed" : "");
  return errors || (options.strict && warnings) ? 1 : 0;
}

int CheckClients(const CheckOptions& options, int* errors, int* warnings) {
  if (options.clients.empty()) return CheckManifest(options, errors, warnings);
  int status = 0;
  for (const std::string& client : options.clients) {
    CheckOptions as = options;
    std::string fault = AsClient(client, &as);
    printf("as the client %s (%s, product %s, %zu installer pin(s)):\n", client.c_str(),
           as.httpsOnly ? "https" : "http", Printable(as.product).c_str(), as.pins.size());
    if (!fault.empty()) {
      printf("error: %s\n", fault.c_str());
      ++*errors;
      status = 1;
      continue;
    }
    int answer = CheckManifest(as, errors, warnings);
    if (answer == 2) return 2;
    status = status || answer;
  }
  return status;
}

int CheckManifest(const CheckOptions& options, int* errors, int* warnings) {
  CheckContext c;
  c.options = &options;
  if (!ReadWhole(options.path, &c.body)) {
    fprintf(stderr, "updater-manifest: cannot read %s\n", options.path.c_str());
    return 2;
  }
  if (c.body.size() > kManifestCap) {
    printf("size: %zu bytes\n", c.body.size());
    printf("error: longer than the updater's cap of %lu bytes: it reads no manifest\n", kManifestCap);
    ++*errors;
    return 1;
  }
  ReadAsTheUpdater(&c);
  PrintFields(c);
  PrintVerdicts(c);
  JudgeInstaller(&c);
  PrintInstaller(c);
  int signatureFaults = 0;
  std::vector<std::string> messages;
  for (size_t i = 0; i < kCheckRuleCount; ++i) {
    messages.clear();
    kCheckRules[i].test(c, &messages);
    for (const std::string& text : messages) {
      printf("%s: %s\n", kCheckRules[i].severity == kError ? "error" : "warning", text.c_str());
      ++*(kCheckRules[i].severity == kError ? errors : warnings);
      signatureFaults += strcmp(kCheckRules[i].field, "signature") == 0;
    }
  }
  if (RequiresSigned(options) && !signatureFaults) printf("signature: valid, signer pinned\n");
  return *errors ? 1 : 0;
}
