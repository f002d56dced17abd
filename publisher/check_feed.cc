// The rules of the signed feed's own facts: builds with signed releases take
// a manifest only with its product, a serial that never falls, and an expiry
// still ahead.
#include <time.h>

#include "check.h"

namespace {

const long kSoonSeconds = 7 * 86400L;

// Seconds from now to a well-formed expiry.
long SecondsLeft(const char* expires) {
  struct tm parts = {};
  strptime(expires, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return static_cast<long>(timegm(&parts) - time(nullptr));
}

}  // namespace

void FeedFacts(const CheckContext& c, std::vector<std::string>* out) {
  if (!SignedRelease(c)) return;
  std::string fault = FeedFault(c.body);
  if (!fault.empty()) {
    out->push_back(fault + ": builds with signed releases take nothing from this manifest");
  } else if (c.m.product != c.options->product) {
    out->push_back("<product> is " + Quote(c.m.product) + ": clients built for " + Quote(c.options->product.c_str()) +
                   " refuse it (--product names theirs)");
  }
}

void FeedSerialRises(const CheckContext& c, std::vector<std::string>* out) {
  unsigned long serial = 0, previous = 0;
  std::string before;
  if (c.options->previous.empty() || !ReadWhole(c.options->previous, &before)) return;
  UpdateManifest replaced = ReadManifest(before.c_str());
  if (!ParseSerial(replaced.serial, replaced.foundSerial, &previous)) return;
  if (!ParseSerial(c.m.serial, c.m.foundSerial, &serial) || serial <= previous) {
    out->push_back("serial " + std::string(c.m.serial) + " is not above " + std::to_string(previous) + ", the serial of " +
                   c.options->previous + ": signed clients that saw that one refuse this one");
  }
}

void FeedExpired(const CheckContext& c, std::vector<std::string>* out) {
  if (IsUtcStamp(c.m.expires) && SecondsLeft(c.m.expires) <= 0) {
    out->push_back(std::string("expired at ") + c.m.expires + ": signed clients take nothing from it; renew it with "
                   "`stage`");
  }
}

void FeedExpiresSoon(const CheckContext& c, std::vector<std::string>* out) {
  if (!IsUtcStamp(c.m.expires)) return;
  long left = SecondsLeft(c.m.expires);
  if (left > 0 && left < kSoonSeconds) {
    out->push_back(std::string("expires at ") + c.m.expires + ", in less than 7 days: renew it with `stage` (cron)");
  }
}
