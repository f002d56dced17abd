#include "shared/run_state.h"

UpdateRunState gRunState;
