// The driver's half of the update check: it fetches the manifest, gathers
// what the client knows, asks the decision, logs it, and does the registry
// writes the decision asks for.
#include "run/run.h"

#include <string.h>

#include "manifest/manifest.h"
#include "offer/offer.h"
#include "outside/outside.h"
#include "platform/platform.h"
#include "run/reports.h"
#include "run/stored.h"
#include "shared/clock.h"
#include "shared/log.h"
#include "shared/text.h"
#include "shared/work_paths.h"
#include "trust/trust.h"

// How long a version whose installer did not start is not offered again
// (CMake: UPDATER_START_BACKOFF_MS).
#ifndef UPDATER_START_BACKOFF_MS
#define UPDATER_START_BACKOFF_MS 3600000
#endif
const unsigned long kStartBackoffMs = UPDATER_START_BACKOFF_MS;

namespace {

// The system clock as "YYYY-MM-DDTHH:MM:SSZ" (UTC); `out` holds 21 bytes.
void NowStamp(char* out) {
  platform::LocalTime t = platform::CurrentUtcTime();
  FormatBounded(out, 21, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// A stamp of NowStamp's form as UTC seconds; 0 when the text has another form.
int ParseUtcStamp(const char* text, long long* seconds) {
  if (!IsUtcStamp(text)) return 0;
  int n[6] = {};
  for (int i = 0, field = 0; text[i] != 'Z'; ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      n[field] = n[field] * 10 + (text[i] - '0');
    } else {
      ++field;  // a separator
    }
  }
  *seconds = UtcSeconds(platform::LocalTime{n[0], n[1], n[2], n[3], n[4], n[5]});
  return 1;
}

// The version whose installer did not start lately, and how long ago.
void ReadFailedStart(ClientFacts* client) {
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  char text[96] = {};
  if (key) ReadStoredText(key, outside::kRegStartFailedText, text, sizeof text);
  char* bar = strrchr(text, '|');
  long long when = 0;
  if (!bar || !ParseUtcStamp(bar + 1, &when)) return;
  *bar = '\0';
  FormatBounded(client->startFailedVersion, sizeof client->startFailedVersion, "%s", text);
  client->startFailedAgo = NowUtcSeconds() - when;
}

// The client's seed, made once with the system's random generator and never
// changed. 0 when there is none to be had (it cannot be made or read back).
int ClientSeed(unsigned long* seed) {
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  if (!key) return 0;
  int have = ReadStoredDword(key, outside::kRegSeedText, seed);
  if (!have) {
    unsigned char random[4] = {};
    if (platform::RandomBytes(random, sizeof random)) {
      unsigned long made =
          random[0] | (random[1] << 8) | (random[2] << 16) | (static_cast<unsigned long>(random[3]) << 24);
      platform::SetDwordValue(key, outside::kRegSeed, made);
      have = ReadStoredDword(key, outside::kRegSeedText, seed) && *seed == made;
    }
    Log("rollout: %s", have ? "this client's seed made" : "no seed could be made or read back");
  }
  return have;
}

// With signed releases: the highest serial accepted, and the clock.
void ReadFeedFacts(ClientFacts* client) {
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  client->haveSerial = key && ReadStoredDword(key, outside::kRegSerialText, &client->serial);
  NowStamp(client->now);
}

// Keeps a believed signed feed's serial when it rose: an older feed is
// refused from now on.
void KeepSerial(const ClientFacts& client, unsigned long serial) {
  if (client.haveSerial && serial == client.serial) return;
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  long status = key ? platform::SetDwordValue(key, outside::kRegSerial, serial) : -1;
  Log("feed: serial %lu kept%s", serial, status == 0 ? "" : ", but it could not be stored");
}

// A user or an administrator opts out of reports with updateReport = 0.
void ReadReportOptOut(ClientFacts* client) {
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  unsigned long value = 1;
  client->reportsRefused = key && ReadStoredDword(key, outside::kRegReportText, &value) && value == 0;
}

// The installed version, logged.
void ReadInstalled(ClientFacts* client) {
  if (FileVersionText(gWorkPaths.hostExePath, client->installed, sizeof client->installed)) {
    Log("installed: %s", client->installed);
  } else {
    Log("installed: version of %s unknown (no file or no version resource)", gWorkPaths.hostExePath);
  }
}

// A field as read: its value, or why it is empty.
void LogField(const char* name, const char* value, long found, size_t capacity) {
  if (value[0]) {
    Log("manifest: %s \"%s\"", name, value);
  } else if (found < 0) {
    Log("manifest: %s missing", name);
  } else if (static_cast<size_t>(found) >= capacity) {
    Log("manifest: %s rejected (%ld bytes; holds at most %lu)", name, found, static_cast<unsigned long>(capacity - 1));
  } else {
    Log("manifest: %s empty", name);
  }
}

void LogFields(const UpdateManifest& m) {
  LogField("version", m.version, m.foundVersion, sizeof m.version);
  Log("manifest: flag %s", m.forced ? "forced" : "optional");
  LogField("url", m.installerUrl, m.foundInstallerUrl, sizeof m.installerUrl);
  LogField("swf-url", m.contentUrl, m.foundContentUrl, sizeof m.contentUrl);
  LogField("swf-date", m.contentDate, m.foundContentDate, sizeof m.contentDate);
}

}  // namespace

int CheckForUpdate() {
  ResetRunReports();
  FetchedManifest fetched;
  if (!FetchManifest(&fetched)) return 0;
  UpdateManifest manifest = ReadManifest(fetched.body.Get());
  manifest.signatureTrusted = fetched.signatureTrusted;
  const BuildPolicy policy = {gSignedManifest, gHttpsOnly, outside::kProductName, kStartBackoffMs};
  ClientFacts client = {};
  ReadInstalled(&client);
  if (policy.signedReleases) ReadFeedFacts(&client);
  ReadReportOptOut(&client);
  ReadFailedStart(&client);
  UpdateDecision decision = DecideUpdate(manifest, client, policy);
  PrepareReports(decision, manifest, client);
  if (!decision.feed.yes) {
    Log("manifest: refused, %s (%s); nothing of it is used", decision.feed.reason, decision.feed.rule);
    return 0;
  }
  LogFields(manifest);
  if (policy.signedReleases) {
    Log("feed: %s, serial %lu, expires %s", manifest.product, decision.serial, manifest.expires);
    KeepSerial(client, decision.serial);
  }
  if (decision.needsSeed) {
    client.seedAsked = 1;
    client.haveSeed = ClientSeed(&client.seed);
    decision = DecideUpdate(manifest, client, policy);
  }
  for (int i = 0; i < decision.noteCount; ++i) Log("%s", decision.notes[i]);
  if (decision.offer.yes) {
    Log("decision: offered, %s", decision.forced ? "forced" : "optional");
  } else {
    Log("decision: not offered: %s (%s)", decision.offer.reason, decision.offer.rule ? decision.offer.rule : "");
  }
  gManifest = decision.manifest;  // the fields the rest of the run uses
  return decision.offer.yes;
}

void RememberFailedStart(const char* version) {
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  char now[21], text[96];
  NowStamp(now);
  FormatBounded(text, sizeof text, "%s|%s", version, now);
  long status = key ? platform::SetStringValue(key, outside::kRegStartFailedText, text) : -1;
  Log("hand-over: %s is not offered again for %lu ms%s", version, kStartBackoffMs,
      status == 0 ? "" : ", but that could not be stored");
}
