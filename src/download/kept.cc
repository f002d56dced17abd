#include "download/kept.h"

#include <stdio.h>
#include <string.h>

#include "shared/clock.h"
#include "shared/text.h"

KeptRecord RecordFor(const ResumeKey& key, const char* validator, unsigned long total) {
  KeptRecord r = {};
  FormatBounded(r.url, sizeof r.url, "%s", key.url);
  FormatBounded(r.validator, sizeof r.validator, "%s", validator);
  r.total = total;
  FormatBounded(r.version, sizeof r.version, "%s", key.version);
  FormatBounded(r.sha256, sizeof r.sha256, "%s", key.sha256);
  r.keptAt = NowUtcSeconds();
  return r;
}

int WriteKeptRecord(const char* path, const KeptRecord& r) {
  char text[1024];
  unsigned long kept = r.keptAt > 0 ? static_cast<unsigned long>(r.keptAt) : 0;  // seconds fit 32 bits until 2106
  int length = snprintf(text, sizeof text, "url=%s\nvalidator=%s\ntotal=%lu\nversion=%s\nsha256=%s\nkept=%lu\n", r.url,
                        r.validator, r.total, r.version, r.sha256, kept);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof text) return 0;
  platform::File file = platform::OpenForWriting(path, /*append=*/0);
  return file && platform::WriteToFile(file, text, static_cast<unsigned long>(length));
}

namespace {

// The first `c` in `text`, or null. (A loop of its own: one import less.)
char* Find(char* text, char c) {
  for (; *text; ++text) {
    if (*text == c) return text;
  }
  return nullptr;
}

// Whole decimal text, no sign, within 32 bits.
int ParseNumber(const char* text, unsigned long* value) {
  *value = 0;
  if (!*text) return 0;
  for (; *text; ++text) {
    unsigned digit = static_cast<unsigned>(*text - '0');
    if (*text < '0' || *text > '9' || *value > (0xFFFFFFFFul - digit) / 10) return 0;
    *value = *value * 10 + digit;
  }
  return 1;
}

// One "name=value" line into its field; 0 for an unknown name or a value
// that does not fit.
int TakeLine(char* line, KeptRecord* r) {
  char* value = Find(line, '=');
  if (!value) return 0;
  *value++ = '\0';
  struct Field {
    const char* name;
    char* out;
    size_t capacity;
  };
  const Field fields[] = {{"url", r->url, sizeof r->url},
                          {"validator", r->validator, sizeof r->validator},
                          {"version", r->version, sizeof r->version},
                          {"sha256", r->sha256, sizeof r->sha256}};
  for (const Field& f : fields) {
    if (strcmp(line, f.name) == 0) return CopyBounded(f.out, f.capacity, value, strlen(value));
  }
  unsigned long number = 0;
  if (strcmp(line, "total") == 0 && ParseNumber(value, &number)) {
    r->total = number;
    return 1;
  }
  if (strcmp(line, "kept") == 0 && ParseNumber(value, &number)) {
    r->keptAt = static_cast<long long>(number);
    return 1;
  }
  return 0;
}

}  // namespace

int ReadKeptRecord(const char* path, KeptRecord* r) {
  *r = KeptRecord();
  platform::File file = platform::OpenForReading(path);
  char text[1025] = {};
  long size = file ? platform::ReadFileAt(file, 0, reinterpret_cast<unsigned char*>(text), sizeof text - 1) : -1;
  if (size <= 0 || size >= static_cast<long>(sizeof text - 1) || strlen(text) != static_cast<size_t>(size)) return 0;
  int lines = 0;
  for (char* line = text; *line;) {
    char* end = Find(line, '\n');
    if (!end) return 0;  // cut short
    *end = '\0';
    if (!TakeLine(line, r)) return 0;
    ++lines;
    line = end + 1;
  }
  return lines == 6 && r->url[0] && r->version[0] && r->total > 0;
}

const char* RecordMismatch(const KeptRecord& r, const ResumeKey& key, long long now) {
  if (strcmp(r.url, key.url) != 0) return "another address";
  if (strcmp(r.version, key.version) != 0) return "another version";
  if (strcmp(r.sha256, key.sha256) != 0) return "another hash";
  if (r.keptAt > now) return "kept in the future";
  if (now - r.keptAt > kPartialMaxSeconds) return "too old";
  return nullptr;
}
