#include "run/run.h"

#include "content/content.h"
#include "manifest/manifest.h"
#include "outside/outside.h"
#include "run/reports.h"
#include "shared/log.h"
#include "shared/run_state.h"
#include "shared/work_paths.h"
#include "trust/trust.h"
#include "upgrade/upgrade.h"

namespace {

// The upgrade, once offered: the prompt, the download and the hand-over.
// Reports go after the answer, after a failure, and before the start, never
// after it: the installer may replace this very program.
void Upgrade() {
  if (!PromptForUpgrade()) {
    ReportOutcome("declined", "");
    return;
  }
  // A failed download hands nothing over: closing the host for an installer
  // that never arrived would leave the user without the application.
  char failure[16] = "";
  platform::File installer = ObtainInstaller(failure, sizeof failure);
  if (!installer) {
    ReportOutcome("failed", failure);
    return;
  }
  const char* refused = nullptr;
  int startFailed = 0;
  if (gRunState.cancelled) {
    Log("installer: cancelled, nothing started");
  } else if (!InstallerIsTrusted(installer, gWorkPaths.installerPath)) {
    refused = "signature";
  } else if (!FileMatchesHash(installer, gManifest.installerSha256, "installer")) {
    refused = "hash";
  } else {
    SendHeldReports();
    NoteInstallerStart(gManifest.version);
    unsigned error = HandOverToInstaller();
    if (error) NoteStartFailed(error);  // after Orvessa was started again
    startFailed = error != 0;
  }
  installer.Reset();  // only now: the file stays as checked until it was started
  if (startFailed) {
    KeepTrustedInstaller();
    RememberFailedStart(gManifest.version);
  }
  if (refused) {
    platform::RemoveFile(gWorkPaths.installerPath);
    ReportOutcome("failed", refused);
  }
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
  SendHeldReports();  // what no prompt or failure sent yet
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
