// The rules `check` holds a manifest to: the pitfalls of the updater's exact
// reading, and what builds with pins and signed releases require.
#include <ctype.h>
#include <string.h>

#include "check.h"
#include "publisher.h"

namespace {

typedef std::vector<std::string> Messages;

// A field that was missing, rejected or empty; `required` fields must have a value.
void FieldFault(const char* name, const char* value, long found, size_t capacity, bool required, Messages* out) {
  if (value[0]) return;
  if (found >= 0 && static_cast<size_t>(found) >= capacity) {
    out->push_back(std::string(name) + " is longer than the updater's field: it is rejected, and left empty");
  } else if (required) {
    out->push_back(std::string("<") + name + (found < 0 ? "> is missing (or its closing tag comes first)"
                                                         : "> is empty"));
  }
}

void ControlBytes(const CheckContext& c, Messages* out) {
  // The updater takes the body as text: it ends at the first NUL.
  size_t lastTag = 0;
  for (const char* tag : {"</version>", "<flag>", "</url>", "</swf-url>", "</swf-date>"}) {
    size_t at = c.body.find(tag);
    if (at != std::string::npos) lastTag = std::max(lastTag, at);
  }
  for (size_t i = 0; i < c.body.size() && i < lastTag; ++i) {
    unsigned char b = static_cast<unsigned char>(c.body[i]);
    if (b == 0 || (b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F) {
      out->push_back(b == 0 ? "a NUL byte at offset " + std::to_string(i) + ": the updater reads nothing after it"
                            : "a control byte (0x" + std::to_string(b) + ") at offset " + std::to_string(i));
      return;
    }
  }
}

void Version(const CheckContext& c, Messages* out) {
  FieldFault("version", c.m.version, c.m.foundVersion, sizeof c.m.version, true, out);
}
void InstallerUrl(const CheckContext& c, Messages* out) {
  FieldFault("url", c.m.installerUrl, c.refusedUrl[0].empty() ? c.m.foundInstallerUrl : 0, sizeof c.m.installerUrl,
             c.refusedUrl[0].empty(), out);
}
void ContentFields(const CheckContext& c, Messages* out) {
  FieldFault("swf-url", c.m.contentUrl, c.m.foundContentUrl, sizeof c.m.contentUrl, false, out);
  FieldFault("swf-date", c.m.contentDate, c.m.foundContentDate, sizeof c.m.contentDate, false, out);
}

void Hashes(const CheckContext& c, Messages* out) {
  FieldFault("sha256", c.m.installerSha256, c.m.foundInstallerSha256, sizeof c.m.installerSha256, false, out);
  FieldFault("swf-sha256", c.m.contentSha256, c.m.foundContentSha256, sizeof c.m.contentSha256, false, out);
  for (const char* hash : {c.m.installerSha256, c.m.contentSha256}) {
    if (hash[0] && (strlen(hash) != 64 || strspn(hash, "0123456789abcdef") != 64)) {
      out->push_back(Quote(hash) + " is not 64 lower-case hex digits: the file it names is always refused");
    }
  }
}

void FlagMissing(const CheckContext& c, Messages* out) {
  if (!c.hasFlag) out->push_back("<flag> is missing");
}

void FlagForcesUnawares(const CheckContext& c, Messages* out) {
  if (c.m.forced && c.flagValue != "force" && c.flagValue != "f") {
    out->push_back("<flag>" + c.flagValue + "</flag> forces the upgrade: only its first byte counts, and it is \"f\"");
  }
}

void FlagLooksForced(const CheckContext& c, Messages* out) {
  if (!c.hasFlag || c.m.forced) return;
  static const char* const kLooksForced[] = {"true", "yes", "1", "t", "y", "on"};
  std::string lower = c.flagValue;
  for (char& ch : lower) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
  bool looksForced = lower[0] == 'f';  // "F", "Force": an upper-case F is not forced
  for (const char* word : kLooksForced) looksForced = looksForced || lower == word;
  if (looksForced) {
    out->push_back("<flag>" + c.flagValue + "</flag> does not force the upgrade: only a lower-case \"f\" as its "
                   "first byte does");
  }
}

void WebAddresses(const CheckContext& c, Messages* out) {
  const char* names[] = {"url", "swf-url"};
  for (int i = 0; i < 2; ++i) {
    if (c.refusedUrl[i].empty()) continue;
    out->push_back(std::string(names[i]) + " " + Quote(c.refusedUrl[i].c_str()) +
                   " is not an absolute http:// or https:// address: the updater leaves it empty");
  }
}

void VersionSpaces(const CheckContext& c, Messages* out) {
  std::string v = c.m.version;
  if (!v.empty() && (isspace(static_cast<unsigned char>(v.front())) || isspace(static_cast<unsigned char>(v.back())))) {
    out->push_back("the version has white space around it: every installed version sorts older, so the upgrade is "
                   "offered on every run, even right after it was installed");
  }
}

void VersionForm(const CheckContext& c, Messages* out) {
  if (c.m.version[0] && !c.versionIsNumbers) out->push_back("the version is not four dot-separated numbers");
}

void TextAndNumberOrder(const CheckContext& c, Messages* out) {
  for (const std::string& v : c.options->installed) {
    bool known = false;
    int numeric = CompareAsNumbers(c.offered, v.c_str(), &known);
    bool newer = VersionIsNewer(c.m.version, v.c_str());
    if (c.versionIsNumbers && known && (numeric > 0) != newer) {
      out->push_back(Quote(c.m.version) + " is " + (numeric > 0 ? "newer" : "not newer") + " than " + v +
                     " as numbers, but the updater compares text: it is " + (newer ? "" : "not ") + "offered");
    }
  }
}

void ContentPair(const CheckContext& c, Messages* out) {
  if ((c.m.contentUrl[0] != '\0') != (c.m.contentDate[0] != '\0')) {
    out->push_back("swf-url and swf-date go together: with only one of them the content is never fetched");
  }
}

void StampForm(const CheckContext& c, Messages* out) {
  if (c.m.contentDate[0] && !IsStamp(c.m.contentDate)) {
    out->push_back(std::string("swf-date is not in the stored stamp's format ") + kStampFormat +
                   ": it compares with the stamps unpredictably");
  }
}

void StampInFuture(const CheckContext& c, Messages* out) {
  if (!c.m.contentDate[0]) return;
  std::string clock = c.options->now.empty() ? Stamp(time(nullptr), 14 * 3600) : c.options->now;
  if (StampIsNewer(c.m.contentDate, clock.c_str())) {
    out->push_back("swf-date sorts after the client clock " + Quote(clock.c_str()) +
                   ": such a client downloads mnMain.swf again on every run until its clock passes it");
  }
}

void Signature(const CheckContext& c, Messages* out) {
  if (!c.signatureFault.empty()) {
    out->push_back("signature refused: " + c.signatureFault +
                   "; a build that requires signed releases reads no manifest");
  }
}

void HashesRequired(const CheckContext& c, Messages* out) {
  if (!SignedRelease(c)) return;
  if (!c.m.installerSha256[0]) out->push_back("<sha256> is missing: signed releases start no installer without it");
  if (c.m.contentUrl[0] && !c.m.contentSha256[0]) {
    out->push_back("<swf-sha256> is missing: signed releases refresh no content without it");
  }
}

// With pins, the installer must be signed, whole and pinned, or no client starts it.
void InstallerPinned(const CheckContext& c, Messages* out) {
  if (c.options->pins.empty() || c.installerFault.empty()) return;
  out->push_back(c.options->installerFile + " refused: " + c.installerFault +
                 ": builds with these pins never start it");
}

// Without pins the build starts it unverified; a signature still protects it on the way.
void InstallerSigned(const CheckContext& c, Messages* out) {
  if (!c.options->pins.empty() || c.installerFault.empty()) return;
  out->push_back(c.options->installerFile + ": " + c.installerFault + ": a build with pins would refuse it");
}

void Rollout(const CheckContext& c, Messages* out) {
  if (RolloutPercent(c.m.rollout, c.m.foundRollout) < 0) {
    out->push_back("<rollout> must be a whole percentage from 0 to 100 in one to three digits: the updater withholds "
                   "the offer from everyone");
  }
}

void FilesMatch(const CheckContext& c, Messages* out) {
  const struct {
    const std::string& file;
    const char* hash;
    const char* tag;
  } files[] = {{c.options->installerFile, c.m.installerSha256, "<sha256>"},
               {c.options->contentFile, c.m.contentSha256, "<swf-sha256>"}};
  for (const auto& f : files) {
    std::string data;
    if (f.file.empty() || !f.hash[0]) continue;  // no hash to hold it to: HashesRequired says whether one is due
    if (!ReadWhole(f.file, &data)) {
      out->push_back("cannot read " + f.file);
    } else if (Sha256Hex(data) != f.hash) {
      out->push_back(std::string(f.tag) + " " + Quote(f.hash) + " is not the SHA-256 of " + f.file + " (" +
                     Sha256Hex(data) + "): the updater refuses the file");
    }
  }
}

}  // namespace

bool SignedRelease(const CheckContext& c) {
  std::string signature;
  return RequiresSigned(*c.options) || ReadWhole(c.options->path + ".p7s", &signature);
}

int CompareAsNumbers(const unsigned offered[4], const char* installed, bool* known) {
  unsigned have[4];
  *known = ParseVersion(installed, have);
  int numeric = 0;
  for (int i = 0; *known && i < 4 && numeric == 0; ++i) {
    numeric = offered[i] > have[i] ? 1 : offered[i] < have[i] ? -1 : 0;
  }
  return numeric;
}

const CheckRule kCheckRules[] = {
    {"body", kWarning, ControlBytes},
    {"version", kError, Version},
    {"version", kWarning, VersionSpaces},
    {"version", kWarning, VersionForm},
    {"version", kWarning, TextAndNumberOrder},
    {"flag", kError, FlagMissing},
    {"flag", kWarning, FlagForcesUnawares},
    {"flag", kWarning, FlagLooksForced},
    {"url", kError, InstallerUrl},
    {"url", kError, WebAddresses},
    {"swf-url", kError, ContentFields},
    {"swf-url", kWarning, ContentPair},
    {"swf-date", kWarning, StampForm},
    {"swf-date", kWarning, StampInFuture},
    {"sha256", kError, Hashes},
    {"rollout", kError, Rollout},
    {"signature", kError, Signature},
    {"sha256", kError, HashesRequired},
    {"files", kError, FilesMatch},
    {"files", kError, FilesWithinCeilings},
    {"url", kError, HttpsClientAddresses},
    {"installer", kError, InstallerPinned},
    {"installer", kWarning, InstallerSigned},
    {"installer", kWarning, InstallerTimeStamp},
    {"feed", kError, FeedFacts},
    {"serial", kError, FeedSerialRises},
    {"expires", kError, FeedExpired},
    {"expires", kWarning, FeedExpiresSoon},
};
const size_t kCheckRuleCount = sizeof kCheckRules / sizeof kCheckRules[0];
