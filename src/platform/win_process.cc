// Processes, threads, events, time and the shell: kernel32 and shell32.
#include "platform/win_internal.h"

#include <shellapi.h>

namespace platform {

HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t path[MAX_PATH + 32];
  UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || ::lstrlenW(name) > 30) return nullptr;
  path[length] = L'\\';
  ::lstrcpyW(path + length + 1, name);
  return ::LoadLibraryW(path);
}


void RestrictDllSearch() {
  // Looked up, not imported: XP before SP1 lacks the first, and only Windows 8
  // (or 7 with its update) has the second.
  typedef BOOL(WINAPI * SetDirectory)(LPCWSTR);
  typedef BOOL(WINAPI * SetDefaults)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  SetDirectory setDirectory =
      reinterpret_cast<SetDirectory>(reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDllDirectoryW")));
  SetDefaults setDefaults =
      reinterpret_cast<SetDefaults>(reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDirectory) setDirectory(L"");
  if (setDefaults) setDefaults(0x00000800);  // LOAD_LIBRARY_SEARCH_SYSTEM32
}

Mutex TakeNamedMutex(const wchar_t* name) {
  HANDLE mutex = ::CreateMutexW(/*lpMutexAttributes=*/nullptr, /*bInitialOwner=*/TRUE, name);
  if (mutex && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    return nullptr;
  }
  return mutex;
}

void ReleaseNamedMutex(Mutex mutex) {
  ::ReleaseMutex(mutex);
  ::CloseHandle(mutex);
}

LocalTime CurrentLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  LocalTime result = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  return result;
}

void Pause(unsigned long milliseconds) { ::Sleep(milliseconds); }

unsigned long TickCount() { return ::GetTickCount(); }

namespace {

struct ThreadStart {
  void (*job)(void*);
  void* context;
};

DWORD WINAPI ThreadThunk(void* parameter) {
  ThreadStart start = *static_cast<ThreadStart*>(parameter);
  ::HeapFree(::GetProcessHeap(), 0, parameter);
  start.job(start.context);
  return 0;
}

}  // namespace

Thread StartThread(void (*job)(void* context), void* context) {
  ThreadStart* start = static_cast<ThreadStart*>(::HeapAlloc(::GetProcessHeap(), 0, sizeof(ThreadStart)));
  if (!start) return nullptr;
  start->job = job;
  start->context = context;
  HANDLE thread = ::CreateThread(nullptr, /*dwStackSize=*/64 * 1024, ThreadThunk, start, 0, nullptr);
  if (!thread) ::HeapFree(::GetProcessHeap(), 0, start);
  return thread;
}

void JoinThread(Thread thread) {
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
}

Event NewEvent() { return ::CreateEventW(nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE, nullptr); }

void SignalEvent(Event event) { ::SetEvent(event); }

int WaitEvent(Event event, unsigned long milliseconds) {
  return ::WaitForSingleObject(event, milliseconds) == WAIT_OBJECT_0;
}

void CloseEvent(Event event) { ::CloseHandle(event); }

void EndProcessNow() { ::TerminateProcess(::GetCurrentProcess(), 0); }

Process OpenWindowProcess(Window window) {
  DWORD processId = 0;
  ::GetWindowThreadProcessId(Hwnd(window), &processId);
  return processId ? ::OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr;
}

int WaitProcessEnd(Process process, unsigned long milliseconds) {
  return ::WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0;
}

void CloseProcess(Process process) { ::CloseHandle(process); }

int OpenWithShell(const char* path, const char* folder) {
  return static_cast<int>(reinterpret_cast<INT_PTR>(::ShellExecuteA(/*hwnd=*/nullptr, /*lpOperation=*/nullptr, path,
                                                                    /*lpParameters=*/nullptr, folder, SW_SHOWNORMAL)));
}

}  // namespace platform
