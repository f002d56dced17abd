#include "offer/offer.h"

#include <stdarg.h>
#include <string.h>

#include "shared/text.h"

namespace {

struct Inputs {
  const UpdateManifest& manifest;  // its addresses already kept to the web
  const ClientFacts& client;
  const BuildPolicy& policy;
  int installerUrlRefused;  // the manifest named one, and the rules refused it
};

void AddNote(UpdateDecision* d, const char* format, ...) {
  if (d->noteCount >= kDecisionNotes) return;
  va_list arguments;
  va_start(arguments, format);
  FormatBoundedV(d->notes[d->noteCount++], sizeof d->notes[0], format, arguments);
  va_end(arguments);
}

// A row: 1 when it lets the manifest through; otherwise it names its reason.
typedef int (*Rule)(const Inputs& in, UpdateDecision* d, char* reason, size_t capacity);

struct Row {
  const char* name;
  Rule passes;
};

// --- The feed: is this manifest to be believed at all? ---

int SignaturePasses(const Inputs& in, UpdateDecision*, char* reason, size_t capacity) {
  if (!in.policy.signedReleases || in.manifest.signatureTrusted) return 1;
  FormatBounded(reason, capacity, "no signature by a pinned key vouches for it");
  return 0;
}

// A signed feed names the product the build was made for: one product's, or
// one channel's, genuine feed is foreign to another's clients.
int ProductMatches(const Inputs& in, UpdateDecision*, char* reason, size_t capacity) {
  const char* product = in.policy.product ? in.policy.product : "";
  if (!in.policy.signedReleases || (product[0] && strcmp(in.manifest.product, product) == 0)) return 1;
  if (in.manifest.product[0]) {
    FormatBounded(reason, capacity, "it is for product \"%s\", this build for \"%s\"", in.manifest.product, product);
  } else {
    FormatBounded(reason, capacity, "it names no product (<product>), this build is for \"%s\"", product);
  }
  return 0;
}

// A signed feed's serial never falls: a genuine older feed replayed (a halt
// undone, a stage widened again) is refused. The same serial is the same feed.
int SerialNeverFalls(const Inputs& in, UpdateDecision* d, char* reason, size_t capacity) {
  if (!in.policy.signedReleases) return 1;
  if (!ParseSerial(in.manifest.serial, in.manifest.foundSerial, &d->serial)) {
    FormatBounded(reason, capacity, "<serial> missing or not a number from 0 to 4294967295");
    return 0;
  }
  if (!in.client.haveSerial || d->serial >= in.client.serial) return 1;
  FormatBounded(reason, capacity, "serial %lu is lower than %lu, the highest accepted", d->serial, in.client.serial);
  return 0;
}

// A signed feed expires: one withheld and replayed for ever goes stale
// instead of looking like a quiet publisher.
int NotExpired(const Inputs& in, UpdateDecision*, char* reason, size_t capacity) {
  if (!in.policy.signedReleases) return 1;
  if (!IsUtcStamp(in.manifest.expires)) {
    FormatBounded(reason, capacity, "<expires> missing or not YYYY-MM-DDTHH:MM:SSZ");
    return 0;
  }
  if (IsUtcStamp(in.client.now) && strcmp(in.client.now, in.manifest.expires) < 0) return 1;
  FormatBounded(reason, capacity, "expired at %s, the clock says %s", in.manifest.expires,
                in.client.now[0] ? in.client.now : "nothing");
  return 0;
}

const Row kFeedRows[] = {
    {"signature", SignaturePasses},
    {"product", ProductMatches},
    {"serial", SerialNeverFalls},
    {"expiry", NotExpired},
};

// --- The offer: is an upgrade offered? ---

int InstalledKnown(const Inputs& in, UpdateDecision*, char* reason, size_t capacity) {
  if (in.client.installed[0]) return 1;
  FormatBounded(reason, capacity, "not newer than installed");
  return 0;
}

int NewerAsText(const Inputs& in, UpdateDecision* d, char* reason, size_t capacity) {
  if (VersionIsNewer(in.manifest.version, in.client.installed)) return 1;
  AddNote(d, "version: not newer than installed as text");
  FormatBounded(reason, capacity, "not newer than installed");
  return 0;
}

// A genuine old release replayed must never be offered by a build that
// requires signed releases.
int NewerAsNumbers(const Inputs& in, UpdateDecision* d, char* reason, size_t capacity) {
  if (!in.policy.signedReleases || VersionIsNewerAsNumbers(in.manifest.version, in.client.installed)) return 1;
  unsigned parts[4];
  AddNote(d, "version: newer as text, but %s; signed releases offer only a newer version as numbers",
          ParseVersionNumbers(in.manifest.version, parts) ? "not newer as numbers" : "not four numbers");
  FormatBounded(reason, capacity, "not newer than installed");
  return 0;
}

int InstallerAddressAccepted(const Inputs& in, UpdateDecision*, char* reason, size_t capacity) {
  if (!in.installerUrlRefused) return 1;
  FormatBounded(reason, capacity, "the installer address is not %s address", in.policy.httpsOnly ? "an https" : "a web");
  return 0;
}

// No installer address means there is nothing to upgrade with.
int InstallerAddressPresent(const Inputs& in, UpdateDecision*, char* reason, size_t capacity) {
  if (in.manifest.installerUrl[0]) return 1;
  FormatBounded(reason, capacity, "no installer address");
  return 0;
}

int InRollout(const Inputs& in, UpdateDecision* d, char* reason, size_t capacity) {
  int percent = RolloutPercent(in.manifest.rollout, in.manifest.foundRollout);
  if (percent == 100) return 1;
  FormatBounded(reason, capacity, "outside the rollout");
  if (percent < 0) {
    AddNote(d, "decision: newer, rollout \"%s\" is no share from 0 to 100: withheld", in.manifest.rollout);
    return 0;
  }
  if (!in.client.seedAsked) {
    d->needsSeed = 1;
    FormatBounded(reason, capacity, "the rollout needs this client's seed");
    return 0;
  }
  if (!in.client.haveSeed) {
    AddNote(d, "decision: newer, rollout %d %%, no seed: not in this stage", percent);
    return 0;
  }
  unsigned bucket = 0;
  int admitted = RolloutAdmits(percent, in.client.seed, in.manifest.version, &bucket);
  AddNote(d, "decision: newer, rollout %d %%, bucket %u: %s", percent, bucket,
          admitted ? "in this stage" : "not in this stage");
  return admitted;
}

// An installer that did not start (the user declined its elevation, the
// system refused it) is not offered again at once: every start of the host
// would otherwise ask again, and download again.
int NoRecentFailedStart(const Inputs& in, UpdateDecision*, char* reason, size_t capacity) {
  const ClientFacts& c = in.client;
  long long backoff = in.policy.startBackoffMs / 1000;
  if (!c.startFailedVersion[0] || strcmp(c.startFailedVersion, in.manifest.version) != 0 || c.startFailedAgo < 0 ||
      c.startFailedAgo >= backoff) {
    return 1;
  }
  FormatBounded(reason, capacity, "its installer did not start %ld s ago; offered again in %ld s",
                static_cast<long>(c.startFailedAgo), static_cast<long>(backoff - c.startFailedAgo));
  return 0;
}

const Row kOfferRows[] = {
    {"installed version", InstalledKnown},
    {"text order", NewerAsText},
    {"number order", NewerAsNumbers},
    {"address", InstallerAddressAccepted},
    {"address present", InstallerAddressPresent},
    {"rollout", InRollout},
    {"failed start", NoRecentFailedStart},
};

// Walks the rows in order; the first that refuses decides.
template <size_t N>
void Walk(const Row (&rows)[N], const Inputs& in, UpdateDecision* d, Verdict* verdict) {
  verdict->yes = 1;
  verdict->rule = nullptr;
  verdict->reason[0] = '\0';
  for (const Row& row : rows) {
    if (row.passes(in, d, verdict->reason, sizeof verdict->reason)) continue;
    verdict->yes = 0;
    verdict->rule = row.name;
    return;
  }
}

// Leaves an address that is not a web address (not https in https-only
// builds) empty, as a value that does not fit its field: no content is
// fetched, no upgrade is offered. 1 when it emptied it.
int KeepWebAddress(char* field, const char* name, int httpsOnly, UpdateDecision* d) {
  if (!field[0] || IsWebAddress(field, httpsOnly)) return 0;
  AddNote(d, "manifest: %s refused: not %s address", name, httpsOnly ? "an https" : "a web");
  field[0] = '\0';
  return 1;
}

}  // namespace

int RolloutAdmits(int percent, unsigned long seed, const char* version, unsigned* bucket) {
  *bucket = RolloutBucket(seed, version);
  return percent >= 100 || (percent > 0 && *bucket < static_cast<unsigned>(percent));
}

UpdateDecision DecideUpdate(const UpdateManifest& manifest, const ClientFacts& client, const BuildPolicy& policy) {
  UpdateDecision d;
  memset(&d, 0, sizeof d);
  d.manifest = manifest;
  Inputs in = {d.manifest, client, policy, 0};
  Walk(kFeedRows, in, &d, &d.feed);
  const int expiredOnly = !d.feed.yes && strcmp(d.feed.rule, "expiry") == 0;
  d.reports = (d.feed.yes || expiredOnly) && manifest.foundReport == 1 && manifest.report[0] == '1' &&
              !client.reportsRefused;
  if (!d.feed.yes) {
    d.manifest = UpdateManifest();  // nothing of it is used
    FormatBounded(d.offer.reason, sizeof d.offer.reason, "the manifest is not believed");
    d.offer.rule = d.feed.rule;
    return d;
  }
  KeepWebAddress(d.manifest.contentUrl, "swf-url", policy.httpsOnly, &d);
  in.installerUrlRefused = KeepWebAddress(d.manifest.installerUrl, "url", policy.httpsOnly, &d);
  Walk(kOfferRows, in, &d, &d.offer);
  d.forced = d.offer.yes && d.manifest.forced;
  return d;
}
