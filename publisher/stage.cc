// updater-manifest stage: changes a live release's stage, or only renews it,
// without a new version: the rollout, a higher serial, a fresh expiry, signed.
#include <stdio.h>

#include <filesystem>
#include <system_error>

#include "manifest/manifest.h"
#include "publisher.h"

namespace fs = std::filesystem;

namespace {

const char kStageHelp[] =
    "updater-manifest stage --out DIR --cert CERT --key KEY [--rollout N] [--expires DAYS]\n"
    "\n"
    "Changes the live release in DIR without a new version: rewrites <rollout> with N (0-100; 0 halts new\n"
    "offers, 100 offers it to every client), raises <serial> above the one served (to the current Unix time,\n"
    "or one more), renews <expires> (DAYS from now, default 30) and signs the result. Without --rollout it\n"
    "only renews: run it from cron well before the expiry. The files, the version and swf-date stay as\n"
    "they are, so no client downloads anything again. The signature is replaced first, the manifest last.\n"
    "A halt, a widening and a renewal each carry a higher serial than the stage before, so nobody on the\n"
    "way can serve the earlier stage again to clients that saw the later one.\n";

int Refuse(const std::string& why) {
  fprintf(stderr, "updater-manifest stage: %s\n", why.c_str());
  return 1;
}

// Replaces the value of the first <tag>...</tag>; false when there is none.
bool ReplaceValue(std::string* body, const std::string& tag, const std::string& value) {
  size_t open = body->find("<" + tag + ">");
  size_t close = body->find("</" + tag + ">");
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  open += tag.size() + 2;
  body->replace(open, close - open, value);
  return true;
}

// Writes `data` beside `path` and moves it into place in one step.
bool Replace(const std::string& path, const std::string& data) {
  std::error_code error;
  std::string temporary = path + ".new";
  if (!WriteFile(temporary, data)) return false;
  fs::rename(temporary, path, error);
  if (error) fs::remove(temporary, error);
  return !error;
}

}  // namespace

std::string Restamp(std::string* body, const std::string& replaced, const std::string& days, const std::string& rollout,
                    const std::string& cert, const std::string& key, std::string* signature) {
  std::string fault = FeedFault(*body);
  if (!fault.empty()) return fault + "; publish the release again with `release`";
  unsigned long serial = 0;
  std::string expires;
  if (!(fault = ChooseExpiry(days, &expires)).empty() || !(fault = ChooseSerial("", replaced, &serial)).empty()) {
    return fault;
  }
  ReplaceValue(body, "serial", std::to_string(serial));
  ReplaceValue(body, "expires", expires);
  if (!rollout.empty() && !ReplaceValue(body, "rollout", rollout)) {
    size_t at = body->find("  <product>");
    if (at == std::string::npos) return "no place for <rollout>";
    body->insert(at, "  <rollout>" + rollout + "</rollout>\r\n");
  }
  std::string why;
  *signature = SignBytes(*body, cert, key, &why);
  return signature->empty() ? why : "";
}

int Stage(const std::vector<std::string>& args) {
  std::string out, cert, key, rollout, days = "30";
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* target = a == "--out" ? &out : a == "--cert" ? &cert : a == "--key" ? &key
                        : a == "--rollout" ? &rollout : a == "--expires" ? &days : nullptr;
    if (a == "--help") {
      fputs(kStageHelp, stdout);
      return 0;
    } else if (target && i + 1 < args.size()) {
      *target = args[++i];
    } else {
      return UsageError(UnknownOption(a));
    }
  }
  if (out.empty() || cert.empty() || key.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  if (!rollout.empty() && RolloutPercent(rollout.c_str(), static_cast<long>(rollout.size())) < 0) {
    return Refuse("--rollout takes a whole percentage from 0 to 100");
  }
  const std::string path = ServedManifest(out);
  std::string body;
  if (!ReadWhole(path, &body)) return Refuse("there is no manifest at " + path + ": publish one with `release`");
  std::string signature, fault = Restamp(&body, path, days, rollout, cert, key, &signature);
  if (!fault.empty()) return Refuse(path + ": " + fault);
  if (!Replace(path + ".p7s", signature) || !Replace(path, body)) return Refuse("cannot write " + path);
  UpdateManifest m = ReadManifest(body.c_str());
  printf("staged %s: rollout %s, serial %s, expires %s\n", path.c_str(), m.foundRollout < 0 ? "none (100)" : m.rollout,
         m.serial, m.expires);
  return 0;
}
