// What the commands of updater-manifest share: file access, hashes and
// signatures (OpenSSL's libcrypto), and the forms of the manifest's values.
#pragma once

#include <time.h>

#include <string>
#include <vector>

typedef struct x509_st X509;

extern const char kUsage[];
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
std::string AuthenticodeFault(const std::string& image, const std::vector<std::string>& pins, std::string* signer);

// Values.
std::string Quote(const char* text);
// "a.b.c.d", each 0-65535: the form a file version takes.
bool ParseVersion(const char* text, unsigned parts[4]);
bool IsStamp(const char* text);
// `when` in the zone `offsetSeconds` east of UTC, as the stored stamps are written.
std::string Stamp(time_t when, long offsetSeconds);

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
