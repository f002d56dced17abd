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
  std::string installerFault, installerSigner;
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

extern const CheckRule kCheckRules[];
extern const size_t kCheckRuleCount;

// -1 for two texts that are four numbers each with the first older, 1 newer,
// 0 equal; `known` tells whether both were numbers.
int CompareAsNumbers(const unsigned offered[4], const char* installed, bool* known);
