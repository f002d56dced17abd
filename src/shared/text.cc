#include "shared/text.h"

#include <string.h>

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
