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

// The upgrade, once offered: the prompt, the download and the hand-over.
void Upgrade() {
  if (!PromptForUpgrade()) return;
  // A failed download hands nothing over: closing the host for an installer
  // that never arrived would leave the user without the application.
  platform::File installer = DownloadInstaller();
  if (!installer) return;
  int refused = 0;
  if (gRunState.cancelled) {
    Log("installer: cancelled, nothing started");
  } else {
    refused = !InstallerIsTrusted(installer, gWorkPaths.installerPath) ||
              !FileMatchesHash(installer, gManifest.installerSha256, "installer");
    if (!refused) HandOverToInstaller();
  }
  installer.Reset();  // only now: the file stays as checked until it was started
  if (refused) platform::RemoveFile(gWorkPaths.installerPath);
}

// The steps of a run that holds the run mutex.
int RunSteps() {
  // Held from its checks to the end of the run: the folder that was checked
  // is the one the run uses, never one put in its place.
  unsigned long started = platform::TickCount();
  platform::File workFolder;
  if (!PrepareWorkPaths(&workFolder)) return 0;
  StartRunLog();
  char ownVersion[64];
  FileVersionText(gWorkPaths.updaterPath, ownVersion, sizeof ownVersion);
  Log("start: Updater.exe %s, work folder %s%s%s", ownVersion, gWorkPaths.workDir,
      gWorkPaths.shortNameUsed ? " (a folder goes by its short name)" : "",
      gWorkPaths.ownerUnknown ? " (its volume keeps no owners: accepted unjudged)" : "");
  int upgradeOffered = CheckForUpdate();
  RefreshContentIfNeeded();  // whether or not an upgrade is offered
  if (upgradeOffered) Upgrade();
  Log("end after %lu ms", platform::TickCount() - started);
  FlushRunLog();
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
  return RunSteps();
}
