#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "manifest/manifest.h"
#include "platform/platform.h"
#include "shared/log.h"
#include "shared/work_paths.h"
#include "trust/trust.h"

int FileVersionText(const char* path, char* text, size_t capacity) {
  text[0] = '\0';
  unsigned long size = platform::VersionInfoSize(path);
  if (size == 0) return 0;  // missing file or no version resource
  void* block = malloc(size + 1);
  if (!block) return 0;
  unsigned long most = 0, least = 0;
  int read = platform::VersionInfo(path, size, block) && platform::FixedFileVersion(block, &most, &least);
  if (read) {
    snprintf(text, capacity, "%d.%d.%d.%d", static_cast<int>((most >> 16) & 0xFFFF), static_cast<int>(most & 0xFFFF),
             static_cast<int>((least >> 16) & 0xFFFF), static_cast<int>(least & 0xFFFF));
    text[capacity - 1] = '\0';  // msvcrt's snprintf leaves a cut text unterminated
  }
  free(block);
  return read;
}

int IsNewerThanInstalled() {
  char installed[platform::kMaxPath];
  if (!FileVersionText(gWorkPaths.hostExePath, installed, sizeof installed)) {
    Log("installed: version of %s unknown (no file or no version resource)", gWorkPaths.hostExePath);
    return 0;
  }
  Log("installed: %s", installed);
  if (!VersionIsNewer(gManifest.version, installed)) {
    Log("version: not newer than installed as text");
    return 0;
  }
  if (gSignedManifest && !VersionIsNewerAsNumbers(gManifest.version, installed)) {
    unsigned parts[4];
    Log("version: newer as text, but %s; signed releases offer only a newer version as numbers",
        ParseVersionNumbers(gManifest.version, parts) ? "not newer as numbers" : "not four numbers");
    return 0;
  }
  return 1;
}
