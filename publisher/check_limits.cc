// The clients' ceilings as check rules: a file larger than a client holds is
// never taken, whatever else is right with the release.
#include <stdlib.h>
#include <sys/stat.h>

#include "check.h"
#include "download/download.h"

void FilesWithinCeilings(const CheckContext& c, std::vector<std::string>* out) {
  const struct {
    const std::string& file;
    unsigned long long ceiling;
    const char* what;
    const char* setting;
  } files[] = {{c.options->installerFile, c.options->maxInstallerBytes ? c.options->maxInstallerBytes : kMaxInstallerBytes,
                "installer", "UPDATER_MAX_INSTALLER_MB"},
               {c.options->contentFile, c.options->maxContentBytes ? c.options->maxContentBytes : kMaxContentBytes,
                "content", "UPDATER_MAX_CONTENT_MB"}};
  for (const auto& f : files) {
    struct stat info;
    if (f.file.empty() || stat(f.file.c_str(), &info) != 0) continue;
    if (static_cast<unsigned long long>(info.st_size) > f.ceiling) {
      out->push_back(f.file + " is " + std::to_string(info.st_size) + " bytes, more than the " +
                     std::to_string(f.ceiling) + " the clients hold as " + f.what + " (" + f.setting +
                     "): every client abandons it");
    }
  }
}

void HttpsClientAddresses(const CheckContext& c, std::vector<std::string>* out) {
  if (!c.options->httpsOnly) return;
  for (const char* url : {c.read.installerUrl, c.read.contentUrl}) {
    if (url[0] && !IsWebAddress(url, 1)) {
      out->push_back(Quote(url) + " is not https: a client built for https refuses it");
    }
  }
}

namespace {

std::vector<std::string> Pins(const std::string& list) {
  std::vector<std::string> pins;
  for (size_t start = 0; start < list.size();) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) pins.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return pins;
}

}  // namespace

std::string AsClient(const std::string& path, CheckOptions* o) {
  std::string image;
  std::map<std::string, std::string> facts;
  std::string fault = ReadWhole(path, &image) ? ReadFacts(image, &facts) : "cannot read it";
  if (!fault.empty()) return path + ": " + fault;
  o->pins = Pins(facts["installer-pins"]);
  o->feedPins = Pins(facts["feed-pins"]);
  o->httpsOnly = facts["scheme"] == "https";
  o->product = facts["product"];
  o->maxContentBytes = strtoull(facts["max-content-mb"].c_str(), nullptr, 10) << 20;
  o->maxInstallerBytes = strtoull(facts["max-installer-mb"].c_str(), nullptr, 10) << 20;
  o->signedReleases = facts["signed-releases"] == "1" ? 1 : 0;
  if (o->signedReleases && o->pins.empty()) return path + ": signed releases without pins";
  return "";
}

void InstallerTimeStamp(const CheckContext& c, std::vector<std::string>* out) {
  if (c.installerRead && c.installerFault.empty() && !c.installerWarning.empty()) {
    out->push_back(c.options->installerFile + ": " + c.installerWarning);
  }
}
