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
