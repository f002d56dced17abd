// updater-manifest release: make, sign and check in one go, publishing
// nothing unless the clients will take it.
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <system_error>

#include "check.h"
#include "publisher.h"

namespace fs = std::filesystem;

namespace {

const char kReleaseHelp[] =
    "updater-manifest release --version V --installer-url URL --installer FILE [--content FILE --content-url URL]\n"
    "                         --cert CERT --key KEY --pin PIN [--pin PIN]... --out DIR [make's other options]\n"
    "\n"
    "Makes and signs the release (as `make --sign`) in a folder of its own, checks it as the clients built\n"
    "with these pins will (as `check --pin --installer --content`), and only when the check finds no error\n"
    "copies it into DIR: the content and the installer first, then the signature, the manifest last.\n"
    "On any error nothing in DIR is touched and the exit status is 1.\n"
    "The serial rises above the one in DIR (see make's --serial); the check refuses one that does not.\n";

// Copies the staged tree into `out`, the manifest and its signature last, so
// that a client never sees an offer whose files are not there yet.
bool Publish(const fs::path& staged, const fs::path& out) {
  std::error_code error;
  const fs::path api = "api";
  std::vector<fs::path> files, last = {api / "pellixupdatecfg.xml.p7s", api / "pellixupdatecfg.xml"};
  for (const auto& entry : fs::recursive_directory_iterator(staged, error)) {
    fs::path relative = entry.path().lexically_relative(staged);
    if (entry.is_regular_file() && relative != last[0] && relative != last[1]) files.push_back(relative);
  }
  files.insert(files.end(), last.begin(), last.end());
  for (const fs::path& file : files) {
    std::string data;
    if (!fs::exists(staged / file)) continue;
    fs::create_directories((out / file).parent_path(), error);
    fs::path temporary = out / file;
    temporary += ".new";
    if (!ReadWhole(staged / file, &data) || !WriteFile(temporary, data) ||
        (fs::rename(temporary, out / file, error), error)) {
      fprintf(stderr, "updater-manifest release: cannot write %s\n", (out / file).c_str());
      return false;
    }
    printf("published %s (%zu bytes, sha256 %s)\n", (out / file).c_str(), data.size(), Sha256Hex(data).c_str());
  }
  return true;
}

}  // namespace

int Release(const std::vector<std::string>& args) {
  CheckOptions check;
  std::vector<std::string> make;
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    bool valued = i + 1 < args.size();
    if (args[i] == "--help") {
      fputs(kReleaseHelp, stdout);
      return 0;
    } else if (args[i] == "--pin" && valued) {
      check.pins.push_back(args[++i]);
    } else if (args[i] == "--out" && valued) {
      out = args[++i];
    } else {
      if (args[i] == "--product" && valued) check.product = args[i + 1];
      if ((args[i] == "--installer" || args[i] == "--content") && valued) {
        (args[i] == "--installer" ? check.installerFile : check.contentFile) = args[i + 1];
      }
      make.push_back(args[i]);
    }
  }
  if (out.empty() || check.pins.empty() || check.installerFile.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  // The serial is chosen against the release it replaces, not the staging folder.
  bool givenSerial = false;
  for (const std::string& a : make) givenSerial = givenSerial || a == "--serial";
  if (!givenSerial) {
    unsigned long serial = 0;
    std::string fault = ChooseSerial("", ServedManifest(out), &serial);
    if (!fault.empty()) {
      fprintf(stderr, "updater-manifest release: %s; nothing published to %s\n", fault.c_str(), out.c_str());
      return 1;
    }
    make.insert(make.end(), {"--serial", std::to_string(serial)});
  }
  check.previous = ServedManifest(out);
  char folder[] = "/tmp/updater-release-XXXXXX";
  if (!mkdtemp(folder)) return 2;
  make.insert(make.end(), {"--sign", "--out", folder});
  printf("staged in %s:\n", folder);
  int status = Make(make);
  int errors = 0, warnings = 0;
  if (status == 0) {
    check.path = std::string(folder) + "/api/pellixupdatecfg.xml";
    status = CheckManifest(check, &errors, &warnings);
    printf("%d error(s), %d warning(s)\n", errors, warnings);
  }
  if (status != 0) {
    fprintf(stderr, "updater-manifest release: nothing published to %s\n", out.c_str());
  } else if (!Publish(folder, out)) {
    status = 1;
  }
  std::error_code error;
  fs::remove_all(folder, error);
  return status;
}
