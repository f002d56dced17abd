// The run state and the fixed order of the steps of one update run.
#pragma once

#include "platform/platform.h"

struct UpdateRunState {
  platform::Instance instance;
  platform::Window progressWindow;  // the progress window while it exists
  int cancelled;                    // set by the progress window's cancel
};

extern UpdateRunState gRunState;

// One update run: 0 when the work directory cannot be prepared, otherwise 1.
int RunUpdate(platform::Instance instance);
