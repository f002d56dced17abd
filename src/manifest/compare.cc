#include <string.h>

#include "manifest/manifest.h"

int VersionIsNewer(const char* offered, const char* installed) { return strcmp(offered, installed) > 0; }

int StampIsNewer(const char* announced, const char* stored) { return strcmp(announced, stored) > 0; }
