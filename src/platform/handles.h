// The handles the platform hands out: plain pointers of their own kinds for
// those that own nothing, move-only owners for the rest.
#pragma once

namespace platform {

// Handles that own nothing: plain pointers, each of its own kind.
typedef struct InstanceKind* Instance;
typedef struct WindowKind* Window;

// A handle this program owns: it moves, never copies, and `Close` lets it go
// when it goes. Null means "none" everywhere.
template <void (*Close)(void*)>
class Owned {
 public:
  Owned() {}
  explicit Owned(void* raw) : raw_(raw) {}
  Owned(Owned&& other) : raw_(other.Forget()) {}
  Owned& operator=(Owned&& other) {
    Reset(other.Forget());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { Reset(); }

  explicit operator bool() const { return raw_ != nullptr; }
  void* Get() const { return raw_; }
  // Lets go of the handle without closing it: for one closed by other means
  // (its parent, or a watch on another thread).
  void* Forget() {
    void* raw = raw_;
    raw_ = nullptr;
    return raw;
  }
  void Reset(void* raw = nullptr) {
    if (raw_ && raw_ != raw) Close(raw_);
    raw_ = raw;
  }

 private:
  void* raw_ = nullptr;
};

// How each kind of owned handle is let go of; the types below call them.
void CloseFileHandle(void* raw);
void CloseRegKey(void* raw);
void CloseInternetHandle(void* raw);  // also closes every handle made under it
void CloseMutexHandle(void* raw);     // gives the mutex back first when this thread holds it
void CloseEventHandle(void* raw);
void CloseThreadHandle(void* raw);    // does not wait for the thread: JoinThread does
void CloseProcessHandle(void* raw);
void CloseTrustState(void* raw);      // WinVerifyTrust's close action
void FreeVersionBlock(void* raw);

typedef Owned<CloseFileHandle> File;
typedef Owned<CloseRegKey> RegKey;
typedef Owned<CloseInternetHandle> Internet;
typedef Owned<CloseMutexHandle> Mutex;
typedef Owned<CloseEventHandle> Event;
typedef Owned<CloseThreadHandle> Thread;
typedef Owned<CloseProcessHandle> Process;
typedef Owned<CloseTrustState> TrustState;
typedef Owned<FreeVersionBlock> VersionBlock;

}  // namespace platform
