// The signed feed's own facts in a manifest the tool writes: the serial that
// only rises, the product it is for, and the time it expires.
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "manifest/manifest.h"
#include "outside/outside.h"
#include "publisher.h"

namespace {

// The serial of the manifest at `path`; false when there is none to read.
bool SerialOf(const std::string& path, unsigned long* serial) {
  std::string body;
  if (!ReadWhole(path, &body)) return false;
  UpdateManifest m = ReadManifest(body.c_str());
  return ParseSerial(m.serial, m.foundSerial, serial) != 0;
}

}  // namespace

const char* DefaultProduct() { return outside::kProductName; }

std::string UtcStamp(time_t when) {
  struct tm parts;
  gmtime_r(&when, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string ServedManifest(const std::string& out) { return out + "/api/pellixupdatecfg.xml"; }

std::string ChooseSerial(const std::string& given, const std::string& replaced, unsigned long* serial) {
  const unsigned long long now = static_cast<unsigned long long>(time(nullptr));
  unsigned long previous = 0;
  bool havePrevious = !replaced.empty() && SerialOf(replaced, &previous);
  if (given.empty()) {
    unsigned long long next = havePrevious && previous + 1ull > now ? previous + 1ull : now;
    if (next > 0xFFFFFFFFull) return "no serial is left above " + std::to_string(previous);
    *serial = static_cast<unsigned long>(next);
  } else if (!ParseSerial(given.c_str(), static_cast<long>(given.size()), serial)) {
    return "--serial takes a whole number from 0 to 4294967295";
  }
  // A serial far ahead of the clock (a wrong clock, a typo) would lock the
  // fleet out of every later release made at the right time.
  if (*serial > now + 86400) {
    return "serial " + std::to_string(*serial) + " is more than a day ahead of this clock (" + std::to_string(now) +
           "): check the clock";
  }
  if (havePrevious && *serial <= previous) {
    return "serial " + std::to_string(*serial) + " is not above " + std::to_string(previous) + ", the serial of " +
           replaced + ": clients that saw it would refuse this one";
  }
  return "";
}

std::string ChooseExpiry(const std::string& days, std::string* expires) {
  char* end = nullptr;
  long value = strtol(days.c_str(), &end, 10);
  if (days.empty() || *end || value < 1 || value > 3650) return "--expires takes a number of days from 1 to 3650";
  *expires = UtcStamp(time(nullptr) + value * 86400L);
  return "";
}

std::string FeedLines(unsigned long serial, const std::string& product, const std::string& expires) {
  return "  <product>" + product + "</product>\r\n  <serial>" + std::to_string(serial) + "</serial>\r\n  <expires>" +
         expires + "</expires>\r\n";
}

std::string FeedFault(const std::string& body) {
  UpdateManifest m = ReadManifest(body.c_str());
  unsigned long serial = 0;
  if (!ParseSerial(m.serial, m.foundSerial, &serial)) return "<serial> is missing or not a number from 0 to 4294967295";
  if (!m.product[0]) return "<product> is missing";
  if (!IsUtcStamp(m.expires)) return "<expires> is missing or not YYYY-MM-DDTHH:MM:SSZ";
  return "";
}
