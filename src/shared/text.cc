#include "shared/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#define FormatText _vsnprintf  // every msvcrt has it; a cut text is terminated below
#else
#define FormatText vsnprintf
#endif

int CopyBounded(char* out, size_t capacity, const char* source, size_t length) {
  if (capacity == 0) return 0;
  if (length >= capacity) {
    out[0] = '\0';
    return 0;
  }
  memcpy(out, source, length);
  out[length] = '\0';
  return 1;
}

int JoinText(char* out, size_t capacity, const char* first, const char* second) {
  size_t firstLength = strlen(first);
  size_t secondLength = strlen(second);
  if (capacity == 0) return 0;
  if (firstLength + secondLength >= capacity) {
    out[0] = '\0';
    return 0;
  }
  memcpy(out, first, firstLength);
  memcpy(out + firstLength, second, secondLength + 1);
  return 1;
}

void FormatBounded(char* out, size_t capacity, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  FormatBoundedV(out, capacity, format, arguments);
  va_end(arguments);
}

void FormatBoundedV(char* out, size_t capacity, const char* format, va_list arguments) {
  if (capacity == 0) return;
  FormatText(out, capacity, format, arguments);
  out[capacity - 1] = '\0';  // msvcrt leaves a cut text unterminated
}

long long ParseContentLength(const wchar_t* text, unsigned long cap) {
  while (*text == L' ' || *text == L'\t') ++text;
  if (!(*text >= L'0' && *text <= L'9') && *text != L'-' && *text != L'+' && *text != L'.') return kLengthUnknown;
  unsigned long long value = 0;  // wide enough for cap * 10 + 9
  const wchar_t* digits = text;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    value = value * 10 + static_cast<unsigned>(*text - L'0');
    if (value > cap) return kLengthRefused;
  }
  while (*text == L' ' || *text == L'\t') ++text;
  return text == digits || *text ? kLengthRefused : static_cast<long long>(value);
}
