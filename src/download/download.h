// Downloads through the platform's status-callback download, and the checks
// that tell a whole file from an error page or a cut transfer.
#pragma once

#include <stddef.h>

#include "dialog_ids.h"
#include "platform/bind_status_callback.h"
#include "platform/platform.h"

const int kProgressBarId = UPDATER_PROGRESS_BAR;
const unsigned long kBindStatusRedirecting = 6;  // BINDSTATUS_REDIRECTING
const unsigned long kBindGetNewestVersion = 0x10;  // BINDF_GETNEWESTVERSION
const unsigned long kBindNoWriteCache = 0x20;  // BINDF_NOWRITECACHE

// Status callback of a download: drives the progress bar of `window` (which
// may be null) and remembers the sizes the platform reported.
class DownLoadDelegate : public IBindStatusCallback {
 public:
  explicit DownLoadDelegate(platform::Window progressWindow) : window(progressWindow) {}
  virtual ~DownLoadDelegate() {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* bindInfo) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;

  platform::Window window;
  unsigned long lastProgress = 0;  // bytes received at the last notification
  unsigned long largestMax = 0;    // largest total the server announced

  // Shared with the download's watchdog thread (see watchdog.h).
  void* volatile binding = nullptr;          // IBinding, held from OnStartBinding until the call returned
  volatile unsigned long lastLife = 0;       // TickCount of the last progress report
  volatile long progressSeen = 0;            // a first progress report has come
  volatile long stalled = 0;                 // the watchdog gave up on the transfer
  int refused = 0;                           // a redirect led off the web
};

// A signature a downloaded file must begin with.
struct FileSignature {
  const char* const* prefixes;  // null-terminated list; the file starts with one
  size_t length;                // bytes of each prefix
  const char* what;             // for the log: "an executable"
};

// Downloads `url` to `path` through `delegate`. When the call succeeded, the
// file is as long as the platform announced and begins with one of the
// signature's prefixes, answers the file open for reading and shared for
// reading only: the caller closes it. Anything else removes the file and
// answers null. A transfer that stops receiving is abandoned (watchdog.h).
platform::File DownloadWhole(const char* url, const char* path, DownLoadDelegate* delegate,
                  const FileSignature& signature);
