// The fake platform: processes, threads and time.
#include "fake_internal.h"

#include <string.h>

#include <algorithm>

namespace platform {

Mutex TakeNamedMutex(const wchar_t* name) {
  Record("TakeNamedMutex " + Narrow(name));
  return gFake->mutexHeld ? nullptr : reinterpret_cast<Mutex>(0x66);
}

void ReleaseNamedMutex(Mutex) { Record("ReleaseNamedMutex"); }


LocalTime CurrentLocalTime() { return gFake->now; }

unsigned long TickCount() { return gFake->tick; }

Thread StartThread(void (*job)(void* context), void* context) {
  Record("StartThread");
  gFake->threadJob = job;
  gFake->threadContext = context;
  return reinterpret_cast<Thread>(0x88);
}

void JoinThread(Thread) {
  Record("JoinThread");
  gFake->threadJob = nullptr;
}

Event NewEvent() { return reinterpret_cast<Event>(0x99); }
void SignalEvent(Event) {}
void CloseEvent(Event) {}

int WaitEvent(Event, unsigned long) {
  if (gFake->watchLooks <= 0) return 1;
  --gFake->watchLooks;
  return 0;
}

void EndProcessNow() { Record("EndProcessNow"); }

Process OpenWindowProcess(Window window) {
  Record("OpenWindowProcess");
  return gFake->hostProcess && gFake->topWindows.count(L"Orvessa") && window ? reinterpret_cast<Process>(0x44) : nullptr;
}

int WaitProcessEnd(Process, unsigned long milliseconds) {
  Record("WaitProcessEnd " + std::to_string(milliseconds));
  unsigned long took = std::min(gFake->hostExitMs, milliseconds);
  gFake->tick += took;
  if (gFake->hostExitMs > milliseconds) return 0;
  gFake->topWindows.erase(L"Orvessa");  // its window went with it
  return 1;
}

void CloseProcess(Process) { Record("CloseProcess"); }

void Pause(unsigned long milliseconds) {
  Record("Pause " + std::to_string(milliseconds));
  gFake->pauses.push_back(milliseconds);
}

int OpenWithShell(const char* path, const char* folder) {
  bool held = false;
  for (auto& open : gFake->openFiles) held = held || open.second == path;
  Record(std::string("OpenWithShell ") + path + (held ? "" : " (not held)") + (folder ? std::string(" in ") + folder : ""));
  gFake->shellOpened.push_back(path);
  auto result = gFake->shellResults.find(path);
  if (result == gFake->shellResults.end()) return 42;
  gFake->lastError = result->second.second;
  return result->second.first;
}


}  // namespace platform
