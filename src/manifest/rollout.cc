#include "manifest/manifest.h"
#include "outside/outside.h"
#include "platform/platform.h"
#include "shared/log.h"

namespace {

// The stored seed; 0 when it is missing or not a REG_DWORD.
int ReadSeed(platform::RegKey key, unsigned long* seed) {
  unsigned long type = 0, size = 4;
  unsigned char data[4] = {};
  if (platform::QueryValue(key, outside::kRegSeedText, &type, data, &size) != 0 || type != platform::kRegDword ||
      size != 4) {
    return 0;
  }
  *seed = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<unsigned long>(data[3]) << 24);
  return 1;
}

// The client's seed, made once with the system's random generator and never
// changed. 0 when there is none to be had (it cannot be made or read back).
int ClientSeed(unsigned long* seed) {
  platform::RegKey key = platform::OpenOrCreateUserKey(outside::kRegistryKey);
  if (!key) return 0;
  int have = ReadSeed(key, seed);
  if (!have) {
    unsigned char random[4] = {};
    unsigned long made = 0;
    if (platform::RandomBytes(random, sizeof random)) {
      made = random[0] | (random[1] << 8) | (random[2] << 16) | (static_cast<unsigned long>(random[3]) << 24);
      platform::SetDwordValue(key, outside::kRegSeed, made);
      have = ReadSeed(key, seed) && *seed == made;
    }
    Log("rollout: %s", have ? "this client's seed made" : "no seed could be made or read back");
  }
  platform::CloseKey(key);
  return have;
}

}  // namespace

int InRollout() {
  int percent = RolloutPercent(gManifest.rollout, gManifest.foundRollout);
  if (percent < 0) {
    Log("decision: newer, rollout \"%s\" is no share from 0 to 100: withheld", gManifest.rollout);
    return 0;
  }
  if (percent == 100) return 1;
  unsigned long seed = 0;
  if (!ClientSeed(&seed)) {
    Log("decision: newer, rollout %d %%, no seed: not in this stage", percent);
    return 0;
  }
  unsigned bucket = RolloutBucket(seed, gManifest.version);
  int in = bucket < static_cast<unsigned>(percent);
  Log("decision: newer, rollout %d %%, bucket %u: %s", percent, bucket, in ? "in this stage" : "not in this stage");
  return in;
}
