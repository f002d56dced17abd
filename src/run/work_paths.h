// Where the host executable is and where a run downloads to.
#pragma once

#include "platform/platform.h"

struct WorkPaths {
  char hostExePath[platform::kMaxPath];    // own directory + "Orvessa.exe"
  char workDir[platform::kMaxPath];        // always ends in a backslash
  char installerPath[platform::kMaxPath];  // workDir + "setup.exe"
  char contentPath[platform::kMaxPath];    // workDir + "mnMain.swf"
};

extern WorkPaths gWorkPaths;

// Makes sure the work directory exists and removes a stale installer from it.
// 0 when it cannot be created; the user has then been told with an error box.
int PrepareWorkPaths();
