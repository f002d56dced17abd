#include <string.h>

#include "report/report.h"

namespace {

// Appends `value` percent-encoded; 0 when it does not fit.
int AppendEncoded(char* out, size_t capacity, size_t* at, const char* value) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(value); *c; ++c) {
    bool plain = (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || *c == '-' ||
                 *c == '.' || *c == '_' || *c == '~';
    size_t need = plain ? 1 : 3;
    if (*at + need >= capacity) return 0;
    if (plain) {
      out[(*at)++] = static_cast<char>(*c);
    } else {
      out[(*at)++] = '%';
      out[(*at)++] = kHex[*c >> 4];
      out[(*at)++] = kHex[*c & 0xF];
    }
  }
  out[*at] = '\0';
  return 1;
}

int AppendText(char* out, size_t capacity, size_t* at, const char* text) {
  size_t length = strlen(text);
  if (*at + length >= capacity) return 0;
  memcpy(out + *at, text, length + 1);
  *at += length;
  return 1;
}

}  // namespace

int ReportQuery(const Report& r, char* out, size_t capacity) {
  if (capacity == 0) return 0;
  out[0] = '\0';
  size_t at = 0;
  const char* const names[] = {"e=", "&from=", "&to=", "&code="};
  const char* const values[] = {r.event, r.from, r.to, r.code};
  for (int i = 0; i < 4; ++i) {
    if (!AppendText(out, capacity, &at, names[i]) || !AppendEncoded(out, capacity, &at, values[i])) {
      out[0] = '\0';
      return 0;
    }
  }
  if (r.tenth >= 0 && r.tenth <= 9) {
    char tenth[] = "&tenth=0";
    tenth[7] = static_cast<char>('0' + r.tenth);
    if (!AppendText(out, capacity, &at, tenth)) {
      out[0] = '\0';
      return 0;
    }
  }
  return 1;
}

void ReportedPair(const Report& r, char* out, size_t capacity) {
  // The version encoded holds no space: no two pairs read alike.
  size_t at = 0;
  if (capacity == 0) return;
  out[0] = '\0';
  if (!AppendEncoded(out, capacity, &at, r.to) || !AppendText(out, capacity, &at, " ") ||
      !AppendText(out, capacity, &at, r.event)) {
    out[0] = '\0';
  }
}
