// updater-manifest check: what it reads, and the rules it holds a manifest to.
#pragma once

#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "offer/offer.h"
#include "publisher.h"

struct CheckOptions {
  std::string path, now, installerFile, contentFile, url;
  std::string previous;  // the manifest this one replaces: its serial must be lower
  std::string product = DefaultProduct();  // the product the clients were built for
  std::vector<std::string> clients;  // Updater.exe builds to judge the release as (--client)
  bool strict = false;               // warnings fail too
  int signedReleases = -1;           // the clients require signed releases: 1, 0, or -1 as the pins say
  std::string signatureWhere;        // why there is no MANIFEST.p7s, when it was asked of a server
  // What the clients hold, as the builds' facts say (defaults: this tool's build).
  std::vector<std::string> feedPins;   // the manifest's signers; empty: the pins
  bool httpsOnly = false;
  unsigned long long maxContentBytes = 0, maxInstallerBytes = 0;  // 0: the defaults
  std::vector<std::string> installed, stamps, pins, seeds;
};

// A manifest as Updater.exe reads it, with what the rules need besides.
struct CheckContext {
  const CheckOptions* options;
  std::string body;        // the bytes of the file
  UpdateManifest read;     // as read, with the signature's verdict
  UpdateManifest m;        // as used: addresses off the web are left empty, as the updater does
  std::string refusedUrl[2];  // the url and swf-url that were not web addresses
  bool hasFlag = false;
  std::string flagValue;   // up to "</flag>"
  bool versionIsNumbers = false;
  unsigned offered[4] = {};
  // The --installer file's Authenticode verdict against the pins: read is
  // false when there is no file to judge; fault is "" when it passes.
  bool installerRead = false;
  std::string installerFault, installerSigner, installerWarning;
  // With --pin, why MANIFEST.p7s does not vouch for the body ("" when it does).
  std::string signatureFault;
};

enum Severity { kWarning, kError };

// One rule: the field it looks at, how bad breaking it is, and its test,
// which adds one message for each way the manifest breaks it.
struct CheckRule {
  const char* field;
  Severity severity;
  void (*test)(const CheckContext& c, std::vector<std::string>* messages);
};

// Reads the manifest at options.path as the updater does, prints what each
// client would do and walks the rules, adding to the counts; 2 when the file
// cannot be read.
int CheckManifest(const CheckOptions& options, int* errors, int* warnings);
// Each field as read, and what each client the options name would do
// (check_print.cc).
void PrintFields(const CheckContext& c);
void PrintVerdicts(const CheckContext& c);
// The same once for each --client, as that build judges it (or once, as the
// options say, without any).
int CheckClients(const CheckOptions& options, int* errors, int* warnings);
// check --url: fetches what a client fetches from the server, as it fetches
// it, and checks what arrived; the exit status.
int CheckServed(CheckOptions options);

// The signed feed's rules (check_feed.cc): its three facts present and
// well-formed, the serial above the one replaced, the expiry not near.
void FeedFacts(const CheckContext& c, std::vector<std::string>* messages);
void FeedSerialRises(const CheckContext& c, std::vector<std::string>* messages);
void FeedExpired(const CheckContext& c, std::vector<std::string>* messages);
void FeedExpiresSoon(const CheckContext& c, std::vector<std::string>* messages);
// A release that comes with a signature is for builds that require signed
// releases, whether or not the pins were given.
bool SignedRelease(const CheckContext& c);
// A file larger than the clients' ceiling, an http address for an https
// client (check_limits.cc).
void FilesWithinCeilings(const CheckContext& c, std::vector<std::string>* messages);
void HttpsClientAddresses(const CheckContext& c, std::vector<std::string>* messages);
void InstallerTimeStamp(const CheckContext& c, std::vector<std::string>* messages);
// The options as the build at `path` judges a release; "" or why not.
std::string AsClient(const std::string& path, CheckOptions* options);

extern const CheckRule kCheckRules[];
extern const size_t kCheckRuleCount;

// 1 when the clients the options describe require signed releases: a
// client's facts say, or else the pins given do.
inline bool RequiresSigned(const CheckOptions& o) { return o.signedReleases < 0 ? !o.pins.empty() : o.signedReleases == 1; }

// -1 for two texts that are four numbers each with the first older, 1 newer,
// 0 equal; `known` tells whether both were numbers.
int CompareAsNumbers(const unsigned offered[4], const char* installed, bool* known);
