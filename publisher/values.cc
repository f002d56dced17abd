// The forms of the manifest's values.
#include <ctype.h>
#include <string.h>

#include "manifest/manifest.h"
#include "publisher.h"

const char kStampFormat[] = "YYYY-MM-DD|HH:MM:SS";
const char* const kSwfSignatures[3] = {"FWS", "CWS", "ZWS"};

bool StartsWithOneOf(const std::string& data, const char* const* prefixes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (data.compare(0, strlen(prefixes[i]), prefixes[i]) == 0) return true;
  }
  return false;
}

std::string Quote(const char* text) { return std::string("\"") + text + "\""; }

bool ParseVersion(const char* text, unsigned parts[4]) { return ParseVersionNumbers(text, parts) != 0; }

bool IsStamp(const char* text) {
  if (strlen(text) != sizeof kStampFormat - 1) return false;
  for (size_t i = 0; kStampFormat[i]; ++i) {
    bool digit = isalpha(static_cast<unsigned char>(kStampFormat[i])) != 0;
    if (digit ? !isdigit(static_cast<unsigned char>(text[i])) : text[i] != kStampFormat[i]) return false;
  }
  return true;
}

std::string Stamp(time_t when, long offsetSeconds) {
  time_t shifted = when + offsetSeconds;
  struct tm parts;
  gmtime_r(&shifted, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d|%H:%M:%S", &parts);
  return text;
}
