#include "download/download.h"

#include <string.h>

#include "download/watchdog.h"
#include "shared/log.h"

// OnProgress drives the bar, feeds the watchdog and refuses redirects off the
// web; OnStartBinding keeps the binding so that the watchdog can abort it;
// GetBindInfo keeps the transfer out of the cache. The delegate lives on the
// caller's stack for the length of the download call and is never counted or
// handed out.
HRESULT STDMETHODCALLTYPE DownLoadDelegate::QueryInterface(REFIID, void**) { return E_NOTIMPL; }
ULONG STDMETHODCALLTYPE DownLoadDelegate::AddRef() { return static_cast<ULONG>(E_NOTIMPL); }
ULONG STDMETHODCALLTYPE DownLoadDelegate::Release() { return static_cast<ULONG>(E_NOTIMPL); }
HRESULT STDMETHODCALLTYPE DownLoadDelegate::OnStartBinding(DWORD, IBinding* started) {
  if (!started || binding) return S_OK;  // the first binding is the one to watch
  platform::HoldBinding(started);
  binding = started;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE DownLoadDelegate::GetPriority(LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE DownLoadDelegate::OnLowResource(DWORD) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE DownLoadDelegate::OnStopBinding(HRESULT, LPCWSTR) { return E_NOTIMPL; }
// Neither read from nor written to the internet cache: a response served once
// with a long lifetime is never replayed to a later run.
HRESULT STDMETHODCALLTYPE DownLoadDelegate::GetBindInfo(DWORD* flags, BINDINFO* bindInfo) {
  if (flags) *flags = kBindGetNewestVersion | kBindNoWriteCache;
  if (bindInfo) platform::ResetBindInfo(bindInfo);
  return S_OK;
}
HRESULT STDMETHODCALLTYPE DownLoadDelegate::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE DownLoadDelegate::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

namespace {

// A redirect may lead to another web host, never off the web.
int IsWebTarget(const wchar_t* url) {
  static const wchar_t* const kSchemes[] = {L"http://", L"https://"};
  for (const wchar_t* scheme : kSchemes) {
    const wchar_t* c = url;
    const wchar_t* s = scheme;
    for (; *s && (*c >= L'A' && *c <= L'Z' ? *c + 32 : *c) == *s; ++c, ++s) {
    }
    if (!*s) return 1;
  }
  return 0;
}

}  // namespace

HRESULT STDMETHODCALLTYPE DownLoadDelegate::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                                       LPCWSTR statusText) {
  if (statusCode == kBindStatusRedirecting && (!statusText || !IsWebTarget(statusText))) {
    refused = 1;
    return E_ABORT;  // ends the transfer
  }
  lastLife = platform::TickCount();
  progressSeen = 1;
  lastProgress = progress;
  if (progressMax > largestMax) largestMax = progressMax;
  // After a cancel the window is gone and the lookup finds nothing.
  platform::Window bar = window ? platform::DialogItem(window, kProgressBarId) : nullptr;
  if (bar) {
    platform::SetProgressRange(bar, progressMax);
    platform::SetProgressPosition(bar, progress);
    platform::Repaint(bar);
  }
  return S_OK;
}

namespace {

int StartsWithSignature(platform::File file, const FileSignature& signature) {
  unsigned char head[8] = {};
  if (signature.length > sizeof head) return 0;
  long read = platform::ReadFileAt(file, 0, head, static_cast<unsigned long>(signature.length));
  if (read != static_cast<long>(signature.length)) return 0;
  for (const char* const* prefix = signature.prefixes; *prefix; ++prefix) {
    if (memcmp(head, *prefix, signature.length) == 0) return 1;
  }
  return 0;
}

}  // namespace

platform::File DownloadWhole(const char* url, const char* path, DownLoadDelegate* delegate,
                             const FileSignature& signature) {
  platform::Result result;
  FlushRunLog();  // the transfer may take a while, or end the process
  {
    TransferWatchdog watchdog(delegate, url, path);
    result = platform::DownloadToFile(url, path, delegate);
  }  // the watch has ended here
  void* binding = delegate->binding;
  delegate->binding = nullptr;
  if (binding) platform::ReleaseBinding(binding);
  // The platform keeps a copy in the internet cache whatever the bind flags
  // say (Wine does); a later run must never be handed it.
  platform::DeleteCacheEntry(url);
  if (delegate->stalled || delegate->refused) {
    Log("download %s: %s", url, delegate->refused ? "redirected off the web, ended" : "stalled, abandoned");
    platform::RemoveFile(path);
    return nullptr;
  }
  // One handle from here on: what is checked is what the caller gets, and
  // nobody can write, rename or delete the file while it is held.
  platform::File file = result == 0 ? platform::OpenForReading(path) : nullptr;
  long long size = file ? platform::OpenFileSize(file) : -1;
  // The platform may answer success for an error page or a cut transfer:
  // also hold the file against the announced length and its signature.
  int whole = size > 0 && (delegate->largestMax == 0 || static_cast<unsigned long long>(size) == delegate->largestMax);
  int recognized = whole && StartsWithSignature(file, signature);
  Log("download %s: 0x%08lX, %ld bytes, announced %lu, %s%s", url, static_cast<unsigned long>(result),
      static_cast<long>(size), delegate->largestMax, recognized ? "whole, " : whole ? "not " : "not whole",
      whole ? signature.what : "");
  if (recognized) return file;
  if (file) platform::CloseFile(file);
  platform::RemoveFile(path);
  return nullptr;
}
