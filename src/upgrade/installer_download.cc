#include "download/download.h"
#include "manifest/manifest.h"
#include "outside/outside.h"
#include "shared/clock.h"
#include "shared/log.h"
#include "shared/run_state.h"
#include "shared/text.h"
#include "shared/work_paths.h"
#include "upgrade/upgrade.h"

namespace {

const char* const kExecutablePrefixes[] = {"MZ", nullptr};
const FileSignature kExecutableSignature = {kExecutablePrefixes, 2, "an executable"};

// The progress window's bar shows the download.
class ProgressBar : public ProgressSink {
 public:
  void Show(unsigned long received, unsigned long total) override {
    platform::HandlePendingMessages();  // a cancel, a paint, another program asking the bar
    // After a cancel the window is gone, and so is the bar.
    platform::Window bar = gRunState.progressWindow ? platform::DialogItem(gRunState.progressWindow, kProgressBarId)
                                                    : nullptr;
    if (!bar) return;
    platform::SetProgressRange(bar, total);
    platform::SetProgressPosition(bar, received);
    platform::Repaint(bar);
  }
};

ResumeKey OfferKey() { return ResumeKey{gManifest.installerUrl, gManifest.version, gManifest.installerSha256}; }

// A file of the work folder; 0 when its path does not fit.
int WorkFile(char* path, const char* name) { return JoinText(path, platform::kMaxPath, gWorkPaths.workDir, name); }

// The whole, trusted installer an earlier run kept when it did not start, when
// it belongs to this offer: back in place as setup.exe, held and judged again.
platform::File TakeKeptInstaller() {
  char kept[platform::kMaxPath], record[platform::kMaxPath];
  if (!WorkFile(kept, outside::kVerifiedName) || !WorkFile(record, outside::kVerifiedRecordName)) {
    return platform::File();
  }
  long long size = platform::PathFileSize(kept);
  if (size < 0) return platform::File();
  KeptRecord r;
  const char* mismatch = !ReadKeptRecord(record, &r)                               ? "no record"
                         : static_cast<unsigned long>(size) != r.total        ? "not the size it had"
                                                                                   : RecordMismatch(r, OfferKey(), NowUtcSeconds());
  if (mismatch || !platform::MoveReplacing(kept, gWorkPaths.installerPath)) {
    Log("installer: the one kept from a failed start is dropped: %s", mismatch ? mismatch : "it cannot be moved back");
    platform::RemoveFile(kept);
    platform::RemoveFile(record);
    return platform::File();
  }
  platform::RemoveFile(record);
  Log("installer: the one kept from a failed start is used again, no download");
  DownLoadDelegate delegate(nullptr, kMaxInstallerBytes, nullptr);
  delegate.total = r.total;
  return HoldIfRecognized(gWorkPaths.installerPath, gWorkPaths.installerPath, &delegate, kExecutableSignature);
}

}  // namespace

platform::File ObtainInstaller(char* failure, size_t capacity) {
  platform::File kept = TakeKeptInstaller();
  if (kept) return kept;
  ShowProgressWindow();
  ProgressBar bar;
  DownLoadDelegate delegate(&bar, kMaxInstallerBytes, gWorkPaths.workDir);
  if (gRunState.progressWindow) {
    platform::SetItemText(platform::DialogItem(gRunState.progressWindow, kStatusLineId), L"正在下载安装程序...");
    platform::Repaint(gRunState.progressWindow);
  }
  char part[platform::kMaxPath], record[platform::kMaxPath];
  const ResumeKey key = OfferKey();
  // A cancel destroys the window but the transfer runs to its end.
  int whole = WorkFile(part, outside::kInstallerPartName) && WorkFile(record, outside::kInstallerPartRecordName) &&
              DownloadToPath(gManifest.installerUrl, part, &delegate, &key, record);
  if (gRunState.progressWindow) platform::DestroyWindowNow(gRunState.progressWindow);
  gRunState.progressWindow = nullptr;
  platform::File installer;
  if (whole) {
    platform::RemoveFile(record);
    if (platform::MoveReplacing(part, gWorkPaths.installerPath)) {
      installer = HoldIfRecognized(gManifest.installerUrl, gWorkPaths.installerPath, &delegate, kExecutableSignature);
    } else {
      Log("installer: setup.exe cannot be replaced, error %u", platform::LastError());
      platform::RemoveFile(part);
      FormatBounded(delegate.failure, sizeof delegate.failure, "cut");
    }
  }
  FormatBounded(failure, capacity, "%s", delegate.failure);
  return installer;
}

void KeepTrustedInstaller() {
  char kept[platform::kMaxPath], record[platform::kMaxPath];
  long long size = platform::PathFileSize(gWorkPaths.installerPath);
  int done = size > 0 && WorkFile(kept, outside::kVerifiedName) && WorkFile(record, outside::kVerifiedRecordName) &&
             platform::MoveReplacing(gWorkPaths.installerPath, kept) &&
             WriteKeptRecord(record, RecordFor(OfferKey(), "", static_cast<unsigned long>(size)));
  Log("installer: %s", done ? "kept for the next offer of this version" : "could not be kept");
}
