#include "run/run.h"

#include "content/content.h"
#include "manifest/manifest.h"
#include "run/work_paths.h"
#include "upgrade/upgrade.h"

UpdateRunState gRunState;

int RunUpdate(platform::Instance instance) {
  gRunState.instance = instance;
  if (!PrepareWorkPaths()) return 0;
  int upgradeOffered = FetchManifest();
  RefreshContentIfNeeded();  // whether or not an upgrade is offered
  if (!upgradeOffered) return 1;
  if (!PromptForUpgrade()) return 1;
  // A failed download hands nothing over: closing the host for an installer
  // that never arrived would leave the user without the application.
  int installerArrived = DownloadInstaller();
  if (gRunState.cancelled || !installerArrived) return 1;
  HandOverToInstaller();
  return 1;
}
