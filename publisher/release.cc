// updater-manifest release: make, sign and check in one go, publishing
// nothing unless the clients will take it.
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <system_error>

#include "check.h"
#include "manifest/manifest.h"
#include "publisher.h"

namespace fs = std::filesystem;

namespace {

const char kReleaseHelp[] =
    "updater-manifest release --version V --installer-url URL --installer FILE [--content FILE --content-url URL]\n"
    "                         --cert CERT --key KEY (--pin PIN | --client Updater.exe)... --out DIR\n"
    "                         [make's other options]\n"
    "\n"
    "Makes and signs the release (as `make --sign`) in a folder of its own, checks it as the clients built\n"
    "with these pins will (as `check --pin --installer --content`), and only when the check finds no error\n"
    "copies it into DIR: the content and the installer first, then the signature, the manifest last.\n"
    "On any error DIR is left as it was (a publish that fails half-way puts every file back) and the exit\n"
    "status is 1. --client Updater.exe (once or more, for a mixed fleet) checks the release as each build will:\n"
    "its pins, its scheme, its ceilings, its product (`inspect` prints them).\n"
    "Every release published is kept whole (manifest, signature, files) in --history H, by default DIR.history\n"
    "beside DIR, outside the served tree, where `rollback` finds it again.\n"
    "The serial rises above the one in DIR (see make's --serial); the check refuses one that does not.\n";

// A file of the live tree as it was before the release replaced it.
struct Replaced {
  fs::path target, backup;  // backup empty: there was no file before
};

// Puts back every file the release replaced or added, newest first, and
// removes the folders it made; the files it could not restore are named, and
// the answer is false then.
bool Restore(const std::vector<Replaced>& replaced, const std::vector<fs::path>& madeFolders) {
  bool whole = true;
  for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) {
    std::error_code error;
    if (it->backup.empty()) {
      fs::remove(it->target, error);
    } else {
      fs::rename(it->backup, it->target, error);
    }
    if (error) {
      fprintf(stderr, "updater-manifest release: could not restore %s: %s\n", it->target.c_str(),
              error.message().c_str());
      whole = false;
    }
  }
  for (auto it = madeFolders.rbegin(); it != madeFolders.rend(); ++it) {
    std::error_code error;
    fs::remove(*it, error);  // empty again: only what the release put there went in
  }
  return whole;
}

// Makes the folders of `folder` that are missing, outermost first, noting each.
void MakeFolders(const fs::path& folder, std::vector<fs::path>* made) {
  std::error_code error;
  if (folder.empty() || fs::exists(folder, error)) return;
  MakeFolders(folder.parent_path(), made);
  if (fs::create_directory(folder, error)) made->push_back(folder);
}

// Copies the staged tree into `out`, the manifest and its signature last, so
// that a client never sees an offer whose files are not there yet. Each file
// goes in by one rename; the file it replaces is kept aside beside it (as
// NAME.old, on the same volume) until the whole release is in, and put back
// should any step fail.
}  // namespace

bool Publish(const std::string& stagedFolder, const std::string& outFolder) {
  const fs::path staged = stagedFolder, out = outFolder;
  std::error_code error;
  const fs::path api = "api";
  std::vector<fs::path> files, last = {api / "pellixupdatecfg.xml.p7s", api / "pellixupdatecfg.xml"};
  for (const auto& entry : fs::recursive_directory_iterator(staged, error)) {
    fs::path relative = entry.path().lexically_relative(staged);
    if (entry.is_regular_file() && relative != last[0] && relative != last[1]) files.push_back(relative);
  }
  files.insert(files.end(), last.begin(), last.end());
  std::vector<Replaced> replaced;
  std::vector<fs::path> madeFolders;
  for (const fs::path& file : files) {
    std::string data;
    if (!fs::exists(staged / file)) continue;
    MakeFolders((out / file).parent_path(), &madeFolders);
    fs::path temporary = out / file;
    temporary += ".new";
    Replaced r = {out / file, fs::path()};
    bool written = ReadWhole(staged / file, &data) && WriteFile(temporary, data);
    if (written && fs::exists(r.target)) {  // kept aside by a copy: the live file stays until the rename
      r.backup = r.target;
      r.backup += ".old";
      written = fs::copy_file(r.target, r.backup, fs::copy_options::overwrite_existing, error) && !error;
    }
    if (written) fs::rename(temporary, r.target, error);
    if (!written || error) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      if (!r.backup.empty()) fs::remove(r.backup, ignored);
      fprintf(stderr, "updater-manifest release: cannot write %s\n", r.target.c_str());
      if (!Restore(replaced, madeFolders)) return false;
      fprintf(stderr, "updater-manifest release: every file put back as it was\n");
      return false;
    }
    replaced.push_back(r);
    printf("published %s (%zu bytes, sha256 %s)\n", r.target.c_str(), data.size(), Sha256Hex(data).c_str());
  }
  for (const Replaced& r : replaced) {
    if (!r.backup.empty()) fs::remove(r.backup, error);
  }
  return true;
}


std::string DefaultHistory(const std::string& out) {
  std::string folder = out;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + ".history";
}

namespace {

struct ReleaseOptions {
  CheckOptions check;
  std::vector<std::string> make;  // what goes on to `make`
  std::string out, history;
};

// -1 when the options are complete, else the exit status (help, usage).
int ParseRelease(const std::vector<std::string>& args, ReleaseOptions* r) {
  for (size_t i = 0; i < args.size(); ++i) {
    bool valued = i + 1 < args.size();
    if (args[i] == "--help") {
      fputs(kReleaseHelp, stdout);
      return 0;
    } else if (args[i] == "--pin" && valued) {
      r->check.pins.push_back(args[++i]);
      if (!IsPin(r->check.pins.back())) return UsageError("--pin " + args[i] + ": not a pin (64 lower-case hex digits)");
    } else if (args[i] == "--out" && valued) {
      r->out = args[++i];
    } else if (args[i] == "--client" && valued) {
      r->check.clients.push_back(args[++i]);
    } else if (args[i] == "--history" && valued) {
      r->history = args[++i];
    } else {
      if (args[i] == "--product" && valued) r->check.product = args[i + 1];
      if ((args[i] == "--installer" || args[i] == "--content") && valued) {
        (args[i] == "--installer" ? r->check.installerFile : r->check.contentFile) = args[i + 1];
      }
      r->make.push_back(args[i]);
    }
  }
  bool complete = !r->out.empty() && (!r->check.pins.empty() || !r->check.clients.empty()) &&
                  !r->check.installerFile.empty();
  return complete ? -1 : UsageError("release takes --out, --installer and --pin or --client");
}

// A release publishes a new version: a live release's stage changes with
// `stage`; an earlier version goes out again only as a newer one. "" or why not.
std::string NotNewer(const ReleaseOptions& r) {
  std::string version, live;
  for (size_t i = 0; i + 1 < r.make.size(); ++i) {
    if (r.make[i] == "--version") version = r.make[i + 1];
  }
  if (!ReadWhole(ServedManifest(r.out), &live)) return "";
  UpdateManifest replaced = ReadManifest(live.c_str());
  // As text for every client, and as numbers for signed ones (make writes four numbers).
  bool newerAsText = VersionIsNewer(version.c_str(), replaced.version) != 0;
  bool newerAsNumbers = VersionIsNewerAsNumbers(version.c_str(), replaced.version) != 0;
  if (!replaced.version[0] || (newerAsText && newerAsNumbers)) return "";
  return version + " is not newer than " + replaced.version + ", the version in " + r.out +
         (newerAsText ? " as four numbers" : "") + ": change a live release's stage with `stage`";
}

// Keeps the published release whole where `rollback` finds it again.
void KeepInHistory(const ReleaseOptions& r, const std::string& staged) {
  std::string body;
  ReadWhole(ServedManifest(r.out), &body);
  UpdateManifest published = ReadManifest(body.c_str());
  fs::path kept = fs::path(r.history.empty() ? DefaultHistory(r.out) : r.history) /
                  (std::string(published.version) + "-" + published.serial);
  std::error_code error;
  fs::create_directories(kept, error);
  fs::copy(staged, kept, fs::copy_options::recursive | fs::copy_options::overwrite_existing, error);
  if (error) {
    fprintf(stderr, "updater-manifest release: published, but not kept in %s: %s\n", kept.c_str(),
            error.message().c_str());
  } else {
    printf("kept in %s\n", kept.c_str());
  }
}

}  // namespace

int Release(const std::vector<std::string>& args) {
  ReleaseOptions r;
  int status = ParseRelease(args, &r);
  if (status >= 0) return status;
  std::string fault = NotNewer(r);
  // The serial is chosen against the release it replaces, not the staging folder.
  bool givenSerial = false;
  for (const std::string& a : r.make) givenSerial = givenSerial || a == "--serial";
  unsigned long serial = 0;
  if (fault.empty() && !givenSerial && (fault = ChooseSerial("", ServedManifest(r.out), &serial)).empty()) {
    r.make.insert(r.make.end(), {"--serial", std::to_string(serial)});
  }
  if (!fault.empty()) {
    fprintf(stderr, "updater-manifest release: %s; nothing published to %s\n", fault.c_str(), r.out.c_str());
    return 1;
  }
  r.check.previous = ServedManifest(r.out);
  char folder[] = "/tmp/updater-release-XXXXXX";
  if (!mkdtemp(folder)) return 2;
  const std::string staged = std::string(folder) + "/tree";
  r.make.insert(r.make.end(), {"--sign", "--out", staged, "--previous", ServedManifest(r.out)});
  printf("staged in %s:\n", folder);
  gCommand = "release";
  status = Make(r.make);
  int errors = 0, warnings = 0;
  if (status == 0) {
    r.check.path = ServedManifest(staged);
    status = CheckClients(r.check, &errors, &warnings);
    printf("%d error(s), %d warning(s)\n", errors, warnings);
  }
  if (status != 0) {
    fprintf(stderr, "updater-manifest release: nothing published to %s\n", r.out.c_str());
  } else if (!Publish(staged, r.out)) {
    status = 1;
  } else {
    KeepInHistory(r, staged);
  }
  std::error_code error;
  fs::remove_all(folder, error);
  return status;
}
