// Starts a program with TMP and TEMP set to the given directory (Wine takes
// them from the Windows environment, not the Unix one), waits for it and
// exits with its exit code. Usage: launcher TEMPDIR PROGRAM [ARGS...]
#include <windows.h>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 100;
  std::wstring block;
  for (const wchar_t* entry = GetEnvironmentStringsW(); *entry; entry += lstrlenW(entry) + 1) {
    if (!_wcsnicmp(entry, L"TMP=", 4) || !_wcsnicmp(entry, L"TEMP=", 5)) continue;
    block.append(entry).push_back(L'\0');
  }
  block.append(L"TMP=").append(argv[1]).push_back(L'\0');
  block.append(L"TEMP=").append(argv[1]).push_back(L'\0');
  block.push_back(L'\0');
  std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
  for (int i = 3; i < argc; ++i) command.append(L" \"").append(argv[i]).append(L"\"");
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[2], &command[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &block[0],
                      nullptr, &startup, &process)) {
    return 101;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 102;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
