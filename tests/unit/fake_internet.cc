// The fake platform: WinINet.
#include "fake_internal.h"

#include <stdio.h>
#include <wchar.h>
#include <string.h>

#include <algorithm>

namespace platform {

int SystemHasProxy() { return gFake->proxyConfigured; }

Internet OpenSession(const wchar_t* agent, int viaProxy) {
  Record(viaProxy ? "OpenSession proxy" : "OpenSession");
  gFake->sessionViaProxy = viaProxy != 0;
  gFake->agent = agent;
  return Internet(gFake->sessionOpens ? reinterpret_cast<void*>(0x10) : nullptr);
}

Internet OpenUrlReload(const Internet&, const wchar_t* url, unsigned long timeoutMs, const wchar_t*) {
  Record("OpenUrl");
  if (std::wstring(url).find(L".p7s") != std::wstring::npos) {  // the signature answers on its own
    Record("OpenUrl signature");
    if (!gFake->signatureServed) {
      gFake->lastError = 12029;
      return Internet();
    }
    gFake->lengthText = std::to_wstring(gFake->signature.size());
    gFake->pieces = {gFake->signature};
    return Internet(reinterpret_cast<void*>(0x21));
  }
  std::string asked = Narrow(url);
  size_t query = asked.find("pellixupdatereport?");
  if (query != std::string::npos) {  // an outcome report: recorded, answered or not
    gFake->reports.push_back(asked.substr(query + 19));
    Record("Report " + gFake->reports.back());
    if (!gFake->reportAnswers) gFake->lastError = 12029;
    return Internet(gFake->reportAnswers ? reinterpret_cast<void*>(0x22) : nullptr);
  }
  gFake->url = url;
  gFake->timeout = timeoutMs;
  if (gFake->blocksPastDeadline) {  // the call returns only once the deadline's watch closed the session
    gFake->tick += 30000;
    gFake->watchLooks = 1;
    if (gFake->threadJob) gFake->threadJob(gFake->threadContext);
    gFake->lastError = 12017;  // ERROR_INTERNET_OPERATION_CANCELLED
    return Internet();
  }
  bool opens = gFake->sessionViaProxy ? gFake->urlOpensViaProxy : gFake->urlOpens;
  if (!opens) gFake->lastError = gFake->urlError;
  return Internet(opens ? reinterpret_cast<void*>(0x20) : nullptr);
}

int QueryContentLength(const Internet& request, wchar_t* text, unsigned long byteCapacity) {
  if (fake::IsDownloadRequest(request.Get())) return fake::DownloadLength(text, byteCapacity);
  Record("QueryContentLength");
  if (!gFake->haveLength) return 0;
  size_t room = byteCapacity / sizeof(wchar_t);
  if (gFake->lengthText.size() + 1 > room) return 0;
  wcscpy(text, gFake->lengthText.c_str());
  return 1;
}

int AvailableInternet(const Internet& request, unsigned long* available) {
  if (fake::IsDownloadRequest(request.Get())) {
    *available = 65536;  // the read says how much came
    return 1;
  }
  *available = gFake->pieces.empty() ? 0 : static_cast<unsigned long>(gFake->pieces.front().size());
  return 1;
}

int QueryStatusCode(const Internet& request) {
  return fake::IsDownloadRequest(request.Get()) ? fake::DownloadStatus() : 200;
}

int ReadInternet(const Internet& request, void* buffer, unsigned long size, unsigned long* read) {
  if (fake::IsDownloadRequest(request.Get())) {
    long count = fake::DownloadRead(buffer, size);
    *read = count > 0 ? static_cast<unsigned long>(count) : 0;
    return count >= 0;
  }
  Record("ReadInternet");
  gFake->tick += gFake->msPerRead;
  int index = gFake->reads++;
  gFake->largestReadRequest = std::max<size_t>(gFake->largestReadRequest, size);
  if (index == gFake->failReadAt) return 0;
  *read = 0;
  if (gFake->pieces.empty()) return 1;  // end of stream
  std::string& piece = gFake->pieces.front();
  size_t count = std::min<size_t>(size, piece.size());
  memcpy(buffer, piece.data(), count);
  piece.erase(0, count);
  if (piece.empty()) gFake->pieces.erase(gFake->pieces.begin());
  *read = static_cast<unsigned long>(count);
  return 1;
}

int QueryRequestUrl(const Internet& request, char* url, unsigned long capacity) {
  if (fake::IsDownloadRequest(request.Get())) return fake::DownloadUrl(url, capacity);
  std::string at = gFake->redirectedTo.empty() ? Narrow(gFake->url.c_str()) : gFake->redirectedTo;
  snprintf(url, capacity, "%s", at.c_str());
  return 1;
}

void CloseInternetHandle(void* handle) {
  if (!gFake) return;
  Record(handle == reinterpret_cast<void*>(0x10) ? "CloseSession"
         : handle == reinterpret_cast<void*>(0x21) ? "CloseSignatureRequest"
         : handle == reinterpret_cast<void*>(0x22) ? "CloseReportRequest"
         : handle == reinterpret_cast<void*>(0x30) ? "CloseDownloadSession"
         : handle == reinterpret_cast<void*>(0x31) ? "CloseDownload" : "CloseRequest");
}

}  // namespace platform
