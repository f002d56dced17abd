// What the commands of updater-manifest share: file access, hashes and
// signatures (OpenSSL's libcrypto), and the forms of the manifest's values.
#pragma once

#include <time.h>

#include <map>
#include <string>
#include <vector>

typedef struct x509_st X509;

extern const char kUsage[];
// The command that speaks in messages ("make", or "release" when it makes).
extern const char* gCommand;
// A usage error, said with the usage: exit status 2.
int UsageError(const std::string& what);
// The words for an option a command does not know, or that lacks its value.
inline std::string UnknownOption(const std::string& option) { return "unknown or incomplete option " + option; }
// 1 when `text` is a pin: 64 lower-case hex digits.
bool IsPin(const std::string& text);
extern const char kStampFormat[];  // "YYYY-MM-DD|HH:MM:SS"
extern const char* const kSwfSignatures[3];
// 1 when `data` begins with one of the `count` prefixes.
bool StartsWithOneOf(const std::string& data, const char* const* prefixes, size_t count);

// The commands: each answers the exit status (0 done, 1 refused, 2 usage).
int Check(const std::vector<std::string>& args);
int Make(const std::vector<std::string>& args);
int Sign(const std::vector<std::string>& args);
int Release(const std::vector<std::string>& args);
int Stage(const std::vector<std::string>& args);
int ReportCommand(const std::vector<std::string>& args);
int Rollback(const std::vector<std::string>& args);

// A release's manifest signed again for now: a serial above the one at
// `replaced`, an expiry `days` ahead, and (when given) another rollout; its
// new signature in `signature`. "" or why not.
std::string Restamp(std::string* body, const std::string& replaced, const std::string& days, const std::string& rollout,
                    const std::string& cert, const std::string& key, std::string* signature);
// Copies a staged tree into the live `out`, the manifest last, each file by
// one rename; on any failure every file goes back as it was (release.cc).
bool Publish(const std::string& staged, const std::string& out);
// Where `release` keeps the releases of `out` whole: DIR.history beside it.
std::string DefaultHistory(const std::string& out);

// Little-endian numbers in a file image; 0 past its end.
inline unsigned long ReadLe32(const std::string& b, size_t at) {
  if (at + 4 > b.size() || at + 4 < at) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(b.data()) + at;
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned long>(p[3]) << 24;
}
inline unsigned ReadLe16(const std::string& b, size_t at) {
  if (at + 2 > b.size() || at + 2 < at) return 0;
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

// Files.
bool ReadWhole(const std::string& path, std::string* data);
bool WriteFile(const std::string& path, const std::string& data);
bool MakeDirectories(const std::string& path);  // every folder on the way

// Hashes and signatures.
std::string Sha256Hex(const std::string& data);
// The pin of a certificate: SHA-256 of its SubjectPublicKeyInfo (DER).
std::string KeyPin(X509* certificate);
// A detached CMS SignedData in DER over `data`: SHA-256, no signed attributes,
// the signer certificate inside. Empty on failure, with the reason in `why`.
std::string SignBytes(const std::string& data, const std::string& certPath, const std::string& keyPath,
                      std::string* why);
// Holds a signature to the product's rules; the first rule it breaks, or "".
std::string SignatureFault(const std::string& data, const std::string& signature,
                           const std::vector<std::string>& pins);

// The installer's Authenticode signature as Updater.exe judges it: "" when it
// verifies over this very image and (given pins) its signer key is pinned,
// else the first fault. `signer` gets the signer's subject and pin. Whether
// the chain reaches a root the clients trust is for their Windows to say.
// `warning` (when given) gets what will fail later: no time stamp, or a
// certificate that expires within 30 days.
std::string AuthenticodeFault(const std::string& image, const std::vector<std::string>& pins, std::string* signer,
                              std::string* warning = nullptr);

// Values.
std::string Quote(const char* text);
// "a.b.c.d", each 0-65535: the form a file version takes.
bool ParseVersion(const char* text, unsigned parts[4]);
bool IsStamp(const char* text);
// `when` in the zone `offsetSeconds` east of UTC, as the stored stamps are written.
std::string Stamp(time_t when, long offsetSeconds);

// A build's facts from its UPDATERFACTS resource (inspect.cc); "" or why not.
std::string ReadFacts(const std::string& image, std::map<std::string, std::string>* facts);
int Inspect(const std::vector<std::string>& args);
// A value from outside, safe on a terminal: control and non-ASCII bytes as \xNN.
std::string Printable(const std::string& value);

// The signed feed's facts (feed.cc).
const char* DefaultProduct();  // the build's UPDATER_PRODUCT
std::string UtcStamp(time_t when);  // "YYYY-MM-DDTHH:MM:SSZ"
std::string ServedManifest(const std::string& out);  // OUT/api/pellixupdatecfg.xml
// The serial for a manifest replacing the one at `replaced` ("" or a missing
// file: none): `given`, or by default the current Unix time, or one more than
// the replaced serial when that is higher. "" or why it cannot be.
std::string ChooseSerial(const std::string& given, const std::string& replaced, unsigned long* serial);
// The expiry `days` from now; "" or why not.
std::string ChooseExpiry(const std::string& days, std::string* expires);
// The three lines a manifest carries them in.
std::string FeedLines(unsigned long serial, const std::string& product, const std::string& expires);
// "" when the manifest carries all three well-formed, else the first fault.
std::string FeedFault(const std::string& body);
