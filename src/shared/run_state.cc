#include "shared/run_state.h"

#include "manifest/manifest.h"

UpdateManifest gManifest;

UpdateRunState gRunState;
