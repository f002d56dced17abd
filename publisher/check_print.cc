// What `check` prints of a manifest: each field as read, and what each client
// the options name would do, as Updater.exe decides it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "check.h"
#include "publisher.h"

namespace {

// The policy of the builds the options describe: with pins, signed releases.
BuildPolicy PolicyOf(const CheckOptions& o) {
  return BuildPolicy{RequiresSigned(o) ? 1 : 0, o.httpsOnly ? 1 : 0, o.product.c_str(), 0};
}

void PrintField(const char* name, const char* value, long found, size_t capacity) {
  if (value[0]) {
    printf("%s: %s\n", name, Quote(value).c_str());
  } else if (found < 0) {
    printf("%s: missing\n", name);
  } else if (static_cast<size_t>(found) >= capacity) {
    printf("%s: rejected (%ld bytes; holds at most %zu)\n", name, found, capacity - 1);
  } else {
    printf("%s: empty\n", name);
  }
}

// One installed version's verdict, as Updater.exe reaches it.
void PrintOffer(const CheckContext& c, const std::string& installed) {
  ClientFacts client = ClientFacts();
  snprintf(client.installed, sizeof client.installed, "%s", installed.c_str());
  snprintf(client.now, sizeof client.now, "%s", UtcStamp(time(nullptr)).c_str());
  UpdateDecision d = DecideUpdate(c.read, client, PolicyOf(*c.options));
  const char* who = RequiresSigned(*c.options) ? " by signed builds" : "";
  const std::string version = Quote(c.m.version);
  if (!d.feed.yes) {
    printf("installed %s: not offered%s (the manifest is refused: %s)\n", installed.c_str(), who, d.feed.reason);
  } else if (d.offer.yes) {
    printf("installed %s: offered, %s (%s sorts after it as text)\n", installed.c_str(),
           d.forced ? "forced" : "optional", version.c_str());
  } else if (d.needsSeed) {
    printf("installed %s: offered, %s, to the clients in the rollout's stage (--seed judges one client)\n",
           installed.c_str(), c.m.forced ? "forced" : "optional");
  } else if (strcmp(d.offer.rule, "text order") == 0) {
    printf("installed %s: not offered (%s does not sort after it as text)\n", installed.c_str(), version.c_str());
  } else {
    printf("installed %s: not offered%s (%s%s%s)\n", installed.c_str(), who, d.offer.reason,
           d.noteCount ? "; " : "", d.noteCount ? d.notes[d.noteCount - 1] : "");
  }
}

}  // namespace

void PrintFields(const CheckContext& c) {
  const UpdateManifest& m = c.m;
  PrintField("version", m.version, m.foundVersion, sizeof m.version);
  PrintField("url", m.installerUrl, c.refusedUrl[0].empty() ? m.foundInstallerUrl : 0, sizeof m.installerUrl);
  PrintField("swf-url", m.contentUrl, m.foundContentUrl, sizeof m.contentUrl);
  PrintField("swf-date", m.contentDate, m.foundContentDate, sizeof m.contentDate);
  if (m.foundInstallerSha256 >= 0) PrintField("sha256", m.installerSha256, m.foundInstallerSha256, 65);
  if (m.foundContentSha256 >= 0) PrintField("swf-sha256", m.contentSha256, m.foundContentSha256, 65);
  if (!c.hasFlag) {
    printf("forced: no (\"<flag>\" is missing)\n");
  } else if (m.forced) {
    printf("forced: yes (\"<flag>\" is followed by \"f\" in %s)\n", Quote(c.flagValue.c_str()).c_str());
  } else {
    printf("forced: no (\"<flag>\" is followed by %s, not \"f\")\n",
           c.flagValue.empty() ? "nothing" : Quote(c.flagValue.substr(0, 1).c_str()).c_str());
  }
  if (m.foundInstallerUrl < 0) printf("note: without <url> no upgrade is ever offered\n");
  if (m.foundSerial >= 0) PrintField("serial", m.serial, m.foundSerial, sizeof m.serial);
  if (m.foundProduct >= 0) PrintField("product", m.product, m.foundProduct, sizeof m.product);
  if (m.foundExpires >= 0) PrintField("expires", m.expires, m.foundExpires, sizeof m.expires);
  int percent = RolloutPercent(m.rollout, m.foundRollout);
  if (m.foundRollout < 0) {
    printf("rollout: none (every client)\n");
  } else if (percent == 0) {
    printf("rollout: 0 %% (no client: new offers are halted)\n");
  } else if (percent >= 0) {
    printf("rollout: %d %% (the clients in buckets 0-%d of 0-99)\n", percent, percent - 1);
  } else {
    printf("rollout: %s withholds the offer from every client\n", Quote(m.rollout).c_str());
  }
}

// What each client the options name would do.
void PrintVerdicts(const CheckContext& c) {
  const UpdateManifest& m = c.m;
  for (const std::string& v : c.options->installed) PrintOffer(c, v);
  int percent = RolloutPercent(m.rollout, m.foundRollout);
  for (const std::string& seed : c.options->seeds) {
    char* end = nullptr;
    unsigned long value = strtoul(seed.c_str(), &end, 0);
    if (seed.empty() || *end || value > 0xFFFFFFFFul) {
      printf("seed %s: not a 32-bit number\n", seed.c_str());
      continue;
    }
    unsigned bucket = 0;
    int in = RolloutAdmits(percent, value, m.version, &bucket);
    printf("seed %s: bucket %u, %s\n", seed.c_str(), bucket, in ? "in this stage" : "not in this stage");
  }
  for (const std::string& stamp : c.options->stamps) {
    bool due = m.contentUrl[0] && m.contentDate[0] && StampIsNewer(m.contentDate, stamp.c_str());
    printf("stored %s: content %s\n", Quote(stamp.c_str()).c_str(),
           due ? "refreshed (swf-date sorts after it)" : "not refreshed");
  }
}

