// urlmon: the reporting download and the internet cache. The status-callback
// object lives here, and hands the logic plain reports.
#include "platform/win_internal.h"

#include <urlmon.h>
#include <wininet.h>

namespace platform {

namespace {

// Adapts urlmon's status callback to a DownloadObserver. Lives on the
// caller's stack for the length of the download call, is never counted or
// handed out, and answers only what the download needs.
class StatusCallback : public IBindStatusCallback {
 public:
  explicit StatusCallback(DownloadObserver* observer) : observer_(observer) {}
  virtual ~StatusCallback() {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(E_NOTIMPL); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(E_NOTIMPL); }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override {
    if (!binding) return S_OK;
    binding->AddRef();
    observer_->OnStart(Binding(binding));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override {
    return observer_->OnReport(progress, progressMax, statusCode, statusText) ? S_OK : E_ABORT;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
  // Neither read from nor written to the internet cache: a response served
  // once with a long lifetime is never replayed to a later run.
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* bindInfo) override {
    if (flags) *flags = BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE;
    if (bindInfo) {
      DWORD size = bindInfo->cbSize;
      ::ZeroMemory(bindInfo, size);
      bindInfo->cbSize = size;
      bindInfo->dwBindVerb = BINDVERB_GET;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

 private:
  DownloadObserver* observer_;
};

}  // namespace

Result DownloadToFile(const char* url, const char* path, DownloadObserver* observer) {
  StatusCallback callback(observer);
  return ::URLDownloadToFileA(/*pCaller=*/nullptr, url, path, /*dwReserved=*/0, observer ? &callback : nullptr);
}

void ReleaseBindingHandle(void* raw) { static_cast<IBinding*>(raw)->Release(); }

void AbortBinding(void* binding) { static_cast<IBinding*>(binding)->Abort(); }

int BindingUrl(const Binding& binding, char* url, unsigned long capacity) {
  IWinInetHttpInfo* info = nullptr;
  if (FAILED(static_cast<IBinding*>(binding.Get())->QueryInterface(IID_IWinInetHttpInfo,
                                                                   reinterpret_cast<void**>(&info))) ||
      !info) {
    return 0;
  }
  wchar_t wide[2048] = {};
  DWORD size = sizeof wide - sizeof wide[0];
  HRESULT result = info->QueryOption(INTERNET_OPTION_URL, wide, &size);
  info->Release();
  int lossy = 0;
  return result == S_OK && NarrowToAnsi(wide, url, capacity, &lossy);
}

int BindingHttpStatus(const Binding& binding) {
  IWinInetHttpInfo* info = nullptr;
  if (FAILED(static_cast<IBinding*>(binding.Get())->QueryInterface(IID_IWinInetHttpInfo,
                                                                   reinterpret_cast<void**>(&info))) ||
      !info) {
    return 0;
  }
  DWORD status = 0, size = sizeof status;
  HRESULT result = info->QueryInfo(HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr, nullptr);
  info->Release();
  return result == S_OK ? static_cast<int>(status) : 0;
}

void DeleteCacheEntry(const char* url) { ::DeleteUrlCacheEntryA(url); }

}  // namespace platform
