#include "outside/outside.h"
#include "shared/run_state.h"
#include "upgrade/upgrade.h"

void ShowProgressWindow() {
  platform::Window owner = platform::FindTopWindow(outside::kHostWindowTitle);
  platform::RegisterProgressBarClass();  // the template names the class
  gRunState.progressWindow =
      platform::CreateDialogFromTemplate(gRunState.instance, kProgressTemplateId, owner, ProgressDialogProc);
  platform::Window window = gRunState.progressWindow;
  if (!window) return;
  // 320 x 480 only set the position; the window keeps the template's size.
  int x = (platform::ScreenWidth() - 320) / 2;
  int y = (platform::ScreenHeight() - 480) / 2;
  platform::PlaceTopMost(window, x, y);
  platform::ShowWindowNow(window);
  platform::ShowWindowNow(platform::DialogItem(window, kProgressBarId));
  platform::Window cancel = platform::DialogItem(window, kCancelId);
  platform::ShowWindowNow(cancel);
  platform::EnableWindowInput(cancel, 0);
  platform::Repaint(window);
}

intptr_t ProgressDialogProc(platform::Window, unsigned message, uintptr_t wParam, intptr_t) {
  if (message == platform::kWmCommand && wParam == static_cast<uintptr_t>(kCancelId)) {
    platform::DestroyWindowNow(gRunState.progressWindow);
    gRunState.progressWindow = nullptr;
    gRunState.cancelled = 1;
  }
  return 0;  // the default dialog handling does the rest
}
