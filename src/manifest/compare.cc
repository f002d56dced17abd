#include <stdint.h>
#include <string.h>

#include "manifest/manifest.h"

int VersionIsNewer(const char* offered, const char* installed) { return strcmp(offered, installed) > 0; }

int StampIsNewer(const char* announced, const char* stored) { return strcmp(announced, stored) > 0; }

int ParseVersionNumbers(const char* text, unsigned parts[4]) {
  const char* c = text;
  for (int i = 0; i < 4; ++i) {
    if (*c < '0' || *c > '9') return 0;
    unsigned long value = 0;
    for (int digits = 0; *c >= '0' && *c <= '9'; ++c, ++digits) {
      if (digits >= 5) return 0;
      value = value * 10 + static_cast<unsigned long>(*c - '0');
    }
    if (value > 65535) return 0;
    parts[i] = static_cast<unsigned>(value);
    if (i < 3 && *c++ != '.') return 0;
  }
  return *c == '\0';
}

int VersionIsNewerAsNumbers(const char* offered, const char* installed) {
  unsigned a[4], b[4];
  if (!ParseVersionNumbers(offered, a) || !ParseVersionNumbers(installed, b)) return 0;
  for (int i = 0; i < 4; ++i) {
    if (a[i] != b[i]) return a[i] > b[i];
  }
  return 0;
}

int RolloutPercent(const char* value, long found) {
  if (found < 0) return 100;  // no tag: everyone, as before rollouts
  int percent = 0;
  int digits = 0;
  for (const char* c = value; *c; ++c, ++digits) {
    if (*c < '0' || *c > '9') return -1;
    percent = percent * 10 + (*c - '0');
  }
  return digits >= 1 && digits <= 3 && found == digits && percent <= 100 ? percent : -1;
}

unsigned RolloutBucket(unsigned long seed, const char* version) {
  uint32_t hash = 2166136261u;
  for (int i = 0; i < 4; ++i) {
    hash = (hash ^ static_cast<uint32_t>((seed >> (8 * i)) & 0xFF)) * 16777619u;
  }
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(version); *c; ++c) {
    hash = (hash ^ *c) * 16777619u;
  }
  return hash % 100;
}

int ParseSerial(const char* text, long found, unsigned long* serial) {
  unsigned long long value = 0;
  int digits = 0;
  for (const char* c = text; *c; ++c, ++digits) {
    if (*c < '0' || *c > '9' || digits >= 10) return 0;
    value = value * 10 + static_cast<unsigned>(*c - '0');
  }
  if (digits == 0 || found != digits || value > 0xFFFFFFFFull) return 0;
  *serial = static_cast<unsigned long>(value);
  return 1;
}

int IsUtcStamp(const char* text) {
  static const char kForm[] = "dddd-dd-ddTdd:dd:ddZ";
  for (size_t i = 0; i < sizeof kForm; ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return 0;
  }
  auto number = [text](int at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
  int month = number(5), day = number(8);
  return month >= 1 && month <= 12 && day >= 1 && day <= 31 && number(11) <= 23 && number(14) <= 59 &&
         number(17) <= 59;
}
