// libFuzzer target for the manifest reader: any bytes, any length.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "manifest/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* text = static_cast<char*>(malloc(size + 1));
  memcpy(text, data, size);
  text[size] = '\0';
  memset(&gManifest, 'X', sizeof gManifest);
  ReadManifest(text);
  // Every field is terminated inside its buffer.
  if (strnlen(gManifest.contentUrl, sizeof gManifest.contentUrl) == sizeof gManifest.contentUrl) abort();
  if (strnlen(gManifest.contentDate, sizeof gManifest.contentDate) == sizeof gManifest.contentDate) abort();
  if (strnlen(gManifest.version, sizeof gManifest.version) == sizeof gManifest.version) abort();
  if (strnlen(gManifest.installerUrl, sizeof gManifest.installerUrl) == sizeof gManifest.installerUrl) abort();
  if (gManifest.forced != 0 && gManifest.forced != 1) abort();
  free(text);
  return 0;
}
