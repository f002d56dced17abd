#include "run/run.h"

#include "content/content.h"
#include "manifest/manifest.h"
#include "outside/outside.h"
#include "shared/log.h"
#include "shared/run_state.h"
#include "shared/work_paths.h"
#include "trust/trust.h"
#include "upgrade/upgrade.h"

namespace {

// The steps of a run that holds the run mutex.
int RunSteps() {
  if (!PrepareWorkPaths()) return 0;
  StartRunLog();
  char ownVersion[64];
  FileVersionText(gWorkPaths.updaterPath, ownVersion, sizeof ownVersion);
  Log("start: Updater.exe %s, work folder %s%s%s", ownVersion, gWorkPaths.workDir,
      gWorkPaths.shortNameUsed ? " (a folder goes by its short name)" : "",
      gWorkPaths.ownerUnknown ? " (its volume keeps no owners: accepted unjudged)" : "");
  int upgradeOffered = FetchManifest();
  RefreshContentIfNeeded();  // whether or not an upgrade is offered
  if (!upgradeOffered) return 1;
  if (!PromptForUpgrade()) return 1;
  // A failed download hands nothing over: closing the host for an installer
  // that never arrived would leave the user without the application.
  if (!DownloadInstaller()) return 1;
  int refused = 0;
  if (gRunState.cancelled) {
    Log("installer: cancelled, nothing started");
  } else {
    refused = !InstallerIsTrusted(gRunState.installer, gWorkPaths.installerPath) ||
              !FileMatchesHash(gRunState.installer, gManifest.installerSha256, "installer");
    if (!refused) HandOverToInstaller();
  }
  ReleaseInstaller(refused);  // only now: the file stays as checked until it was started
  return 1;
}

}  // namespace

int RunUpdate(platform::Instance instance) {
  // First of all: no DLL is ever loaded from the program's or the current folder.
  platform::RestrictDllSearch();
  gRunState.instance = instance;
  // Before anything else: a second run would clear setup.exe from under the
  // first and start a second installer. It ends here, touching nothing.
  platform::Mutex running = platform::TakeNamedMutex(outside::kRunMutexName);
  if (!running) return 1;
  unsigned long started = platform::TickCount();
  int answer = RunSteps();
  Log("end after %lu ms", platform::TickCount() - started);
  FlushRunLog();
  ReleaseWorkFolder();
  platform::ReleaseNamedMutex(running);
  return answer;
}
