// Stand-in installer: records that it ran in "installer-ran.txt" beside itself.
#include "standin_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  wchar_t* slash = wcsrchr(path, L'\\');
  if (!slash || slash + 20 >= path + MAX_PATH) return 1;
  lstrcpyW(slash + 1, L"installer-ran.txt");
  AppendLog(path, "ran");
  return 0;
}
