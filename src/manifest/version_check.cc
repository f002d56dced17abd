#include <stdio.h>

#include "manifest/manifest.h"
#include "platform/platform.h"

int FileVersionText(const char* path, char* text, size_t capacity) {
  text[0] = '\0';
  platform::VersionBlock block = platform::ReadVersionInfo(path);  // none: a missing file or no version resource
  unsigned long most = 0, least = 0;
  if (!block || !platform::FixedFileVersion(block, &most, &least)) return 0;
  snprintf(text, capacity, "%d.%d.%d.%d", static_cast<int>((most >> 16) & 0xFFFF), static_cast<int>(most & 0xFFFF),
           static_cast<int>((least >> 16) & 0xFFFF), static_cast<int>(least & 0xFFFF));
  text[capacity - 1] = '\0';  // msvcrt's snprintf leaves a cut text unterminated
  return 1;
}
