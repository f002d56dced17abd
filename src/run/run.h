// The fixed order of the steps of one update run.
#pragma once

#include "platform/platform.h"

// One update run: 0 when the work directory cannot be prepared, otherwise 1.
int RunUpdate(platform::Instance instance);

// Fetches the manifest and decides on it: the content fields and the offer
// go to gManifest when the manifest is believed. 1 when an upgrade is offered.
int CheckForUpdate();

// The installer of `version` did not start: it is not offered again for a while.
void RememberFailedStart(const char* version);
