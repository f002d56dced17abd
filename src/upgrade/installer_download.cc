#include "manifest/manifest.h"
#include "shared/run_state.h"
#include "shared/work_paths.h"
#include "download/download.h"
#include "upgrade/upgrade.h"
#include "shared/text.h"

namespace {

const char* const kExecutablePrefixes[] = {"MZ", nullptr};
const FileSignature kExecutableSignature = {kExecutablePrefixes, 2, "an executable"};

// The progress window's bar shows the download.
class ProgressBar : public ProgressSink {
 public:
  void Show(unsigned long received, unsigned long total) override {
    // After a cancel the window is gone, and so is the bar.
    platform::Window bar = gRunState.progressWindow ? platform::DialogItem(gRunState.progressWindow, kProgressBarId)
                                                    : nullptr;
    if (!bar) return;
    platform::SetProgressRange(bar, total);
    platform::SetProgressPosition(bar, received);
    platform::Repaint(bar);
  }
};

}  // namespace

platform::File DownloadInstaller(char* failure, size_t capacity) {
  ShowProgressWindow();
  ProgressBar bar;
  DownLoadDelegate delegate(&bar, kMaxInstallerBytes, gWorkPaths.workDir);
  if (gRunState.progressWindow) {
    platform::SetItemText(platform::DialogItem(gRunState.progressWindow, kStatusLineId), L"正在下载安装程序...");
    platform::Repaint(gRunState.progressWindow);
  }
  // A cancel destroys the window but the transfer runs to its end.
  platform::File installer =
      DownloadWhole(gManifest.installerUrl, gWorkPaths.installerPath, &delegate, kExecutableSignature);
  if (gRunState.progressWindow) platform::DestroyWindowNow(gRunState.progressWindow);
  gRunState.progressWindow = nullptr;
  FormatBounded(failure, capacity, "%s", delegate.failure);
  return installer;
}
