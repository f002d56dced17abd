// The Win32 side of the platform wrappers: one thin function per call.
#include "platform/platform.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <urlmon.h>
#include <wincrypt.h>
#include <wininet.h>
#include <wintrust.h>
#include <softpub.h>

// XP SP3 has SHA-256 in its AES provider; the headers declare it only for
// later targets.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

namespace platform {

namespace {

HWND Hwnd(Window window) { return static_cast<HWND>(window); }

// Loads a DLL by its full path in the system folder: never one planted in the
// program's or the current folder. Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t path[MAX_PATH + 32];
  UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || ::lstrlenW(name) > 30) return nullptr;
  path[length] = L'\\';
  ::lstrcpyW(path + length + 1, name);
  return ::LoadLibraryW(path);
}

// wintrust and crypt32, loaded on first use: only a run that checks a
// signature pays for them (they bring further DLLs with them).
struct TrustApi {
  decltype(&::WinVerifyTrust) winVerifyTrust;
  decltype(&::WTHelperProvDataFromStateData) provDataFromStateData;
  decltype(&::WTHelperGetProvSignerFromChain) getProvSignerFromChain;
  decltype(&::WTHelperGetProvCertFromChain) getProvCertFromChain;
  decltype(&::CryptEncodeObjectEx) cryptEncodeObjectEx;
  decltype(&::CryptMsgOpenToDecode) cryptMsgOpenToDecode;
  decltype(&::CryptMsgUpdate) cryptMsgUpdate;
  decltype(&::CryptMsgGetParam) cryptMsgGetParam;
  decltype(&::CryptMsgClose) cryptMsgClose;
  decltype(&::CryptVerifyDetachedMessageSignature) cryptVerifyDetachedMessageSignature;
  decltype(&::CertFreeCertificateContext) certFreeCertificateContext;
};

template <typename Function>
bool Find(HMODULE module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(module ? ::GetProcAddress(module, name) : nullptr));
  return *function != nullptr;
}

// Null when either DLL or any function is missing.
const TrustApi* Trust() {
  static TrustApi api;
  static int state;  // 0 not tried, 1 loaded, -1 missing
  if (state == 0) {
    HMODULE wintrust = LoadSystemLibrary(L"wintrust.dll");
    HMODULE crypt32 = LoadSystemLibrary(L"crypt32.dll");
    bool found = Find(wintrust, "WinVerifyTrust", &api.winVerifyTrust) &&
                 Find(wintrust, "WTHelperProvDataFromStateData", &api.provDataFromStateData) &&
                 Find(wintrust, "WTHelperGetProvSignerFromChain", &api.getProvSignerFromChain) &&
                 Find(wintrust, "WTHelperGetProvCertFromChain", &api.getProvCertFromChain) &&
                 Find(crypt32, "CryptEncodeObjectEx", &api.cryptEncodeObjectEx) &&
                 Find(crypt32, "CryptMsgOpenToDecode", &api.cryptMsgOpenToDecode) &&
                 Find(crypt32, "CryptMsgUpdate", &api.cryptMsgUpdate) &&
                 Find(crypt32, "CryptMsgGetParam", &api.cryptMsgGetParam) &&
                 Find(crypt32, "CryptMsgClose", &api.cryptMsgClose) &&
                 Find(crypt32, "CryptVerifyDetachedMessageSignature", &api.cryptVerifyDetachedMessageSignature) &&
                 Find(crypt32, "CertFreeCertificateContext", &api.certFreeCertificateContext);
    state = found ? 1 : -1;
  }
  return state == 1 ? &api : nullptr;
}

DialogHandler gDialogHandler;

INT_PTR CALLBACK DialogThunk(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return gDialogHandler ? gDialogHandler(window, message, wParam, lParam) : FALSE;
}

}  // namespace

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

unsigned long ModuleFileName(wchar_t* buffer, unsigned long capacity) {
  return ::GetModuleFileNameW(nullptr, buffer, capacity);
}

unsigned long TempDirectory(wchar_t* buffer, unsigned long capacity) { return ::GetTempPathW(capacity, buffer); }

unsigned long ShortPathName(const wchar_t* path, wchar_t* buffer, unsigned long capacity) {
  return ::GetShortPathNameW(path, buffer, capacity);
}

// No best-fit mapping: a character the code page lacks must show as lost, not
// as a look-alike that names another file. A UTF-8 code page holds everything
// and takes neither the flag nor the default-character question.
int NarrowToAnsi(const wchar_t* text, char* buffer, unsigned long capacity, int* lossy) {
  bool utf8 = ::GetACP() == CP_UTF8;
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  int needed = ::WideCharToMultiByte(CP_ACP, flags, text, -1, nullptr, 0, nullptr, utf8 ? nullptr : &usedDefault);
  *lossy = usedDefault != FALSE;
  if (needed <= 0 || static_cast<unsigned long>(needed) > capacity) return 0;
  return ::WideCharToMultiByte(CP_ACP, flags, text, -1, buffer, static_cast<int>(capacity), nullptr, nullptr) > 0;
}

int MakeDirectory(const char* path) { return ::CreateDirectoryA(path, nullptr) != FALSE; }

unsigned LastError() { return ::GetLastError(); }

int IsReparsePoint(const char* path) {
  DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

int OwnedByUserOrSystem(const char* path) {
  BYTE descriptor[1024];
  DWORD needed = 0;
  if (!::GetFileSecurityA(path, OWNER_SECURITY_INFORMATION, descriptor, sizeof descriptor, &needed)) return 0;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner) return 0;
  BYTE known[SECURITY_MAX_SID_SIZE];
  static const WELL_KNOWN_SID_TYPE kTrusted[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
  for (WELL_KNOWN_SID_TYPE type : kTrusted) {
    DWORD size = sizeof known;
    if (::CreateWellKnownSid(type, nullptr, known, &size) && ::EqualSid(owner, known)) return 1;
  }
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
  BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  int mine = ::GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
             ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  ::CloseHandle(token);
  return mine;
}

int RemoveFile(const char* path) { return ::DeleteFileA(path) != FALSE; }

int MoveReplacing(const char* from, const char* to) {
  return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

File OpenForReading(const char* path) {
  HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

void CloseFile(File file) { ::CloseHandle(file); }

long long PathFileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int AppendToFile(const char* path, const char* data, unsigned long size) {
  HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  BOOL ok = ::WriteFile(file, data, size, &written, nullptr);
  ::CloseHandle(file);
  return ok && written == size;
}

long long OpenFileSize(File file) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file, &size)) return -1;
  return size.QuadPart;
}

long ReadFileAt(File file, unsigned long long offset, unsigned char* buffer, unsigned long capacity) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return -1;
  DWORD read = 0;
  return ::ReadFile(file, buffer, capacity, &read, nullptr) ? static_cast<long>(read) : -1;
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

RegKey OpenOrCreateUserKey(const wchar_t* subKey) {
  HKEY key = nullptr;
  LONG status = ::RegCreateKeyExW(HKEY_CURRENT_USER, subKey, /*Reserved=*/0, /*lpClass=*/nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                  /*lpSecurityAttributes=*/nullptr, &key, /*lpdwDisposition=*/nullptr);
  return status == ERROR_SUCCESS ? key : nullptr;
}

long QueryValue(RegKey key, const char* name, unsigned long* type, unsigned char* data, unsigned long* size) {
  DWORD valueType = 0;
  DWORD valueSize = *size;
  LONG status = ::RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, &valueType, data, &valueSize);
  *type = valueType;
  *size = valueSize;
  return status;
}

long SetDwordValue(RegKey key, const wchar_t* name, unsigned long value) {
  DWORD data = value;
  return ::RegSetValueExW(static_cast<HKEY>(key), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data);
}

long SetStringValue(RegKey key, const char* name, const char* text) {
  return ::RegSetValueExA(static_cast<HKEY>(key), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(lstrlenA(text) + 1));
}

void CloseKey(RegKey key) { ::RegCloseKey(static_cast<HKEY>(key)); }

int CrackUrl(const char* url, UrlParts* parts) {
  URL_COMPONENTSA cracked = {};
  cracked.dwStructSize = sizeof cracked;
  cracked.dwSchemeLength = 1;  // non-zero: report the lengths of these parts
  cracked.dwHostNameLength = 1;
  cracked.dwUserNameLength = 1;
  cracked.dwPasswordLength = 1;
  if (!::InternetCrackUrlA(url, /*dwUrlLength=*/0, /*dwFlags=*/0, &cracked)) return 0;
  parts->scheme = cracked.nScheme == INTERNET_SCHEME_HTTP    ? kSchemeHttp
                  : cracked.nScheme == INTERNET_SCHEME_HTTPS ? kSchemeHttps
                                                             : kSchemeOther;
  parts->hostLength = cracked.dwHostNameLength;
  parts->userLength = cracked.dwUserNameLength;
  parts->passwordLength = cracked.dwPasswordLength;
  return 1;
}

int SystemHasProxy() {
  INTERNET_PER_CONN_OPTIONW option = {};
  option.dwOption = INTERNET_PER_CONN_FLAGS;
  INTERNET_PER_CONN_OPTION_LISTW list = {};
  list.dwSize = sizeof list;
  list.dwOptionCount = 1;
  list.pOptions = &option;
  DWORD size = sizeof list;
  if (!::InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) return 0;
  return (option.Value.dwValue & (PROXY_TYPE_PROXY | PROXY_TYPE_AUTO_PROXY_URL | PROXY_TYPE_AUTO_DETECT)) != 0;
}

Internet OpenSession(const wchar_t* agent, int viaProxy) {
  return ::InternetOpenW(agent, viaProxy ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_DIRECT, /*lpszProxy=*/nullptr, /*lpszProxyBypass=*/nullptr,
                         /*dwFlags=*/0);
}

// Same request as InternetOpenUrlW (GET, the session's agent, no cache), made
// in steps so that the timeouts sit on the request itself: Wine's
// InternetOpenUrlW drops a session's send and receive timeouts, and a server
// that never answers would hold the run for ever. The connection handle is a
// child of the session and closes with it.
Internet OpenUrlReload(Internet session, const wchar_t* url, unsigned long timeoutMs) {
  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host / sizeof host[0];
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof path / sizeof path[0];
  if (!::InternetCrackUrlW(url, /*dwUrlLength=*/0, /*dwFlags=*/0, &parts)) return nullptr;
  HINTERNET connection = ::InternetConnectW(session, host, parts.nPort, /*lpszUserName=*/nullptr,
                                            /*lpszPassword=*/nullptr, INTERNET_SERVICE_HTTP, /*dwFlags=*/0,
                                            /*dwContext=*/0);
  if (!connection) return nullptr;
  const wchar_t* acceptTypes[] = {L"*/*", nullptr};
  HINTERNET request = ::HttpOpenRequestW(connection, L"GET", path, /*lpszVersion=*/nullptr, /*lpszReferrer=*/nullptr,
                                         acceptTypes,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTH,
                                         /*dwContext=*/0);
  if (request) {
    DWORD timeout = timeoutMs;
    const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT};
    for (DWORD option : options) ::InternetSetOptionW(request, option, &timeout, sizeof timeout);
    if (::HttpSendRequestW(request, /*lpszHeaders=*/nullptr, 0, /*lpOptional=*/nullptr, 0)) return request;
  }
  DWORD error = ::GetLastError();  // the clean-up must not hide why it failed
  if (request) ::InternetCloseHandle(request);
  ::InternetCloseHandle(connection);
  ::SetLastError(error);
  return nullptr;
}

int QueryContentLength(Internet request, wchar_t* text, unsigned long byteCapacity) {
  DWORD length = byteCapacity;
  return ::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, /*lpdwIndex=*/nullptr) != FALSE;
}

int AvailableInternet(Internet request, unsigned long* available) {
  DWORD count = 0;
  BOOL ok = ::InternetQueryDataAvailable(request, &count, /*dwFlags=*/0, /*dwContext=*/0);
  *available = count;
  return ok != FALSE;
}

int QueryStatusCode(Internet request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return 0;
  return static_cast<int>(status);
}

int ReadInternet(Internet request, void* buffer, unsigned long size, unsigned long* read) {
  DWORD count = 0;
  BOOL ok = ::InternetReadFile(request, buffer, size, &count);
  *read = count;
  return ok != FALSE;
}

void CloseInternet(Internet handle) { ::InternetCloseHandle(handle); }

Result DownloadToFile(const char* url, const char* path, void* callback) {
  return ::URLDownloadToFileA(/*pCaller=*/nullptr, url, path, /*dwReserved=*/0,
                              static_cast<IBindStatusCallback*>(callback));
}

void ResetBindInfo(void* bindInfo) {
  BINDINFO* info = static_cast<BINDINFO*>(bindInfo);
  DWORD size = info->cbSize;
  ::ZeroMemory(info, size);
  info->cbSize = size;
  info->dwBindVerb = BINDVERB_GET;
}

void HoldBinding(void* binding) { static_cast<IBinding*>(binding)->AddRef(); }

void AbortBinding(void* binding) { static_cast<IBinding*>(binding)->Abort(); }

void ReleaseBinding(void* binding) { static_cast<IBinding*>(binding)->Release(); }

void DeleteCacheEntry(const char* url) { ::DeleteUrlCacheEntryA(url); }

namespace {

struct TrustCheck {
  WINTRUST_FILE_INFO file;
  WINTRUST_DATA data;
  wchar_t path[MAX_PATH];
};

// SHA-256 of `data`, or with `file` of the whole open file.
int Sha256(const BYTE* data, DWORD size, HANDLE file, unsigned char digest[32]) {
  HCRYPTPROV provider = 0;
  // PROV_RSA_AES: the provider type that has SHA-256 on XP SP3 and later.
  if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return 0;
  HCRYPTHASH hash = 0;
  int ok = ::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
  if (ok && file) {
    BYTE chunk[16384];
    DWORD read = 0;
    LARGE_INTEGER start = {};
    ok = ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    while (ok && (ok = ::ReadFile(file, chunk, sizeof chunk, &read, nullptr)) && read > 0) {
      ok = ::CryptHashData(hash, chunk, read, 0);
    }
  } else if (ok) {
    ok = ::CryptHashData(hash, data, size, 0);
  }
  DWORD length = 32;
  ok = ok && ::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == 32;
  if (hash) ::CryptDestroyHash(hash);
  ::CryptReleaseContext(provider, 0);
  return ok;
}

// SHA-256 of a certificate's SubjectPublicKeyInfo (DER): what a pin names.
int KeyDigest(PCCERT_CONTEXT certificate, unsigned char digest[32]) {
  if (!certificate || !certificate->pCertInfo || !Trust()) return 0;
  BYTE* encoded = nullptr;
  DWORD size = 0;
  if (!Trust()->cryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &certificate->pCertInfo->SubjectPublicKeyInfo,
                             CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded, &size)) {
    return 0;
  }
  int ok = Sha256(encoded, size, nullptr, digest);
  ::LocalFree(encoded);
  return ok;
}

}  // namespace

long VerifyFileTrust(File file, const char* path, TrustState* state) {
  *state = nullptr;
  const TrustApi* api = Trust();
  if (!api) return static_cast<long>(E_NOTIMPL);
  TrustCheck* trust = static_cast<TrustCheck*>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TrustCheck)));
  if (!trust) return static_cast<long>(E_OUTOFMEMORY);
  ::MultiByteToWideChar(CP_ACP, 0, path, -1, trust->path, MAX_PATH);
  trust->file.cbStruct = sizeof trust->file;
  trust->file.pcwszFilePath = trust->path;
  trust->file.hFile = file;  // the checks read what the start will run
  trust->data.cbStruct = sizeof trust->data;
  trust->data.dwUIChoice = WTD_UI_NONE;
  // No revocation look-ups: a machine offline or behind a proxy must still be
  // able to update, and the pinned key, not the chain, is what is trusted.
  trust->data.fdwRevocationChecks = WTD_REVOKE_NONE;
  trust->data.dwUnionChoice = WTD_CHOICE_FILE;
  trust->data.pFile = &trust->file;
  trust->data.dwStateAction = WTD_STATEACTION_VERIFY;
  trust->data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  *state = trust;
  return api->winVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust->data);
}

int SignerKeyDigest(TrustState state, unsigned char digest[32]) {
  TrustCheck* trust = static_cast<TrustCheck*>(state);
  const TrustApi* api = Trust();  // a state exists only where it loaded
  CRYPT_PROVIDER_DATA* provider = trust ? api->provDataFromStateData(trust->data.hWVTStateData) : nullptr;
  CRYPT_PROVIDER_SGNR* signer = provider ? api->getProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leaf = signer ? api->getProvCertFromChain(signer, 0) : nullptr;
  return leaf && KeyDigest(leaf->pCert, digest);
}

int FileSha256(File file, unsigned char digest[32]) { return Sha256(nullptr, 0, file, digest); }

long VerifyDetachedSignature(const unsigned char* signature, unsigned long signatureSize, const unsigned char* content,
                             unsigned long contentSize, unsigned char signerKeyDigest[32], int* signedAttributes) {
  const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  *signedAttributes = 1;  // until the signer's record shows none
  const TrustApi* api = Trust();
  if (!api) return static_cast<long>(E_NOTIMPL);
  // Authenticated attributes first: a verification that honours them is not
  // to be had everywhere (Wine skips the digest they carry), so they are refused.
  HCRYPTMSG message = api->cryptMsgOpenToDecode(kEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr);
  if (message) {
    DWORD size = 0;
    if (api->cryptMsgUpdate(message, signature, signatureSize, TRUE) &&
        api->cryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size >= sizeof(CMSG_SIGNER_INFO)) {
      void* info = ::HeapAlloc(::GetProcessHeap(), 0, size);
      if (info && api->cryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, info, &size)) {
        *signedAttributes = static_cast<CMSG_SIGNER_INFO*>(info)->AuthAttrs.cAttr != 0;
      }
      if (info) ::HeapFree(::GetProcessHeap(), 0, info);
    }
    api->cryptMsgClose(message);
  }
  CRYPT_VERIFY_MESSAGE_PARA parameters = {};
  parameters.cbSize = sizeof parameters;
  parameters.dwMsgAndCertEncodingType = kEncoding;
  const BYTE* parts[] = {content};
  DWORD partSizes[] = {contentSize};
  PCCERT_CONTEXT signer = nullptr;
  if (!api->cryptVerifyDetachedMessageSignature(&parameters, 0, signature, signatureSize, 1, parts, partSizes, &signer)) {
    DWORD error = ::GetLastError();
    return error ? static_cast<long>(error) : static_cast<long>(E_FAIL);
  }
  int hashed = KeyDigest(signer, signerKeyDigest);
  if (signer) api->certFreeCertificateContext(signer);
  return hashed ? 0 : static_cast<long>(E_FAIL);
}

void CloseTrust(TrustState state) {
  TrustCheck* trust = static_cast<TrustCheck*>(state);
  const TrustApi* api = Trust();
  if (!trust || !api) return;
  trust->data.dwStateAction = WTD_STATEACTION_CLOSE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  api->winVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust->data);
  ::HeapFree(::GetProcessHeap(), 0, trust);
}

unsigned long VersionInfoSize(const char* path) {
  DWORD handle = 0;
  return ::GetFileVersionInfoSizeA(path, &handle);
}

int VersionInfo(const char* path, unsigned long size, void* block) {
  return ::GetFileVersionInfoA(path, 0, size, block) != FALSE;
}

int FixedFileVersion(void* block, unsigned long* mostSignificant, unsigned long* leastSignificant) {
  void* value = nullptr;
  UINT length = 0;
  char root[] = "\\";
  if (!::VerQueryValueA(block, root, &value, &length) || !value || length < sizeof(VS_FIXEDFILEINFO)) return 0;
  const VS_FIXEDFILEINFO* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  *mostSignificant = info->dwFileVersionMS;
  *leastSignificant = info->dwFileVersionLS;
  return 1;
}

Window FindTopWindow(const wchar_t* title) { return ::FindWindowW(/*lpClassName=*/nullptr, title); }

int SendClose(Window window, unsigned long timeoutMs) {
  DWORD_PTR answer = 0;
  return ::SendMessageTimeoutW(Hwnd(window), WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &answer) != 0;
}

int ShowMessageBox(Window owner, const wchar_t* text, const wchar_t* caption, unsigned style) {
  return ::MessageBoxW(Hwnd(owner), text, caption, style);
}

int FormatWithInt(wchar_t* buffer, const wchar_t* format, int value) { return ::wsprintfW(buffer, format, value); }

// Loaded on first use: comctl32 brings the display driver with it, which a run
// that shows no window should not pay for at start-up.
void RegisterProgressBarClass() {
  typedef BOOL(WINAPI * InitControls)(const INITCOMMONCONTROLSEX*);
  HMODULE comctl = LoadSystemLibrary(L"comctl32.dll");
  FARPROC proc = comctl ? ::GetProcAddress(comctl, "InitCommonControlsEx") : nullptr;
  InitControls init = reinterpret_cast<InitControls>(reinterpret_cast<void*>(proc));
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  if (init) init(&controls);
}

Window CreateDialogFromTemplate(Instance instance, int templateId, Window owner, DialogHandler handler) {
  gDialogHandler = handler;
  return ::CreateDialogParamW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(templateId), Hwnd(owner),
                              DialogThunk, /*dwInitParam=*/0);
}

int ScreenWidth() { return ::GetSystemMetrics(SM_CXFULLSCREEN); }

int ScreenHeight() { return ::GetSystemMetrics(SM_CYFULLSCREEN); }

void PlaceTopMost(Window window, int x, int y) {
  ::SetWindowPos(Hwnd(window), HWND_TOPMOST, x, y, /*cx=*/0, /*cy=*/0, SWP_NOSIZE);
}

void ShowWindowNow(Window window) { ::ShowWindow(Hwnd(window), SW_SHOW); }

void EnableWindowInput(Window window, int enable) { ::EnableWindow(Hwnd(window), enable); }

void Repaint(Window window) { ::UpdateWindow(Hwnd(window)); }

void DestroyWindowNow(Window window) { ::DestroyWindow(Hwnd(window)); }

Window DialogItem(Window dialog, int id) { return ::GetDlgItem(Hwnd(dialog), id); }

void SetItemText(Window window, const wchar_t* text) { ::SetWindowTextW(Hwnd(window), text); }

// PBM_SETRANGE holds only 16 bits; the 32-bit form takes the whole byte count.
void SetProgressRange(Window bar, unsigned long maximum) {
  ::SendMessageW(Hwnd(bar), PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
}

void SetProgressPosition(Window bar, unsigned long position) {
  ::SendMessageW(Hwnd(bar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int OpenWithShell(const char* path) {
  return static_cast<int>(reinterpret_cast<INT_PTR>(::ShellExecuteA(/*hwnd=*/nullptr, /*lpOperation=*/nullptr, path, /*lpParameters=*/nullptr,
                  /*lpDirectory=*/nullptr, SW_SHOWNORMAL)));
}

}  // namespace platform
