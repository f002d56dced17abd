// updater-manifest: writes and checks the update manifest the way Updater.exe
// reads it. Built from the updater's own reader and comparison sources, so the
// two can never disagree.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "platform/platform.h"

namespace {

const char kStampFormat[] = "YYYY-MM-DD|HH:MM:SS";
const char* const kSwfSignatures[] = {"FWS", "CWS", "ZWS"};

const char kUsage[] =
    "usage: updater-manifest check MANIFEST [--installed VERSION]... [--stamp STORED_STAMP]... [--now STAMP]\n"
    "                              [--pin PIN]... [--installer FILE] [--content FILE]\n"
    "       updater-manifest make --version V --installer-url URL [--installer FILE] [--forced]\n"
    "                             [--content FILE --content-url URL] [--tz +HH:MM] [--out DIR]\n"
    "                             [--sign --cert CERT --key KEY]\n"
    "       updater-manifest sign MANIFEST --cert CERT --key KEY\n"
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
    "With --pin (a signer pin, as UPDATER_TRUSTED_SIGNERS takes it; repeatable), MANIFEST.p7s is checked by the\n"
    "rules of a build that requires signed releases: a detached PKCS #7 signature over the exact bytes, no\n"
    "signed attributes, a pinned signer key, and a <sha256> (and with content a <swf-sha256>) present.\n"
    "--installer FILE and --content FILE are held against <sha256> and <swf-sha256>.\n"
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
    "numbers, and values that would not fit the updater's fields.\n"
    "--installer FILE writes its <sha256>, and copies it to the path of --installer-url inside DIR; with\n"
    "--content, <swf-sha256> is written too. --sign --cert CERT --key KEY also writes the signature\n"
    "api/pellixupdatecfg.xml.p7s (see `sign`).\n";

const char kSignHelp[] =
    "updater-manifest sign MANIFEST --cert CERT --key KEY\n"
    "\n"
    "Writes MANIFEST.p7s: a detached CMS (PKCS #7) SignedData in DER over the exact bytes of MANIFEST, SHA-256\n"
    "with the key's algorithm, with no signed attributes, carrying the signer certificate (PEM files).\n"
    "Serve it beside the manifest, at /api/pellixupdatecfg.xml.p7s.\n";

bool ReadWhole(const std::string& path, std::string* data) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) data->append(chunk, n);
  fclose(file);
  return true;
}

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) out += {kHex[bytes[i] >> 4], kHex[bytes[i] & 0xF]};
  return out;
}

std::string Sha256Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr);
  return Hex(digest, size);
}

// The pin of a certificate: SHA-256 of its SubjectPublicKeyInfo (DER).
std::string KeyPin(X509* certificate) {
  unsigned char* der = nullptr;
  int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
  if (size <= 0) return "";
  std::string pin = Sha256Hex(std::string(reinterpret_cast<char*>(der), static_cast<size_t>(size)));
  OPENSSL_free(der);
  return pin;
}

// A detached CMS SignedData in DER over `data`: SHA-256, no signed attributes,
// the signer certificate inside. Empty on failure, with the reason in `why`.
std::string SignBytes(const std::string& data, const std::string& certPath, const std::string& keyPath,
                      std::string* why) {
  std::string out;
  BIO* certBio = BIO_new_file(certPath.c_str(), "r");
  BIO* keyBio = BIO_new_file(keyPath.c_str(), "r");
  X509* cert = certBio ? PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr) : nullptr;
  EVP_PKEY* key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr) : nullptr;
  BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
  const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_NOATTR | CMS_PARTIAL;
  CMS_ContentInfo* cms = cert && key ? CMS_sign(nullptr, nullptr, nullptr, nullptr, flags) : nullptr;
  if (!cert || !key) {
    *why = "cannot read the certificate or the key (PEM)";
  } else if (!cms || !CMS_add1_signer(cms, cert, key, EVP_sha256(), flags) || !CMS_final(cms, in, nullptr, flags)) {
    *why = "signing failed (does the key belong to the certificate?)";
  } else {
    unsigned char* der = nullptr;
    int size = i2d_CMS_ContentInfo(cms, &der);
    if (size > 0) out.assign(reinterpret_cast<char*>(der), static_cast<size_t>(size));
    OPENSSL_free(der);
  }
  CMS_ContentInfo_free(cms);
  BIO_free(in);
  EVP_PKEY_free(key);
  X509_free(cert);
  BIO_free(keyBio);
  BIO_free(certBio);
  return out;
}

// Holds a signature to the product's rules; the first rule it breaks, or "".
std::string SignatureFault(const std::string& data, const std::string& signature,
                           const std::vector<std::string>& pins) {
  if (signature.size() > kSignatureCap) return "larger than the updater's cap of " + std::to_string(kSignatureCap);
  const unsigned char* der = reinterpret_cast<const unsigned char*>(signature.data());
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &der, static_cast<long>(signature.size()));
  if (!cms) return "not a DER PKCS #7 signature";
  std::string fault;
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
  for (int i = 0; signers && i < sk_CMS_SignerInfo_num(signers); ++i) {
    if (CMS_signed_get_attr_count(sk_CMS_SignerInfo_value(signers, i)) > 0) fault = "it carries signed attributes";
  }
  BIO* content = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
  if (fault.empty() && !signers) fault = "no signer";
  if (fault.empty() && CMS_verify(cms, nullptr, nullptr, content, nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
    fault = "it does not verify over these bytes";
  }
  if (fault.empty()) {
    STACK_OF(X509)* certs = CMS_get0_signers(cms);
    std::string pin = certs && sk_X509_num(certs) > 0 ? KeyPin(sk_X509_value(certs, 0)) : "";
    bool pinned = false;
    for (const std::string& p : pins) pinned = pinned || p == pin;
    if (!pinned) fault = "its signer key " + pin + " is not pinned";
    sk_X509_free(certs);
  }
  BIO_free(content);
  CMS_ContentInfo_free(cms);
  return fault;
}

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
  std::vector<std::string> installed, stamps, pins;
  std::string now, installerFile, contentFile;
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
    } else if (a == "--pin" && valued) {
      pins.push_back(args[++i]);
    } else if (a == "--installer" && valued) {
      installerFile = args[++i];
    } else if (a == "--content" && valued) {
      contentFile = args[++i];
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
  if (m.foundInstallerSha256 >= 0) PrintField(report, "sha256", m.installerSha256, m.foundInstallerSha256, 65, false);
  if (m.foundContentSha256 >= 0) {
    PrintField(report, "swf-sha256", m.contentSha256, m.foundContentSha256, 65, false);
  }
  for (const char* hash : {m.installerSha256, m.contentSha256}) {
    if (hash[0] && (strlen(hash) != 64 || strspn(hash, "0123456789abcdef") != 64)) {
      report.Error(Quote(hash) + " is not 64 lower-case hex digits: the file it names is always refused");
    }
  }

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
  if (!pins.empty()) {
    std::string signature;
    std::string fault = !ReadWhole(path + ".p7s", &signature) ? "there is no " + path + ".p7s"
                                                                 : SignatureFault(body, signature, pins);
    if (fault.empty()) {
      printf("signature: valid, signer pinned\n");
    } else {
      report.Error("signature refused: " + fault + "; a build that requires signed releases reads no manifest");
    }
    if (!m.installerSha256[0]) report.Error("<sha256> is missing: signed releases start no installer without it");
    if (m.contentUrl[0] && !m.contentSha256[0]) {
      report.Error("<swf-sha256> is missing: signed releases refresh no content without it");
    }
  }
  const struct {
    const std::string& file;
    const char* hash;
    const char* tag;
  } files[] = {{installerFile, m.installerSha256, "<sha256>"}, {contentFile, m.contentSha256, "<swf-sha256>"}};
  for (const auto& f : files) {
    std::string data;
    if (f.file.empty()) continue;
    if (!ReadWhole(f.file, &data)) {
      report.Error("cannot read " + f.file);
    } else if (Sha256Hex(data) != f.hash) {
      report.Error(std::string(f.tag) + " " + Quote(f.hash) + " is not the SHA-256 of " + f.file + " (" +
                   Sha256Hex(data) + "): the updater refuses the file");
    } else {
      printf("%s matches %s\n", f.tag, f.file.c_str());
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
  std::string version, installerUrl, installer, content, contentUrl, out, cert, key, tz = "+00:00";
  bool forced = false, sign = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* target = a == "--version" ? &version : a == "--installer-url" ? &installerUrl
                        : a == "--content" ? &content : a == "--content-url" ? &contentUrl
                        : a == "--out" ? &out : a == "--tz" ? &tz : a == "--installer" ? &installer
                        : a == "--cert" ? &cert : a == "--key" ? &key : nullptr;
    if (a == "--help") {
      fputs(kMakeHelp, stdout);
      return 0;
    } else if (a == "--forced") {
      forced = true;
    } else if (a == "--sign") {
      sign = true;
    } else if (target && i + 1 < args.size()) {
      *target = args[++i];
    } else {
      fputs(kUsage, stderr);
      return 2;
    }
  }
  if (version.empty() || installerUrl.empty() || content.empty() != contentUrl.empty() ||
      sign != (!cert.empty() && !key.empty()) || (sign && out.empty())) {
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
  int hours = 0, minutes = 0;
  if (sscanf(tz.c_str(), "%*1[+-]%2d:%2d", &hours, &minutes) != 2 || hours > 14 || minutes > 59) {
    return Refuse("--tz takes +HH:MM or -HH:MM");
  }
  int zone = tz[0] == '-' ? -1 : 1;
  std::string contentBytes, installerBytes;
  if (!installer.empty() && !ReadWhole(installer, &installerBytes)) return Refuse("cannot read " + installer);
  if (!content.empty()) {
    if (!ReadWhole(content, &contentBytes)) return Refuse("cannot read " + content);
    bool swf = false;
    for (const char* prefix : kSwfSignatures) swf = swf || contentBytes.compare(0, 3, prefix) == 0;
    if (!swf) return Refuse(content + " does not begin with an SWF signature (FWS, CWS or ZWS)");
  }
  std::string manifest = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<update>\r\n";
  manifest += "  <version>" + version + "</version>\r\n";
  manifest += std::string("  <flag>") + (forced ? "force" : "0") + "</flag>\r\n";
  manifest += "  <url>" + installerUrl + "</url>\r\n";
  if (!installer.empty()) manifest += "  <sha256>" + Sha256Hex(installerBytes) + "</sha256>\r\n";
  if (!content.empty()) {
    manifest += "  <swf-url>" + contentUrl + "</swf-url>\r\n";
    manifest += "  <swf-sha256>" + Sha256Hex(contentBytes) + "</swf-sha256>\r\n";
    manifest += "  <swf-date>" + Stamp(time(nullptr), zone * (hours * 3600L + minutes * 60L)) + "</swf-date>\r\n";
  }
  manifest += "</update>\r\n";
  if (out.empty()) {
    fputs(manifest.c_str(), stdout);
    return 0;
  }
  if (!MakeDirectories(out + "/api") || !WriteFile(out + "/api/pellixupdatecfg.xml", manifest)) {
    return Refuse("cannot write " + out + "/api/pellixupdatecfg.xml");
  }
  // The files go where their addresses point inside the tree.
  const struct {
    const std::string& url;
    const std::string& bytes;
    bool given;
  } files[] = {{contentUrl, contentBytes, !content.empty()}, {installerUrl, installerBytes, !installer.empty()}};
  for (const auto& f : files) {
    if (!f.given) continue;
    size_t slash = f.url.find('/', f.url.find("://") + 3);
    std::string local = slash == std::string::npos ? "" : f.url.substr(slash + 1);
    local = local.substr(0, local.find_first_of("?#"));
    if (local.empty() || local.find("..") != std::string::npos) return Refuse(f.url + " has no file path in the tree");
    std::string target = out + "/" + local;
    if (!MakeDirectories(target.substr(0, target.rfind('/'))) || !WriteFile(target, f.bytes)) {
      return Refuse("cannot write " + target);
    }
  }
  if (sign) {
    std::string why, signature = SignBytes(manifest, cert, key, &why);
    if (signature.empty()) return Refuse(why);
    if (!WriteFile(out + "/api/pellixupdatecfg.xml.p7s", signature)) return Refuse("cannot write the signature");
  }
  printf("wrote %s/api/pellixupdatecfg.xml\n", out.c_str());
  return 0;
}

}  // namespace

int Sign(const std::vector<std::string>& args) {
  std::string manifest, cert, key;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help") {
      fputs(kSignHelp, stdout);
      return 0;
    }
    if ((args[i] == "--cert" || args[i] == "--key") && i + 1 < args.size()) {
      (args[i] == "--cert" ? cert : key) = args[i + 1];
      ++i;
    } else if (args[i][0] != '-' && manifest.empty()) {
      manifest = args[i];
    } else {
      fputs(kUsage, stderr);
      return 2;
    }
  }
  if (manifest.empty() || cert.empty() || key.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::string data, why;
  if (!ReadWhole(manifest, &data)) {
    fprintf(stderr, "updater-manifest sign: cannot read %s\n", manifest.c_str());
    return 1;
  }
  std::string signature = SignBytes(data, cert, key, &why);
  if (signature.empty() || !WriteFile(manifest + ".p7s", signature)) {
    fprintf(stderr, "updater-manifest sign: %s\n", signature.empty() ? why.c_str() : "cannot write the signature");
    return 1;
  }
  printf("wrote %s.p7s (%zu bytes)\n", manifest.c_str(), signature.size());
  return 0;
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 1 ? 2 : 1), argv + argc);
  std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "check") return Check(args);
  if (verb == "make") return Make(args);
  if (verb == "sign") return Sign(args);
  if (verb == "--help" || verb == "-h") {
    fputs(kUsage, stdout);
    return 0;
  }
  fputs(kUsage, stderr);
  return 2;
}
