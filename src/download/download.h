// Downloads through the platform's status-callback download, and the checks
// that tell a whole file from an error page or a cut transfer.
#pragma once

#include <stddef.h>

#include "dialog_ids.h"
#include "platform/bind_status_callback.h"
#include "platform/platform.h"
#include "shared/limits.h"

const int kProgressBarId = UPDATER_PROGRESS_BAR;
const unsigned long kBindStatusRedirecting = 3;  // BINDSTATUS_REDIRECTING
const unsigned long kBindStatusCacheFile = 14;   // BINDSTATUS_CACHEFILENAMEAVAILABLE
const unsigned long kBindStatusBeginData = 4;    // BINDSTATUS_BEGINDOWNLOADDATA
const unsigned long kBindGetNewestVersion = 0x10;  // BINDF_GETNEWESTVERSION
const unsigned long kBindNoWriteCache = 0x20;  // BINDF_NOWRITECACHE

// The largest files the downloads hold, in MiB (the build's CMake settings).
#ifndef UPDATER_MAX_CONTENT_MB
#define UPDATER_MAX_CONTENT_MB 64
#endif
#ifndef UPDATER_MAX_INSTALLER_MB
#define UPDATER_MAX_INSTALLER_MB 1024
#endif
const unsigned long kMaxContentBytes = UPDATER_MAX_CONTENT_MB * 1024ul * 1024ul;
const unsigned long kMaxInstallerBytes = UPDATER_MAX_INSTALLER_MB * 1024ul * 1024ul;
const unsigned long kRateFloorBytes = UPDATER_RATE_FLOOR_BYTES;
const unsigned long long kDiskReserveBytes = UPDATER_DISK_RESERVE_BYTES;

// Why a download was given up before its end.
enum Abandoned { kNotAbandoned, kTooBig, kTooBigOnDisk, kPastAnnounced, kNoRoom, kRedirectedOffWeb };

// Status callback of a download: drives the progress bar of `window` (which
// may be null), remembers the sizes the platform reported, and gives the
// transfer up when it grows past `ceiling` bytes, past its announced length,
// or would not leave the reserve free on the volume of `folder`.
class DownLoadDelegate : public IBindStatusCallback {
 public:
  DownLoadDelegate(platform::Window progressWindow, unsigned long maxBytes, const char* targetFolder)
      : window(progressWindow), ceiling(maxBytes), folder(targetFolder) {}
  virtual ~DownLoadDelegate() {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* bindInfo) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;

  platform::Window window;
  unsigned long ceiling;           // the most bytes this download may hold
  const char* folder;              // where the file lands: its volume must have room
  unsigned long lastProgress = 0;  // bytes received at the last notification
  unsigned long largestMax = 0;    // largest total the server announced
  unsigned long gainedBytes = 0;   // bytes at the last time the rate floor was met
  long long roomFree = -1;         // free bytes on the volume when room ran short (-1 unknown)
  volatile long long volumeSpent = 0;  // bytes the volume lost during a transfer too big for it
  char cacheFile[platform::kMaxPath] = {};  // the platform's own copy, as it named it (empty: none named)
  int roomChecked = 0;

  // Shared with the download's watchdog thread (see watchdog.h).
  void* volatile binding = nullptr;     // IBinding, held from OnStartBinding until the call returned
  volatile unsigned long lastGain = 0;  // TickCount when the rate floor was last met (or the start)
  volatile long progressSeen = 0;       // a first progress report has come
  volatile long abandoned = kNotAbandoned;  // set here; the watchdog then aborts the binding
  volatile long stalled = 0;            // the watchdog gave up on a transfer below the rate floor

 private:
  Abandoned Judge(unsigned long progress, unsigned long progressMax);
  int RedirectedOffWeb(unsigned long statusCode, const wchar_t* statusText);
};

// Logs which bound ended a transfer, with its figures.
void LogAbandoned(const char* url, const DownLoadDelegate& delegate);

// A signature a downloaded file must begin with.
struct FileSignature {
  const char* const* prefixes;  // null-terminated list; the file starts with one
  size_t length;                // bytes of each prefix
  const char* what;             // for the log: "an executable"
};

// Downloads `url` to `path` through `delegate`. When the call succeeded, the
// file is as long as the platform announced and begins with one of the
// signature's prefixes, answers the file open for reading and shared for
// reading only: the caller closes it. Anything else removes the file and
// answers null. A transfer that stops receiving is abandoned (watchdog.h).
platform::File DownloadWhole(const char* url, const char* path, DownLoadDelegate* delegate,
                  const FileSignature& signature);
