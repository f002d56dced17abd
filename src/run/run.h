// The fixed order of the steps of one update run.
#pragma once

#include "platform/platform.h"

// One update run: 0 when the work directory cannot be prepared, otherwise 1.
int RunUpdate(platform::Instance instance);
