// Where the host executable is and where a run downloads to.
#pragma once

#include "platform/platform.h"

struct WorkPaths {
  char updaterPath[platform::kMaxPath];    // this program, as the run names it
  char hostExePath[platform::kMaxPath];    // own directory + "Orvessa.exe"
  char workDir[platform::kMaxPath];        // always ends in a backslash
  char installerPath[platform::kMaxPath];  // workDir + "setup.exe"
  char contentPath[platform::kMaxPath];    // workDir + "mnMain.swf"
  char logPath[platform::kMaxPath];        // workDir + "update.log" once the run's log started
  int shortNameUsed;                       // a folder is known by its 8.3 name
  int ownerUnknown;                        // the work folder's volume keeps no owners
};

extern WorkPaths gWorkPaths;

// Makes sure the work directory exists and removes a stale installer from it.
// 0 when it cannot be created or is not ours; the user has then been told with
// an error box. Otherwise `heldFolder` holds the folder open (null when a file
// stands in its place).
int PrepareWorkPaths(platform::File* heldFolder);

// Cuts a full file path right after its last backslash; empty when it has none.
void KeepDirectory(char* path);

// A path the system answered in wide form, as the narrow path the run works
// with: its ANSI form when the code page holds every character, otherwise its
// short (8.3) form when that one converts whole. Empty and 0 when neither fits.
int NarrowSystemPath(const wchar_t* path, char* out, size_t capacity);
