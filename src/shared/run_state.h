// The state one update run shares between its steps.
#pragma once

#include "platform/platform.h"

struct UpdateRunState {
  platform::Instance instance;
  platform::Window progressWindow;  // the progress window while it exists
  int cancelled;                    // set by the progress window's cancel
  platform::File installer;         // setup.exe, held from its checks until it was started
  platform::File workFolder;        // the work folder itself, held from its checks to the end of the run
};

extern UpdateRunState gRunState;
