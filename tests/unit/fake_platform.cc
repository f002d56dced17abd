#include "fake_platform.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>

#include "platform/bind_status_callback.h"

FakePlatform* gFake = nullptr;

platform::Window FakeWindow(uintptr_t n) { return reinterpret_cast<platform::Window>(n); }

namespace {

const uintptr_t kDialog = 0x1000;

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

void Record(const std::string& call) { gFake->calls.push_back(call); }

// UTF-8 to wide (the fake's paths are written in UTF-8).
std::wstring Widen(const std::string& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    wchar_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) code = (code << 6) | (text[i + k] & 0x3F);
    out += code;
    i += 1 + extra;
  }
  return out;
}

}  // namespace

std::string FakeSha256Hex(const std::string& data) {
  // Not SHA-256: a stand-in with the same shape, distinct for distinct data.
  std::string hex;
  for (unsigned seed = 0; seed < 4; ++seed) {
    unsigned long long h = 1469598103934665603ull ^ seed;
    for (unsigned char c : data) h = (h ^ c) * 1099511628211ull;
    char part[17];
    snprintf(part, sizeof part, "%016llx", h);
    hex += part;
  }
  return hex;
}

FakePlatform::FakePlatform() { gFake = this; }
FakePlatform::~FakePlatform() { gFake = nullptr; }

FakePlatform& FakePlatform::ServeManifest(const std::string& body) {
  lengthText = std::wstring(std::to_wstring(body.size()));
  pieces = {body};
  return *this;
}

FakePlatform& FakePlatform::ServeDownload(const std::string& address, const std::string& bytes) {
  FakeDownload download;
  download.bytes = bytes;
  download.progress = {{0, 0}, {static_cast<unsigned long>(bytes.size()), static_cast<unsigned long>(bytes.size())}};
  downloads[address] = download;
  return *this;
}

FakePlatform& FakePlatform::InstalledVersion(unsigned a, unsigned b, unsigned c, unsigned d) {
  hasVersion = true;
  versionMost = (a << 16) | b;
  versionLeast = (c << 16) | d;
  return *this;
}

bool FakePlatform::Called(const std::string& prefix) const { return IndexOf(prefix) >= 0; }

int FakePlatform::IndexOf(const std::string& prefix) const {
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
  }
  return -1;
}

namespace platform {

Mutex TakeNamedMutex(const wchar_t* name) {
  Record("TakeNamedMutex " + Narrow(name));
  return gFake->mutexHeld ? nullptr : reinterpret_cast<Mutex>(0x66);
}

void ReleaseNamedMutex(Mutex) { Record("ReleaseNamedMutex"); }

unsigned long ModuleFileName(wchar_t* buffer, unsigned long capacity) {
  Record("ModuleFileName");
  std::wstring path = Widen(gFake->modulePath);
  // Like Windows: a path that does not fit is cut to the buffer and the
  // answer is the buffer size.
  size_t count = std::min<size_t>(path.size(), capacity);
  wmemcpy(buffer, path.data(), count);
  if (count < capacity) buffer[count] = L'\0';
  return static_cast<unsigned long>(count);
}

unsigned long TempDirectory(wchar_t* buffer, unsigned long capacity) {
  Record("TempDirectory");
  std::wstring path = Widen(gFake->tempDir);
  if (gFake->tempAnswer >= 0) return static_cast<unsigned long>(gFake->tempAnswer);
  if (path.size() + 1 > capacity) return static_cast<unsigned long>(path.size() + 1);
  wmemcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<unsigned long>(path.size());
}

unsigned long ShortPathName(const wchar_t* path, wchar_t* buffer, unsigned long capacity) {
  auto found = gFake->shortNames.find(path);
  if (found == gFake->shortNames.end()) return 0;
  const std::wstring& name = found->second;
  if (name.size() + 1 > capacity) return static_cast<unsigned long>(name.size() + 1);
  wmemcpy(buffer, name.c_str(), name.size() + 1);
  return static_cast<unsigned long>(name.size());
}

// The fake's code page holds ASCII only.
int NarrowToAnsi(const wchar_t* text, char* buffer, unsigned long capacity, int* lossy) {
  std::string narrow = Narrow(text);
  *lossy = narrow.find('?') != std::string::npos && std::wstring(text).find(L'?') == std::wstring::npos;
  if (narrow.size() + 1 > capacity) return 0;
  memcpy(buffer, narrow.c_str(), narrow.size() + 1);
  return 1;
}

int MakeDirectory(const char* path) {
  Record(std::string("MakeDirectory ") + path);
  if (gFake->failMakeDirectory) {
    gFake->lastError = gFake->makeDirectoryError;
    return 0;
  }
  if (gFake->dirs.count(path)) {
    gFake->lastError = kErrorAlreadyExists;
    return 0;
  }
  gFake->dirs.insert(path);
  return 1;
}

unsigned LastError() { return gFake->lastError; }

void RestrictDllSearch() { Record("RestrictDllSearch"); }

int IsReparsePoint(const char* path) { return gFake->reparsePoints.count(path) > 0; }

int OwnedByUserOrSystem(const char* path) { return gFake->foreignOwned.count(path) == 0; }

int RemoveFile(const char* path) {
  Record(std::string("RemoveFile ") + path);
  if (gFake->locked.count(path)) return 0;
  for (auto& open : gFake->openFiles) {
    if (open.second == path) return 0;  // held open, shared for reading only
  }
  return gFake->files.erase(path) > 0;
}

int MoveReplacing(const char* from, const char* to) {
  Record(std::string("MoveReplacing ") + from + " -> " + to);
  for (auto& open : gFake->openFiles) {
    if (open.second == from || open.second == to) return 0;
  }
  if (gFake->locked.count(to) || !gFake->files.count(from)) return 0;
  gFake->files[to] = gFake->files[from];
  gFake->files.erase(from);
  return 1;
}

File OpenForReading(const char* path) {
  Record(std::string("OpenForReading ") + path);
  if (!gFake->files.count(path) || gFake->locked.count(path)) return nullptr;
  File file = reinterpret_cast<File>(0x7000 + gFake->openFiles.size() + 1);
  gFake->openFiles[file] = path;
  return file;
}

void CloseFile(File file) {
  Record("CloseFile");
  gFake->openFiles.erase(file);
}

long long PathFileSize(const char* path) {
  auto file = gFake->files.find(path);
  return file == gFake->files.end() ? -1 : static_cast<long long>(file->second.size());
}

int AppendToFile(const char* path, const char* data, unsigned long size) {
  if (gFake->locked.count(path)) return 0;
  gFake->files[path].append(data, size);
  return 1;
}

long long OpenFileSize(File file) {
  auto open = gFake->openFiles.find(file);
  if (open == gFake->openFiles.end() || !gFake->files.count(open->second)) return -1;
  return static_cast<long long>(gFake->files[open->second].size());
}

long ReadFileAt(File file, unsigned long long offset, unsigned char* buffer, unsigned long capacity) {
  auto open = gFake->openFiles.find(file);
  if (open == gFake->openFiles.end() || !gFake->files.count(open->second)) return -1;
  const std::string& data = gFake->files[open->second];
  if (offset > data.size()) return 0;
  size_t count = std::min<size_t>(capacity, data.size() - offset);
  memcpy(buffer, data.data() + offset, count);
  return static_cast<long>(count);
}

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
  return gFake->hostExitMs <= milliseconds;
}

void CloseProcess(Process) { Record("CloseProcess"); }

void Pause(unsigned long milliseconds) {
  Record("Pause " + std::to_string(milliseconds));
  gFake->pauses.push_back(milliseconds);
}

RegKey OpenOrCreateUserKey(const wchar_t* subKey) {
  Record("OpenKey " + Narrow(subKey));
  return gFake->keyAvailable ? reinterpret_cast<RegKey>(0x55) : nullptr;
}

long QueryValue(RegKey, const char* name, unsigned long* type, unsigned char* data, unsigned long* size) {
  Record(std::string("QueryValue ") + name);
  auto value = gFake->values.find(name);
  if (value == gFake->values.end()) return 2;  // ERROR_FILE_NOT_FOUND
  *type = value->second.type;
  unsigned long room = *size;
  *size = static_cast<unsigned long>(value->second.data.size());
  if (value->second.data.size() > room) return 234;  // ERROR_MORE_DATA
  memcpy(data, value->second.data.data(), value->second.data.size());
  return 0;
}

long SetDwordValue(RegKey, const wchar_t* name, unsigned long value) {
  Record("SetDword " + Narrow(name) + "=" + std::to_string(value));
  gFake->values[Narrow(name)] = {kRegDword, std::string(reinterpret_cast<const char*>(&value), 4)};
  return 0;
}

long SetStringValue(RegKey, const char* name, const char* text) {
  Record(std::string("SetString ") + name + "=" + text);
  gFake->values[name] = {kRegSz, std::string(text, strlen(text) + 1)};
  return 0;
}

void CloseKey(RegKey) { Record("CloseKey"); }

int SystemHasProxy() { return gFake->proxyConfigured; }

Internet OpenSession(const wchar_t* agent, int viaProxy) {
  Record(viaProxy ? "OpenSession proxy" : "OpenSession");
  gFake->sessionViaProxy = viaProxy != 0;
  gFake->agent = agent;
  return gFake->sessionOpens ? reinterpret_cast<Internet>(0x10) : nullptr;
}

Internet OpenUrlReload(Internet, const wchar_t* url, unsigned long timeoutMs) {
  Record("OpenUrl");
  if (std::wstring(url).find(L".p7s") != std::wstring::npos) {  // the signature answers on its own
    Record("OpenUrl signature");
    if (!gFake->signatureServed) {
      gFake->lastError = 12029;
      return nullptr;
    }
    gFake->lengthText = std::to_wstring(gFake->signature.size());
    gFake->pieces = {gFake->signature};
    return reinterpret_cast<Internet>(0x21);
  }
  gFake->url = url;
  gFake->timeout = timeoutMs;
  bool opens = gFake->sessionViaProxy ? gFake->urlOpensViaProxy : gFake->urlOpens;
  if (!opens) gFake->lastError = gFake->urlError;
  return opens ? reinterpret_cast<Internet>(0x20) : nullptr;
}

int QueryContentLength(Internet, wchar_t* text, unsigned long byteCapacity) {
  Record("QueryContentLength");
  if (!gFake->haveLength) return 0;
  size_t room = byteCapacity / sizeof(wchar_t);
  if (gFake->lengthText.size() + 1 > room) return 0;
  wcscpy(text, gFake->lengthText.c_str());
  return 1;
}

int AvailableInternet(Internet, unsigned long* available) {
  *available = gFake->pieces.empty() ? 0 : static_cast<unsigned long>(gFake->pieces.front().size());
  return 1;
}

int QueryStatusCode(Internet) { return 200; }

int ReadInternet(Internet, void* buffer, unsigned long size, unsigned long* read) {
  Record("ReadInternet");
  gFake->tick += gFake->msPerRead;
  int index = gFake->reads++;
  gFake->largestReadRequest = std::max<size_t>(gFake->largestReadRequest, size);
  if (index == gFake->failReadAt) return 0;
  *read = 0;
  if (gFake->pieces.empty()) return 1;  // end of stream
  std::string& piece = gFake->pieces.front();
  size_t count = std::min<size_t>(size, piece.size());
  memcpy(buffer, piece.data(), count);
  piece.erase(0, count);
  if (piece.empty()) gFake->pieces.erase(gFake->pieces.begin());
  *read = static_cast<unsigned long>(count);
  return 1;
}

void CloseInternet(Internet handle) {
  Record(handle == reinterpret_cast<Internet>(0x10) ? "CloseSession"
         : handle == reinterpret_cast<Internet>(0x21) ? "CloseSignatureRequest" : "CloseRequest");
}

Result DownloadToFile(const char* url, const char* path, void* callback) {
  Record(std::string("Download ") + url + " -> " + path);
  auto found = gFake->downloads.find(url);
  if (found == gFake->downloads.end()) return static_cast<Result>(0x800C0008L);
  FakeDownload& download = found->second;
  IBindStatusCallback* status = static_cast<IBindStatusCallback*>(callback);
  if (status) status->OnStartBinding(0, reinterpret_cast<IBinding*>(0xB1));
  bool first = true;
  if (status && !download.redirect.empty()) {
    std::wstring target(download.redirect.begin(), download.redirect.end());
    if (status->OnProgress(0, 0, 6, target.c_str()) == static_cast<Result>(0x80004004L)) {  // BINDSTATUS_REDIRECTING
      return static_cast<Result>(0x80004004L);
    }
  }
  for (auto& step : download.progress) {
    if (status) status->OnProgress(step.first, step.second, 0, nullptr);
    if (first && gFake->duringDownload) gFake->duringDownload(url);  // mid-transfer
    if (first && download.stallMs) {
      // The server goes quiet: time passes with no report, and the watchdog looks once.
      gFake->tick += download.stallMs;
      gFake->watchLooks = 1;
      if (gFake->threadJob) gFake->threadJob(gFake->threadContext);
      if (gFake->Called("AbortBinding")) {
        if (!gFake->locked.count(path)) gFake->files[path] = download.bytes.substr(0, download.bytes.size() / 2);
        return static_cast<Result>(0x80004004L);  // E_ABORT
      }
    }
    first = false;
  }
  if (download.writesFile && !gFake->locked.count(path)) gFake->files[path] = download.bytes;
  return download.result;
}

void ResetBindInfo(void*) {}

void HoldBinding(void*) { Record("HoldBinding"); }
void AbortBinding(void*) { Record("AbortBinding"); }
void ReleaseBinding(void*) { Record("ReleaseBinding"); }

void DeleteCacheEntry(const char* url) { Record(std::string("DeleteCacheEntry ") + url);
}

long VerifyFileTrust(File file, const char* path, TrustState* state) {
  Record(std::string("VerifyFileTrust ") + path + (gFake->openFiles.count(file) ? " (held)" : " (not held)"));
  *state = reinterpret_cast<TrustState>(0x5A);
  return gFake->trustVerdict;
}

int SignerKeyDigest(TrustState, unsigned char digest[32]) {
  Record("SignerKeyDigest");
  if (gFake->signerKey.size() != 32) return 0;
  memcpy(digest, gFake->signerKey.data(), 32);
  return 1;
}

void CloseTrust(TrustState state) { Record(state ? "CloseTrust" : "CloseTrust null"); }

int FileSha256(File file, unsigned char digest[32]) {
  auto open = gFake->openFiles.find(file);
  if (open == gFake->openFiles.end()) return 0;
  std::string hex = FakeSha256Hex(gFake->files[open->second]);
  for (int i = 0; i < 32; ++i) digest[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return 1;
}

long VerifyDetachedSignature(const unsigned char* signature, unsigned long signatureSize, const unsigned char* content,
                             unsigned long contentSize, unsigned char signerKeyDigest[32], int* signedAttributes) {
  Record("VerifyDetachedSignature");
  *signedAttributes = gFake->signatureAttributes;
  // The fake's signature is "SIG:" followed by the exact bytes it covers.
  std::string covered(reinterpret_cast<const char*>(content), contentSize);
  std::string given(reinterpret_cast<const char*>(signature), signatureSize);
  if (given != "SIG:" + covered || gFake->signatureKey.size() != 32) return static_cast<long>(0x80090006L);
  memcpy(signerKeyDigest, gFake->signatureKey.data(), 32);
  return 0;
}

unsigned long VersionInfoSize(const char* path) {
  Record(std::string("VersionInfoSize ") + path);
  return gFake->hasVersion && gFake->files.count(path) ? 1024 : 0;
}

int VersionInfo(const char*, unsigned long size, void* block) {
  memset(block, 0xAB, size);
  return gFake->hasVersion;
}

int FixedFileVersion(void*, unsigned long* mostSignificant, unsigned long* leastSignificant) {
  *mostSignificant = gFake->versionMost;
  *leastSignificant = gFake->versionLeast;
  return 1;
}

Window FindTopWindow(const wchar_t* title) {
  Record("FindTopWindow " + Narrow(title));
  auto found = gFake->topWindows.find(title);
  return found == gFake->topWindows.end() ? nullptr : found->second;
}

int SendClose(Window window, unsigned long timeoutMs) {
  Record("SendClose " + std::to_string(timeoutMs));
  gFake->destroyed.insert(window);
  return 1;
}

int ShowMessageBox(Window owner, const wchar_t* text, const wchar_t* caption, unsigned style) {
  Record("MessageBox");
  gFake->boxes.push_back({owner, text, caption, style});
  return gFake->boxAnswer;
}

int FormatWithInt(wchar_t* buffer, const wchar_t* format, int value) {
  return swprintf(buffer, 1024, format, value);
}

void RegisterProgressBarClass() {
  Record("RegisterProgressBarClass");
  gFake->progressClassRegistered = true;
}

Window CreateDialogFromTemplate(Instance, int templateId, Window owner, DialogHandler handler) {
  Record("CreateDialog " + std::to_string(templateId));
  if (!gFake->dialogCreates) return nullptr;
  gFake->dialog = FakeWindow(kDialog);
  gFake->dialogOwner = owner;
  gFake->handler = handler;
  return gFake->dialog;
}

int ScreenWidth() { return gFake->screenWidth; }
int ScreenHeight() { return gFake->screenHeight; }

void PlaceTopMost(Window, int x, int y) {
  Record("PlaceTopMost");
  gFake->placedX = x;
  gFake->placedY = y;
}

void ShowWindowNow(Window window) { gFake->shown.insert(window); }

void EnableWindowInput(Window window, int enable) {
  if (enable) {
    gFake->disabled.erase(window);
  } else {
    gFake->disabled.insert(window);
  }
}

void Repaint(Window window) {
  if (window == FakeWindow(kDialog + 1000)) ++gFake->barRepaints;
}

void DestroyWindowNow(Window window) {
  Record("DestroyWindow");
  gFake->destroyed.insert(window);
}

Window DialogItem(Window dialog, int id) {
  if (!dialog || dialog != gFake->dialog || gFake->destroyed.count(dialog)) return nullptr;
  return FakeWindow(kDialog + static_cast<uintptr_t>(id));
}

void SetItemText(Window window, const wchar_t* text) { gFake->texts[window] = text; }

void SetProgressRange(Window, unsigned long maximum) { gFake->barMax = maximum; }

void SetProgressPosition(Window, unsigned long position) { gFake->barPos = position; }

int OpenWithShell(const char* path) {
  bool held = false;
  for (auto& open : gFake->openFiles) held = held || open.second == path;
  Record(std::string("OpenWithShell ") + path + (held ? "" : " (not held)"));
  gFake->shellOpened.push_back(path);
  return 42;
}

}  // namespace platform
