// updater-manifest rollback: publishes an earlier release again from the
// history `release` keeps, signed again with a higher serial and a fresh
// expiry, the files first and the manifest last.
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <system_error>

#include "manifest/manifest.h"
#include "publisher.h"

namespace fs = std::filesystem;

namespace {

const char kRollbackHelp[] =
    "updater-manifest rollback --out DIR --to VERSION --cert CERT --key KEY [--history H] [--expires DAYS]\n"
    "\n"
    "Publishes the release of VERSION that `release` kept in the history (H, by default DIR.history) again:\n"
    "its files first, then its manifest signed again with a serial above the one served and a fresh expiry\n"
    "(DAYS, default 30), the manifest last; on any failure DIR is left as it was. Clients that installed a\n"
    "later version keep it (nothing is ever downgraded); the others are offered VERSION again. To stop offers\n"
    "of a bad release at once, halt it first: `stage --rollout 0`.\n";

int Refuse(const std::string& why) {
  fprintf(stderr, "updater-manifest rollback: %s\n", why.c_str());
  return 1;
}

// The newest kept release of `version`: its folder, or "".
fs::path Kept(const fs::path& history, const std::string& version) {
  fs::path best;
  unsigned long bestSerial = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(history, error)) {
    std::string name = entry.path().filename().string();
    size_t dash = name.rfind('-');
    if (dash == std::string::npos || name.substr(0, dash) != version) continue;
    unsigned long serial = strtoul(name.c_str() + dash + 1, nullptr, 10);
    if (best.empty() || serial > bestSerial) {
      best = entry.path();
      bestSerial = serial;
    }
  }
  return best;
}

}  // namespace

int Rollback(const std::vector<std::string>& args) {
  std::string out, version, cert, key, history, days = "30";
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* target = a == "--out" ? &out : a == "--to" ? &version : a == "--cert" ? &cert : a == "--key" ? &key
                        : a == "--history" ? &history : a == "--expires" ? &days : nullptr;
    if (a == "--help") {
      fputs(kRollbackHelp, stdout);
      return 0;
    } else if (target && i + 1 < args.size()) {
      *target = args[++i];
    } else {
      return UsageError(UnknownOption(a));
    }
  }
  if (out.empty() || version.empty() || cert.empty() || key.empty()) return UsageError("rollback takes --out, --to, --cert and --key");
  if (history.empty()) history = DefaultHistory(out);
  fs::path kept = Kept(history, version);
  if (kept.empty()) return Refuse("no release of " + version + " kept in " + history);
  char folder[] = "/tmp/updater-rollback-XXXXXX";
  if (!mkdtemp(folder)) return Refuse("cannot make a staging folder");
  std::error_code error;
  fs::copy(kept, folder, fs::copy_options::recursive, error);
  std::string body, signature, manifest = ServedManifest(folder);
  std::string fault = error ? "cannot copy " + kept.string() : !ReadWhole(manifest, &body) ? "no manifest in " + kept.string()
                      : Restamp(&body, ServedManifest(out), days, "", cert, key, &signature);
  int status = 0;
  if (!fault.empty()) {
    status = Refuse(fault + "; nothing published");
  } else if (!WriteFile(manifest, body) || !WriteFile(manifest + ".p7s", signature) || !Publish(folder, out)) {
    status = Refuse("nothing published to " + out);
  } else {
    UpdateManifest m = ReadManifest(body.c_str());
    printf("rolled back to %s from %s: serial %s, expires %s\n", version.c_str(), kept.c_str(), m.serial, m.expires);
  }
  fs::remove_all(folder, error);
  return status;
}
