#include "manifest/manifest.h"
#include "shared/run_state.h"
#include "shared/work_paths.h"
#include "download/download.h"
#include "upgrade/upgrade.h"

namespace {

const char* const kExecutablePrefixes[] = {"MZ", nullptr};
const FileSignature kExecutableSignature = {kExecutablePrefixes, 2, "an executable"};

}  // namespace

int DownloadInstaller() {
  ShowProgressWindow();
  DownLoadDelegate delegate(gRunState.progressWindow, kMaxInstallerBytes, gWorkPaths.workDir);
  if (delegate.window) {
    platform::SetItemText(platform::DialogItem(delegate.window, kStatusLineId), L"正在下载安装程序...");
    platform::Repaint(delegate.window);
  }
  // A cancel destroys the window but the transfer runs to its end.
  gRunState.installer =
      DownloadWhole(gManifest.installerUrl, gWorkPaths.installerPath, &delegate, kExecutableSignature);
  if (gRunState.progressWindow) platform::DestroyWindowNow(gRunState.progressWindow);
  gRunState.progressWindow = nullptr;
  return gRunState.installer != nullptr;
}

void ReleaseInstaller(int remove) {
  if (gRunState.installer) platform::CloseFile(gRunState.installer);
  gRunState.installer = nullptr;
  if (remove) platform::RemoveFile(gWorkPaths.installerPath);
}
