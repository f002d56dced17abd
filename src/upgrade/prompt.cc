#include "manifest/manifest.h"
#include "outside/outside.h"
#include "shared/log.h"
#include "shared/work_paths.h"
#include "upgrade/upgrade.h"

int PromptForUpgrade() {
  platform::Window owner = platform::FindTopWindow(outside::kPlayerWindowTitle);
  const wchar_t* text = gManifest.forced ? L"Orvessa发现新版本，点击确定后更新。" : L"Orvessa发现新版本，是否现在更新？";
  unsigned buttons = gManifest.forced ? platform::kMbOk : platform::kMbYesNo;
  FlushRunLog();  // the user may take a while
  int answer = platform::ShowMessageBox(owner, text, L"更新提示", buttons);
  int accepted = answer == platform::kIdYes || answer == platform::kIdOk;
  Log("prompt: %s, answered %d (%s)", gManifest.forced ? "forced" : "optional", answer, accepted ? "go" : "not now");
  return accepted;
}

void HandOverToInstaller() {
  platform::Window host = platform::FindTopWindow(outside::kHostWindowTitle);
  if (host) {
    // The process is found before the close: afterwards the window is gone.
    platform::Process process = platform::OpenWindowProcess(host);
    int handled = platform::SendClose(host, kCloseSendLimitMs);
    unsigned long sent = platform::TickCount();
    int ended = 0;
    if (process) {
      ended = platform::WaitProcessEnd(process, kHostExitLimitMs);
      platform::CloseProcess(process);
    }
    unsigned long waited = platform::TickCount() - sent;
    Log("hand-over: WM_CLOSE %s; host %s after %lu ms", handled ? "handled" : "not handled in time",
        !process ? "process out of reach" : ended ? "ended" : "still running", waited);
    if (waited < kHandOverPauseMs) platform::Pause(kHandOverPauseMs - waited);
  } else {
    Log("hand-over: no host window");
  }
  Log("hand-over: ShellExecute %d", platform::OpenWithShell(gWorkPaths.installerPath));
}
