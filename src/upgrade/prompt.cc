#include "manifest/manifest.h"
#include "outside/outside.h"
#include "shared/work_paths.h"
#include "upgrade/upgrade.h"

int PromptForUpgrade() {
  platform::Window owner = platform::FindTopWindow(outside::kPlayerWindowTitle);
  const wchar_t* text = gManifest.forced ? L"Orvessa发现新版本，点击确定后更新。" : L"Orvessa发现新版本，是否现在更新？";
  unsigned buttons = gManifest.forced ? platform::kMbOk : platform::kMbYesNo;
  int answer = platform::ShowMessageBox(owner, text, L"更新提示", buttons);
  return answer == platform::kIdYes || answer == platform::kIdOk;
}

void HandOverToInstaller() {
  platform::Window host = platform::FindTopWindow(outside::kHostWindowTitle);
  if (host) {
    // The process is found before the close: afterwards the window is gone.
    platform::Process process = platform::OpenWindowProcess(host);
    platform::SendClose(host, kCloseSendLimitMs);
    unsigned long sent = platform::TickCount();
    if (process) {
      platform::WaitProcessEnd(process, kHostExitLimitMs);
      platform::CloseProcess(process);
    }
    unsigned long waited = platform::TickCount() - sent;
    if (waited < kHandOverPauseMs) platform::Pause(kHandOverPauseMs - waited);
  }
  platform::OpenWithShell(gWorkPaths.installerPath);
}
