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
    return Mutex();
  }
  return Mutex(mutex);
}

// ReleaseMutex fails, harmlessly, where this thread does not hold it.
void CloseMutexHandle(void* raw) {
  ::ReleaseMutex(raw);
  ::CloseHandle(raw);
}

Mutex NewLock() { return Mutex(::CreateMutexW(/*lpMutexAttributes=*/nullptr, /*bInitialOwner=*/FALSE, nullptr)); }

int TakeLock(const Mutex& lock, unsigned long milliseconds) {
  DWORD answer = ::WaitForSingleObject(lock.Get(), milliseconds);
  return answer == WAIT_OBJECT_0 || answer == WAIT_ABANDONED;
}

void GiveLock(const Mutex& lock) { ::ReleaseMutex(lock.Get()); }

LocalTime CurrentLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  LocalTime result = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  return result;
}

LocalTime CurrentUtcTime() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
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
  if (!start) return Thread();
  start->job = job;
  start->context = context;
  HANDLE thread = ::CreateThread(nullptr, /*dwStackSize=*/64 * 1024, ThreadThunk, start, 0, nullptr);
  if (!thread) ::HeapFree(::GetProcessHeap(), 0, start);
  return Thread(thread);
}

void JoinThread(const Thread& thread) { ::WaitForSingleObject(thread.Get(), INFINITE); }

void CloseThreadHandle(void* raw) { ::CloseHandle(raw); }

Event NewEvent() { return Event(::CreateEventW(nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE, nullptr)); }

void SignalEvent(const Event& event) { ::SetEvent(event.Get()); }

int WaitEvent(const Event& event, unsigned long milliseconds) {
  return ::WaitForSingleObject(event.Get(), milliseconds) == WAIT_OBJECT_0;
}

void CloseEventHandle(void* raw) { ::CloseHandle(raw); }

void EndProcessNow() { ::TerminateProcess(::GetCurrentProcess(), 0); }

Process OpenWindowProcess(Window window) {
  DWORD processId = 0;
  ::GetWindowThreadProcessId(Hwnd(window), &processId);
  return Process(processId ? ::OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr);
}

int WaitProcessEnd(const Process& process, unsigned long milliseconds) {
  return ::WaitForSingleObject(process.Get(), milliseconds) == WAIT_OBJECT_0;
}

void CloseProcessHandle(void* raw) { ::CloseHandle(raw); }

int OpenWithShell(const char* path, const char* folder) {
  return static_cast<int>(reinterpret_cast<INT_PTR>(::ShellExecuteA(/*hwnd=*/nullptr, /*lpOperation=*/nullptr, path,
                                                                    /*lpParameters=*/nullptr, folder, SW_SHOWNORMAL)));
}

}  // namespace platform
