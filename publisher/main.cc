// updater-manifest: writes, signs and checks the update manifest the way
// Updater.exe reads it. Built from the updater's own reader and comparison
// sources, so the two can never disagree.
#include <stdio.h>

#include "publisher.h"

const char kUsage[] =
    "usage: updater-manifest check MANIFEST [--installed VERSION]... [--stamp STORED_STAMP]... [--now STAMP]\n"
    "                              [--pin PIN]... [--installer FILE] [--content FILE] [--seed SEED]...\n"
    "                              [--previous MANIFEST] [--product NAME]\n"
    "       updater-manifest check --url http[s]://HOST[:PORT] [the options above but the files]\n"
    "       updater-manifest make --version V --installer-url URL [--installer FILE] [--forced] [--rollout N]\n"
    "                             [--content FILE --content-url URL] [--tz +HH:MM] [--out DIR]\n"
    "                             [--sign --cert CERT --key KEY] [--serial N] [--product NAME] [--expires DAYS]\n"
    "       updater-manifest sign MANIFEST --cert CERT --key KEY\n"
    "       updater-manifest release --version V --installer-url URL --installer FILE --cert CERT --key KEY\n"
    "                                --pin PIN... --out DIR [make's other options]\n"
    "       updater-manifest stage --out DIR --cert CERT --key KEY [--rollout N] [--expires DAYS]\n"
    "       updater-manifest report [LOG]... [--since TIME] [--until TIME] [--by-tenth] [--json] [--html FILE]\n"
    "       updater-manifest rollback --out DIR --to VERSION --cert CERT --key KEY [--history H]\n"
    "       updater-manifest inspect Updater.exe...\n"
    "       updater-manifest VERB --help\n";

const char* gCommand = "make";

int UsageError(const std::string& what) {
  fprintf(stderr, "updater-manifest: %s\n%s", what.c_str(), kUsage);
  return 2;
}

bool IsPin(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 1 ? 2 : 1), argv + argc);
  std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "check") return Check(args);
  if (verb == "make") return Make(args);
  if (verb == "sign") return Sign(args);
  if (verb == "release") return Release(args);
  if (verb == "stage") return Stage(args);
  if (verb == "report") return ReportCommand(args);
  if (verb == "inspect") return Inspect(args);
  if (verb == "rollback") return Rollback(args);
  if (verb == "--help" || verb == "-h") {
    fputs(kUsage, stdout);
    return 0;
  }
  fputs(kUsage, stderr);
  return 2;
}
