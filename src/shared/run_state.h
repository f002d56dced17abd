// The state one update run shares between its steps.
#pragma once

#include "platform/platform.h"

struct UpdateRunState {
  platform::Instance instance;
  platform::Window progressWindow;  // the progress window while it exists
  int cancelled;                    // set by the progress window's cancel
};

extern UpdateRunState gRunState;
