// Inspects and drives windows from the Windows side, where Wine's child
// controls live. Output is JSON, one object per line.
//   wintool list               top-level windows with their controls
//   wintool command HWND ID    sends WM_COMMAND ID to a window
//   wintool metrics            full-screen client size
//   wintool version FILE       fixed file and product versions, and strings
//   wintool lock FILE SECONDS  holds FILE open, shared with nobody
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

static std::string Utf8(const wchar_t* text) {
  char buffer[4096];
  int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  return length > 0 ? std::string(buffer, length - 1) : std::string();
}

static std::string Quoted(const wchar_t* text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

static std::string Describe(HWND window) {
  wchar_t title[512] = {}, className[256] = {};
  GetWindowTextW(window, title, 512);
  GetClassNameW(window, className, 256);
  RECT rect = {};
  GetWindowRect(window, &rect);
  char head[512];
  snprintf(head, sizeof head,
           "\"hwnd\": %llu, \"id\": %d, \"style\": %lu, \"exstyle\": %lu, \"visible\": %d, \"enabled\": %d, "
           "\"rect\": [%ld, %ld, %ld, %ld]",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)), GetDlgCtrlID(window),
           static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)),
           static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)), IsWindowVisible(window) ? 1 : 0,
           IsWindowEnabled(window) ? 1 : 0, rect.left, rect.top, rect.right, rect.bottom);
  std::string out = std::string(head) + ", \"title\": " + Quoted(title) + ", \"class\": " + Quoted(className);
  if (!lstrcmpiW(className, L"msctls_progress32")) {
    // The range goes by return value: a PBRANGE pointer does not cross processes.
    LRESULT low = SendMessageW(window, PBM_GETRANGE, TRUE, 0);
    LRESULT high = SendMessageW(window, PBM_GETRANGE, FALSE, 0);
    LRESULT position = SendMessageW(window, PBM_GETPOS, 0, 0);
    char bar[128];
    snprintf(bar, sizeof bar, ", \"range\": [%ld, %ld], \"pos\": %ld", static_cast<long>(low), static_cast<long>(high),
             static_cast<long>(position));
    out += bar;
  }
  return out;
}

static BOOL CALLBACK AddChild(HWND child, LPARAM list) {
  std::string* out = reinterpret_cast<std::string*>(list);
  if (!out->empty()) *out += ", ";
  *out += "{" + Describe(child) + "}";
  return TRUE;
}

static BOOL CALLBACK PrintTopLevel(HWND window, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  HWND owner = GetWindow(window, GW_OWNER);
  wchar_t ownerTitle[512] = {};
  if (owner) GetWindowTextW(owner, ownerTitle, 512);
  std::string children;
  EnumChildWindows(window, AddChild, reinterpret_cast<LPARAM>(&children));
  printf("{%s, \"pid\": %lu, \"owner\": %llu, \"owner_title\": %s, \"children\": [%s]}\n", Describe(window).c_str(),
         static_cast<unsigned long>(pid), static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(owner)),
         Quoted(ownerTitle).c_str(), children.c_str());
  return TRUE;
}

static void PrintVersion(const wchar_t* path) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &handle);
  std::string block(size ? size : 1, '\0');
  if (!size || !GetFileVersionInfoW(path, 0, size, &block[0])) {
    printf("{\"error\": 1}\n");
    return;
  }
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  VerQueryValueW(&block[0], L"\\", reinterpret_cast<void**>(&info), &length);
  std::string strings;
  for (const wchar_t* name : {L"InternalName", L"OriginalFilename", L"FileVersion", L"ProductVersion"}) {
    wchar_t query[128];
    wsprintfW(query, L"\\StringFileInfo\\080404b0\\%s", name);
    wchar_t* value = nullptr;
    if (VerQueryValueW(&block[0], query, reinterpret_cast<void**>(&value), &length) && value) {
      strings += (strings.empty() ? "" : ", ") + Quoted(name) + ": " + Quoted(value);
    }
  }
  printf("{\"file\": [%lu, %lu, %lu, %lu], \"product\": [%lu, %lu, %lu, %lu], \"strings\": {%s}}\n",
         info->dwFileVersionMS >> 16, info->dwFileVersionMS & 0xFFFF, info->dwFileVersionLS >> 16,
         info->dwFileVersionLS & 0xFFFF, info->dwProductVersionMS >> 16, info->dwProductVersionMS & 0xFFFF,
         info->dwProductVersionLS >> 16, info->dwProductVersionLS & 0xFFFF, strings.c_str());
}

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && !lstrcmpW(argv[1], L"list")) {
    EnumWindows(PrintTopLevel, 0);
  } else if (argc >= 4 && !lstrcmpW(argv[1], L"command")) {
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(_wcstoui64(argv[2], nullptr, 10)));
    DWORD_PTR answer = 0;
    LRESULT sent = SendMessageTimeoutW(window, WM_COMMAND, _wtoi(argv[3]), 0, SMTO_NORMAL, 10000, &answer);
    printf("{\"sent\": %d}\n", sent ? 1 : 0);
  } else if (argc >= 4 && !lstrcmpW(argv[1], L"lock")) {
    HANDLE file = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    printf("{\"locked\": %d}\n", file != INVALID_HANDLE_VALUE ? 1 : 0);
    fflush(stdout);
    Sleep(static_cast<DWORD>(_wtoi(argv[3])) * 1000);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  } else if (argc >= 3 && !lstrcmpW(argv[1], L"version")) {
    PrintVersion(argv[2]);
  } else if (argc >= 2 && !lstrcmpW(argv[1], L"metrics")) {
    printf("{\"cx\": %d, \"cy\": %d}\n", GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN));
  } else {
    return 2;
  }
  fflush(stdout);
  return 0;
}
