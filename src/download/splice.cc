#include "download/splice.h"

#include <string.h>

#include "shared/text.h"

int StrongValidator(const char* etag, const char* lastModified, char* out, unsigned long capacity) {
  const char* chosen = etag && etag[0] && strncmp(etag, "W/", 2) != 0 ? etag
                       : lastModified && lastModified[0]            ? lastModified
                                                                    : "";
  // The validator goes back in a header line: nothing that could end it.
  for (const char* c = chosen; *c; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20) chosen = "";
  }
  return CopyBounded(out, capacity, chosen, strlen(chosen)) && out[0];
}

namespace {

// Decimal digits into `value`; the text after them, or null for no digits or
// a number past 32 bits (no file the program takes is that long).
const char* Digits(const char* text, unsigned long* value) {
  const char* start = text;
  *value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    unsigned digit = static_cast<unsigned>(*text - '0');
    if (*value > (0xFFFFFFFFul - digit) / 10) return nullptr;
    *value = *value * 10 + digit;
  }
  return text == start ? nullptr : text;
}

}  // namespace

int ParseContentRange(const char* text, ContentRange* range) {
  if (!text || strncmp(text, "bytes ", 6) != 0) return 0;
  const char* c = Digits(text + 6, &range->first);
  if (!c || *c != '-' || !(c = Digits(c + 1, &range->last)) || *c != '/' || !(c = Digits(c + 1, &range->total))) {
    return 0;
  }
  return *c == '\0' && range->first <= range->last && range->last < range->total;
}

Splice DecideSplice(unsigned long kept, unsigned long total, int status, const ContentRange* range) {
  if (status == 200) return kSpliceStartOver;
  if (status == 416) return kSpliceDiscard;
  if (status != 206) return kSpliceRetry;
  if (!range || range->first != kept || range->total != total) return kSpliceDiscard;
  return kSpliceAppend;
}
