#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "manifest/manifest.h"
#include "platform/platform.h"
#include "shared/work_paths.h"

int IsNewerThanInstalled() {
  unsigned long size = platform::VersionInfoSize(gWorkPaths.hostExePath);
  if (size == 0) return 0;  // missing file or no version resource
  void* block = malloc(size + 1);
  if (!block) return 0;
  int answer = 0;
  unsigned long most = 0, least = 0;
  if (platform::VersionInfo(gWorkPaths.hostExePath, size, block) &&
      platform::FixedFileVersion(block, &most, &least)) {
    char installed[platform::kMaxPath];
    snprintf(installed, sizeof installed, "%d.%d.%d.%d", static_cast<int>((most >> 16) & 0xFFFF),
             static_cast<int>(most & 0xFFFF), static_cast<int>((least >> 16) & 0xFFFF),
             static_cast<int>(least & 0xFFFF));
    installed[sizeof installed - 1] = '\0';  // msvcrt's snprintf leaves a cut text unterminated
    answer = strcmp(gManifest.version, installed) > 0;  // byte-wise, unsigned
  }
  free(block);
  return answer;
}
