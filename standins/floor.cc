// Floor programs for the benchmarks: the least work that does the same
// network job as the updater.
//   floor_fetch manifest        one WinINet request of the manifest address
//   floor_fetch download URL F  URLDownloadToFileA with no callback
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>
#include <stdio.h>

static const wchar_t kManifestUrl[] = L"http://" UPDATER_SERVER_HOST "/api/pellixupdatecfg.xml?1";

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && !lstrcmpW(argv[1], L"manifest")) {
    HINTERNET session = InternetOpenW(kManifestUrl, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = session ? InternetOpenUrlW(session, kManifestUrl, nullptr, 0, INTERNET_FLAG_RELOAD, 0) : nullptr;
    char body[65536];
    DWORD read = 0;
    if (request) InternetReadFile(request, body, sizeof body - 1, &read);
    if (request) InternetCloseHandle(request);
    if (session) InternetCloseHandle(session);
    return 0;
  }
  if (argc >= 4 && !lstrcmpW(argv[1], L"download")) {
    HRESULT result = URLDownloadToFileW(nullptr, argv[2], argv[3], 0, nullptr);
    return SUCCEEDED(result) ? 0 : 1;
  }
  return 2;
}
