// A recording fake of the platform layer for native unit tests: an in-memory
// file system, registry, HTTP server and window list, with failures that a
// test can inject by setting fields.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

struct FakeRegValue {
  unsigned long type;
  std::string data;
};

// A file the fake's download server holds, and how it answers.
struct FakeDownload {
  std::string bytes;
  int status = 200;           // of an answer for the whole file
  std::string etag, lastModified;
  bool haveLength = true;     // Content-Length sent
  std::vector<size_t> cuts;   // the n-th answer's body ends after this many bytes (one a request, in order)
  bool ignoresRanges = false;
  std::string replacement;    // what the file is from the second request on (empty: unchanged)
  std::string replacementEtag;  // and its ETag
  std::string contentRange;   // sent instead of the true one
  int rangeStatus = 206;      // of an answer to a request for the rest
  std::string redirectedTo;   // where the answer comes from; "!" cannot be read
  unsigned error = 0;         // the request fails with this error
  unsigned long stallMs = 0;  // after the first piece the server is silent this long, and the read fails
  unsigned long msPerRead = 0;  // time each read takes
  size_t piece = 65536;         // the most one read delivers
  std::vector<std::string> headers;  // the extra headers of each request
};

struct FakeBox {
  platform::Window owner;
  std::wstring text, caption;
  unsigned style;
};

class FakePlatform {
 public:
  FakePlatform();
  ~FakePlatform();

  // Builder helpers.
  FakePlatform& ServeManifest(const std::string& body);  // one piece, true Content-Length
  FakePlatform& ServeDownload(const std::string& url, const std::string& bytes);
  FakePlatform& InstalledVersion(unsigned a, unsigned b, unsigned c, unsigned d);
  bool Called(const std::string& prefix) const;  // some call begins with prefix
  // Another program renames a folder: refused while a handle holds it.
  bool RenameFolder(const std::string& path);
  int IndexOf(const std::string& prefix) const;  // first such call, -1 if none

  std::vector<std::string> calls;

  // Kernel. Paths are UTF-8; the code page holds ASCII only.
  bool mutexHeld = false;  // another run holds the run mutex
  std::map<std::wstring, std::wstring> shortNames;
  std::string modulePath = "C:\\App\\Updater.exe";
  std::string tempDir = "C:\\Temp\\";
  long tempAnswer = -1;  // overrides the answer of TempDirectory when >= 0
  std::set<std::string> dirs;
  std::map<std::string, std::string> files;
  std::set<std::string> locked;  // cannot be opened, removed or replaced
  std::map<void*, std::string> openFiles;  // by the handle's raw value
  std::set<std::string> reparsePoints, foreignOwned;
  bool ownerlessVolume = false;  // FAT: no owners kept
  long long freeBytes = 1ll << 40;  // room on the work folder's volume; -1 unknown
  bool failMakeDirectory = false;
  unsigned makeDirectoryError = 5;
  unsigned lastError = 0;
  platform::LocalTime now = {2013, 1, 5, 9, 7, 3};
  platform::LocalTime utcNow = {2013, 1, 5, 1, 7, 3};
  std::vector<unsigned long> pauses;
  unsigned long tick = 1000;  // TickCount
  // The watch thread: kept, not run; a stalled download runs it for `watchLooks`
  // looks. With realThreads, a real thread, and events that really wait.
  bool realThreads = false;
  void (*threadJob)(void*) = nullptr;
  void* threadContext = nullptr;
  int watchLooks = 0;
  unsigned long msPerWatchLook = 0;  // time that passes while the watch waits for its next look

  // Registry.
  bool keyAvailable = true;
  bool valuesWritable = true;  // SetDwordValue and SetStringValue store
  bool randomWorks = true;
  uint32_t random = 0x01020304;  // what the system's generator gives
  std::map<std::string, FakeRegValue> values;

  // WinINet.
  bool sessionOpens = true, urlOpens = true;
  bool proxyConfigured = false, urlOpensViaProxy = true, sessionViaProxy = false;
  unsigned urlError = 12029;  // ERROR_INTERNET_CANNOT_CONNECT
  bool haveLength = true;
  std::wstring lengthText;
  std::vector<std::string> pieces;  // each read delivers at most one piece
  int failReadAt = -1;              // the read with this index fails
  int reads = 0;
  size_t largestReadRequest = 0;
  std::wstring agent, url;
  std::string redirectedTo;  // where the request ended, when not where it was sent
  unsigned long timeout = 0;
  unsigned long msPerRead = 0;  // time each read takes
  bool blocksPastDeadline = false;  // the request blocks until its deadline closes the session
  std::vector<std::string> reports;  // the queries of the outcome reports sent
  bool reportAnswers = true;         // the report path answers (or nothing is reached)

  // Downloads (WinINet).
  std::map<std::string, FakeDownload> downloads;
  std::function<void(const std::string& url)> duringDownload;  // after the first read
  bool failWrites = false;  // files cannot be opened for writing

  // Trust.
  std::string signature;  // the manifest's .p7s; the fake's form: "SIG:" + the bytes it covers
  bool signatureServed = true, signatureAttributes = false;
  std::string signatureKey;  // 32 bytes: SHA-256 of the signer's key
  long trustVerdict = 0;
  std::string signerKey;  // 32 bytes; empty: no signer

  // Version.
  bool hasVersion = false;
  unsigned long versionMost = 0, versionLeast = 0;

  // Windows.
  std::map<std::wstring, platform::Window> topWindows;
  int boxAnswer = platform::kIdYes;
  std::vector<FakeBox> boxes;
  bool dialogCreates = true;
  platform::Window dialog = nullptr;
  platform::Window dialogOwner = nullptr;
  platform::DialogHandler handler = nullptr;
  bool progressClassRegistered = false;
  int screenWidth = 1024, screenHeight = 742;
  int placedX = -1, placedY = -1;
  std::set<platform::Window> destroyed, shown, disabled;
  std::map<platform::Window, std::wstring> texts;
  unsigned long barMax = 0, barPos = 0;
  int barRepaints = 0;
  int messagePumps = 0;  // times the pending messages were handled
  std::vector<std::string> shellOpened;
  std::map<std::string, std::pair<int, unsigned>> shellResults;  // path -> (answer, last error); default 42
  bool hostProcess = true;        // the host window's process can be opened
  unsigned long hostExitMs = 0;   // how long the host takes to end after WM_CLOSE

};

extern FakePlatform* gFake;

// The digest the fake's FileSha256 gives for these bytes, as 64 hex digits.
std::string FakeSha256Hex(const std::string& data);

// Window handles the fake hands out.
platform::Window FakeWindow(uintptr_t n);
