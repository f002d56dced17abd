// The update manifest: its fields, the reader, the fetch and the version check.
#pragma once

#include <stddef.h>

struct UpdateManifest {
  char contentUrl[520];   // "swf-url"; empty: no content file announced
  char contentDate[260];  // "swf-date"
  char version[520];      // "version"
  int forced;             // "flag" value begins with 'f'
  char installerUrl[260]; // "url"
};

extern UpdateManifest gManifest;

// Largest manifest body accepted; anything longer counts as no manifest.
const unsigned long kManifestCap = 64 * 1024;
// Connect, send and receive timeout of the manifest request.
const unsigned long kManifestTimeoutMs = 10000;
// The whole body must have arrived within this after the request was made; a
// server that trickles counts as no manifest.
const unsigned long kManifestDeadlineMs = 30000;

// Fills gManifest from a zero-terminated document.
void ReadManifest(const char* text);

// Fetches and reads the manifest; 1 when it offers a newer version.
int FetchManifest();

// 1 when the manifest's version text sorts after the installed file version.
int IsNewerThanInstalled();
