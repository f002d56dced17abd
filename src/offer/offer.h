// The update decision: whether a fetched manifest is believed at all, and
// whether it offers an upgrade. One pure function of three values, which
// Updater.exe and the publisher's tool both call, so that they never differ.
// Each rule is one row of a table; a new rule is one row.
#pragma once

#include "manifest/manifest.h"

// What the client brings.
struct ClientFacts {
  char installed[64];  // the installed file version "a.b.c.d"; empty when unknown
  int seedAsked;       // the client's rollout seed was asked for
  int haveSeed;        // and there is one
  unsigned long seed;
  // With signed releases: the highest feed serial accepted so far, and the
  // system clock (UTC, "YYYY-MM-DDTHH:MM:SSZ").
  int haveSerial;
  unsigned long serial;
  char now[21];
  int reportsRefused;  // the user or an administrator opted out of reports
  // The version whose installer did not start lately, and the seconds since
  // (negative: the clock was set back since).
  char startFailedVersion[64];
  long long startFailedAgo;
};

// What the build requires.
struct BuildPolicy {
  int signedReleases;  // a pinned signature over the manifest, and a version newer as numbers too
  int httpsOnly;       // https:// addresses alone
  const char* product;  // with signed releases: the product a feed must name
  unsigned long startBackoffMs;  // a version whose installer did not start is not offered again for this long
};

struct Verdict {
  int yes;
  const char* rule;  // the row that refused; null when every row passed
  char reason[160];  // why, for the log: "not newer than installed"
};

const int kDecisionNotes = 4;

struct UpdateDecision {
  Verdict feed;   // the manifest is to be believed: gates the content refresh and the offer
  Verdict offer;  // an upgrade is offered
  int forced;     // and the user cannot decline it
  // The rollout asks for the client's seed, which was not asked for: ask for
  // it (only now, so that no seed is made for a client that is not offered
  // anything) and decide again.
  int needsSeed;
  UpdateManifest manifest;  // as the run uses it: an address the rules refuse is left empty
  unsigned long serial;     // a believed signed feed's serial, for the client to keep
  // Outcome reports are on: a believed manifest asks for them (a genuine feed
  // past its expiry still may, to say so), and the client did not opt out.
  int reports;
  char notes[kDecisionNotes][256];  // what the rows found on the way, for the log, in order
  int noteCount;
};

UpdateDecision DecideUpdate(const UpdateManifest& manifest, const ClientFacts& client, const BuildPolicy& policy);

// 1 when a client with `seed` is in a rollout of `percent` (0-100) of the
// release `version`; its bucket (0-99) goes to `bucket`.
int RolloutAdmits(int percent, unsigned long seed, const char* version, unsigned* bucket);
