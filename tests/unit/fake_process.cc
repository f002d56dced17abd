// The fake platform: processes, threads and time.
#include "fake_internal.h"

#include <string.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

const uintptr_t kRunMutex = 0x66;

// With realThreads, a thread of its own; otherwise the job waits for the
// fake's calls to run it.
struct FakeThread {
  std::thread thread;
};

struct FakeEvent {
  std::mutex mutex;
  std::condition_variable changed;
  bool set = false;
};

// A lock taken again by its holder; held by no thread once closed.
struct FakeLock {
  std::mutex mutex;
  std::condition_variable changed;
  std::thread::id holder;
  int depth = 0;
};

}  // namespace

namespace platform {

Mutex TakeNamedMutex(const wchar_t* name) {
  Record("TakeNamedMutex " + Narrow(name));
  return Mutex(gFake->mutexHeld ? nullptr : reinterpret_cast<void*>(kRunMutex));
}

void CloseMutexHandle(void* raw) {
  if (raw == reinterpret_cast<void*>(kRunMutex)) {
    if (gFake) Record("ReleaseNamedMutex");
    return;
  }
  delete static_cast<FakeLock*>(raw);
}

Mutex NewLock() { return Mutex(new FakeLock); }

int TakeLock(const Mutex& lock, unsigned long milliseconds) {
  FakeLock* l = static_cast<FakeLock*>(lock.Get());
  std::unique_lock<std::mutex> guard(l->mutex);
  std::thread::id me = std::this_thread::get_id();
  if (!l->changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                           [&] { return l->depth == 0 || l->holder == me; })) {
    return 0;
  }
  l->holder = me;
  ++l->depth;
  return 1;
}

void GiveLock(const Mutex& lock) {
  FakeLock* l = static_cast<FakeLock*>(lock.Get());
  std::lock_guard<std::mutex> guard(l->mutex);
  if (l->depth > 0 && l->holder == std::this_thread::get_id() && --l->depth == 0) l->changed.notify_all();
}


LocalTime CurrentLocalTime() { return gFake->now; }
LocalTime CurrentUtcTime() { return gFake->utcNow; }

unsigned long TickCount() { return gFake->tick; }

Thread StartThread(void (*job)(void* context), void* context) {
  Record("StartThread");
  FakeThread* thread = new FakeThread;
  if (gFake->realThreads) {
    thread->thread = std::thread(job, context);
  } else {
    gFake->threadJob = job;
    gFake->threadContext = context;
  }
  return Thread(thread);
}

void JoinThread(const Thread& thread) {
  Record("JoinThread");
  FakeThread* t = static_cast<FakeThread*>(thread.Get());
  if (t->thread.joinable()) t->thread.join();
  gFake->threadJob = nullptr;
}

void CloseThreadHandle(void* raw) { delete static_cast<FakeThread*>(raw); }

Event NewEvent() { return Event(new FakeEvent); }

void SignalEvent(const Event& event) {
  FakeEvent* e = static_cast<FakeEvent*>(event.Get());
  std::lock_guard<std::mutex> guard(e->mutex);
  e->set = true;
  e->changed.notify_all();
}

void CloseEventHandle(void* raw) { delete static_cast<FakeEvent*>(raw); }

// Without real threads, the watch looks as often as a test lets it.
int WaitEvent(const Event& event, unsigned long milliseconds) {
  FakeEvent* e = static_cast<FakeEvent*>(event.Get());
  if (gFake->realThreads) {
    std::unique_lock<std::mutex> guard(e->mutex);
    return e->changed.wait_for(guard, std::chrono::milliseconds(milliseconds), [&] { return e->set; });
  }
  if (gFake->watchLooks <= 0) return 1;
  --gFake->watchLooks;
  gFake->tick += gFake->msPerWatchLook;
  return 0;
}

void EndProcessNow() { Record("EndProcessNow"); }

Process OpenWindowProcess(Window window) {
  Record("OpenWindowProcess");
  return Process(gFake->hostProcess && gFake->topWindows.count(L"Orvessa") && window ? reinterpret_cast<void*>(0x44)
                                                                                    : nullptr);
}

int WaitProcessEnd(const Process&, unsigned long milliseconds) {
  Record("WaitProcessEnd " + std::to_string(milliseconds));
  unsigned long took = std::min(gFake->hostExitMs, milliseconds);
  gFake->tick += took;
  if (gFake->hostExitMs > milliseconds) return 0;
  gFake->topWindows.erase(L"Orvessa");  // its window went with it
  return 1;
}

void CloseProcessHandle(void*) {
  if (gFake) Record("CloseProcess");
}

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
