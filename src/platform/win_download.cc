// urlmon: the status-callback download and the internet cache.
#include "platform/win_internal.h"

#include <urlmon.h>
#include <wininet.h>

namespace platform {

Result DownloadToFile(const char* url, const char* path, void* callback) {
  return ::URLDownloadToFileA(/*pCaller=*/nullptr, url, path, /*dwReserved=*/0,
                              static_cast<IBindStatusCallback*>(callback));
}

void ResetBindInfo(void* bindInfo) {
  BINDINFO* info = static_cast<BINDINFO*>(bindInfo);
  DWORD size = info->cbSize;
  ::ZeroMemory(info, size);
  info->cbSize = size;
  info->dwBindVerb = BINDVERB_GET;
}

void HoldBinding(void* binding) { static_cast<IBinding*>(binding)->AddRef(); }

void AbortBinding(void* binding) { static_cast<IBinding*>(binding)->Abort(); }

void ReleaseBinding(void* binding) { static_cast<IBinding*>(binding)->Release(); }

int BindingUrl(void* binding, char* url, unsigned long capacity) {
  IWinInetHttpInfo* info = nullptr;
  if (FAILED(static_cast<IBinding*>(binding)->QueryInterface(IID_IWinInetHttpInfo, reinterpret_cast<void**>(&info))) ||
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

void DeleteCacheEntry(const char* url) { ::DeleteUrlCacheEntryA(url); }

}  // namespace platform
