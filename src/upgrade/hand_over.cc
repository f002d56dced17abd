#include <string.h>

#include "outside/outside.h"
#include "shared/log.h"
#include "shared/work_paths.h"
#include "upgrade/upgrade.h"

namespace {

// Asks the running host to close and waits for its end (at least the pause,
// at most the bounds). 1 when a host was running and is gone now.
int CloseHost() {
  platform::Window host = platform::FindTopWindow(outside::kHostWindowTitle);
  if (!host) {
    Log("hand-over: no host window");
    return 0;
  }
  // The process is found before the close: afterwards the window is gone.
  platform::Process process = platform::OpenWindowProcess(host);
  int handled = platform::SendClose(host, kCloseSendLimitMs);
  unsigned long sent = platform::TickCount();
  int ended = process && platform::WaitProcessEnd(process, kHostExitLimitMs);
  int reached = process ? 1 : 0;
  process.Reset();
  unsigned long waited = platform::TickCount() - sent;
  Log("hand-over: WM_CLOSE %s; host %s after %lu ms", handled ? "handled" : "not handled in time",
      !reached ? "process out of reach" : ended ? "ended" : "still running", waited);
  if (waited < kHandOverPauseMs) platform::Pause(kHandOverPauseMs - waited);
  return reached ? ended : 1;  // out of reach: judged by its window when it matters
}

// Starts the host again from the program's folder, as the user started it.
void RestartHost() {
  if (platform::FindTopWindow(outside::kHostWindowTitle)) {
    Log("hand-over: Orvessa is still running, not started again");
    return;
  }
  char folder[platform::kMaxPath];
  memcpy(folder, gWorkPaths.hostExePath, sizeof folder);
  KeepDirectory(folder);
  int answer = platform::OpenWithShell(gWorkPaths.hostExePath, folder[0] ? folder : nullptr);
  unsigned error = platform::LastError();
  if (answer > 32) {
    Log("hand-over: Orvessa started again: ShellExecute %d", answer);
  } else {
    Log("hand-over: Orvessa not started again: ShellExecute %d, error %u (%s)", answer, error,
        platform::ShellFailure(answer, error));
  }
}

}  // namespace

unsigned HandOverToInstaller() {
  int hostClosed = CloseHost();
  int answer = platform::OpenWithShell(gWorkPaths.installerPath, nullptr);
  unsigned error = platform::LastError();  // read before anything else can change it
  if (answer > 32) {
    Log("hand-over: ShellExecute %d", answer);
    return 0;
  }
  // No installer runs: the user gets back the application this run closed.
  // setup.exe stays; the next run removes it.
  Log("hand-over: setup.exe did not start: ShellExecute %d, error %u (%s)", answer, error,
      platform::ShellFailure(answer, error));
  if (hostClosed) RestartHost();
  return error ? error : static_cast<unsigned>(answer);
}
