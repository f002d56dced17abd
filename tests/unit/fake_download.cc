// The fake platform: urlmon.
#include "fake_internal.h"

#include <string.h>

#include <algorithm>

namespace platform {

Result DownloadToFile(const char* url, const char* path, DownloadObserver* status) {
  Record(std::string("Download ") + url + " -> " + path);
  auto found = gFake->downloads.find(url);
  if (found == gFake->downloads.end()) return static_cast<Result>(0x800C0008L);
  FakeDownload& download = found->second;
  if (status) {
    Record("HoldBinding");
    status->OnStart(Binding(reinterpret_cast<void*>(0xB1)));
  }
  bool first = true;
  if (status && !download.redirect.empty()) {
    std::wstring target(download.redirect.begin(), download.redirect.end());
    if (!status->OnReport(0, 0, kBindStatusRedirecting, target.c_str())) return kResultAbort;
  }
  gFake->bindingUrl = download.silentRedirect;
  gFake->bindingStatus = download.httpStatus;
  if (status) {
    std::wstring asked(url, url + strlen(url));  // the first data is reported under the address asked for
    if (!status->OnReport(0, 0, kBindStatusBeginData, asked.c_str())) return kResultAbort;
  }
  auto partial = [&](size_t bytes) {
    if (!gFake->locked.count(path)) gFake->files[path] = download.bytes.substr(0, bytes);
    return kResultAbort;
  };
  for (auto& step : download.progress) {
    if (download.msPerStep) {  // time passes before each report, and the watchdog looks
      gFake->tick += download.msPerStep;
      gFake->watchLooks = 1;
      if (gFake->threadJob) gFake->threadJob(gFake->threadContext);
      if (gFake->Called("AbortBinding")) return partial(step.first);
    }
    // As on Windows, E_ABORT from the callback ends the transfer.
    if (status && !status->OnReport(step.first, step.second, 5, nullptr)) {
      return partial(step.first);
    }
    if (first && gFake->duringDownload) gFake->duringDownload(url);  // mid-transfer
    if (first && download.stallMs) {
      // The server goes quiet: time passes with no report, and the watchdog looks once.
      gFake->tick += download.stallMs;
      gFake->watchLooks = 1;
      if (gFake->threadJob) gFake->threadJob(gFake->threadContext);
      if (gFake->Called("AbortBinding")) return partial(download.bytes.size() / 2);
    }
    first = false;
  }
  if (download.writesFile && !gFake->locked.count(path)) gFake->files[path] = download.bytes;
  return download.result;
}

void AbortBinding(void*) { Record("AbortBinding"); }
void ReleaseBindingHandle(void*) {
  if (gFake) Record("ReleaseBinding");
}
int BindingHttpStatus(const Binding&) { return gFake->bindingStatus; }
int BindingUrl(const Binding&, char* url, unsigned long capacity) {
  if (gFake->bindingUrl.empty() || gFake->bindingUrl.size() >= capacity) return 0;
  strcpy(url, gFake->bindingUrl.c_str());
  return 1;
}

void DeleteCacheEntry(const char* url) { Record(std::string("DeleteCacheEntry ") + url);
}

}  // namespace platform
