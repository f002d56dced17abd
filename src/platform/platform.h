// Thin wrappers over every Windows call the updater makes. The logic includes
// this header only; the win_*.cc files implement it over Win32, and the unit
// tests link a recording fake instead.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/errors.h"
#include "platform/handles.h"

namespace platform {

typedef long Result;  // HRESULT

const size_t kMaxPath = 260;  // MAX_PATH, terminator included
const size_t kMaxUrlLength = 2085;  // INTERNET_MAX_URL_LENGTH, terminator included

const unsigned long kRegSz = 1;
const unsigned long kRegDword = 4;

// Message-box styles and answers.
const unsigned kMbOk = 0x0;
const unsigned kMbYesNo = 0x4;
const int kIdOk = 1;
const int kIdCancel = 2;
const int kIdYes = 6;

const unsigned kWmCommand = 0x0111;

// Dialog procedure of the progress window; the platform forwards every
// message of the window to it and answers what it answers.
typedef intptr_t (*DialogHandler)(Window window, unsigned message, uintptr_t wParam, intptr_t lParam);

struct LocalTime {
  int year, month, day, hour, minute, second;
};

// --- Kernel ---
// Takes the program's folder and the current folder out of the DLL search
// path; where the system has it, leaves only the system folder in it.
void RestrictDllSearch();
// Creates and takes the named mutex; null when it already existed (another
// run holds it) or cannot be made. Letting it go gives it back.
Mutex TakeNamedMutex(const wchar_t* name);
// Full path of the running executable; the length written, the capacity when
// it was cut, 0 on failure.
unsigned long ModuleFileName(wchar_t* buffer, unsigned long capacity);
// Temporary directory with its trailing backslash; the length written, or the
// size needed (terminator included) when it does not fit, 0 on failure.
unsigned long TempDirectory(wchar_t* buffer, unsigned long capacity);
// The 8.3 form of an existing path; the length written, the size needed when
// it does not fit, 0 when there is none.
unsigned long ShortPathName(const wchar_t* path, wchar_t* buffer, unsigned long capacity);
// Converts to the system's ANSI code page. 1 when the text and its terminator
// fit `capacity`; `lossy` tells whether some character has no equivalent
// there (set even when the text does not fit).
int NarrowToAnsi(const wchar_t* text, char* buffer, unsigned long capacity, int* lossy);
int MakeDirectory(const char* path);  // one level, default security
// Opens a folder itself, shared for reading and writing but not for delete:
// while the handle is open, nobody can rename, replace or remove the folder.
// A reparse point is opened as itself, not followed. Null on failure.
File OpenFolder(const char* path);
// 1 when `path` names an existing folder.
int IsFolder(const char* path);
// 1 when the open folder is a reparse point (a junction or symbolic link).
int FolderIsReparsePoint(const File& folder);
// Who owns the open folder at `path`: 1 the user running this program, SYSTEM
// or the Administrators group; 0 anybody else; -1 its volume keeps no owners
// (FAT) or the owner cannot be read.
int FolderOwnerTrusted(const File& folder, const char* path);
unsigned LastError();
int RemoveFile(const char* path);
// Replaces `to` with `from` in one step (MOVEFILE_REPLACE_EXISTING).
int MoveReplacing(const char* from, const char* to);
// Read access, shared for reading only: while the handle is open nobody can
// write, rename or delete the file. Null on failure (a sharing violation too).
File OpenForReading(const char* path);
// Free bytes for this user on the volume that holds `folder`; -1 when unknown.
long long FreeDiskBytes(const char* folder);
// Size in bytes of the file at `path`, -1 when there is none.
long long PathFileSize(const char* path);
// Appends to the file, creating it; shared with readers and writers. 0 on failure.
int AppendToFile(const char* path, const char* data, unsigned long size);
// Write access, shared for reading only; `append` keeps what the file holds
// and writes after it, otherwise it starts empty. Null on failure.
File OpenForWriting(const char* path, int append);
int WriteToFile(const File& file, const void* data, unsigned long size);  // 1 when all was written
// Size in bytes of an open file, -1 when it cannot be read.
long long OpenFileSize(const File& file);
// Reads up to `capacity` bytes from `offset`; the count read, -1 on failure.
long ReadFileAt(const File& file, unsigned long long offset, unsigned char* buffer, unsigned long capacity);
LocalTime CurrentLocalTime();
LocalTime CurrentUtcTime();  // the system clock, UTC
void Pause(unsigned long milliseconds);
unsigned long TickCount();  // milliseconds, wraps after 49 days: compare differences only

// --- Threads (the watch of a blocking call only: shared/watch.cc) ---
// Runs `job(context)` on a new thread; null when none could be started.
Thread StartThread(void (*job)(void* context), void* context);
void JoinThread(const Thread& thread);  // waits for the job to return
Event NewEvent();                       // manual reset, not signalled; null on failure
void SignalEvent(const Event& event);
int WaitEvent(const Event& event, unsigned long milliseconds);  // 1 when signalled
// A lock shared by two threads, taken again by its holder without waiting;
// null on failure.
Mutex NewLock();
int TakeLock(const Mutex& lock, unsigned long milliseconds);  // 1 when taken in time
void GiveLock(const Mutex& lock);
// Ends this process at once with exit status 0; a last resort when a
// blocking call cannot be stopped.
void EndProcessNow();

// --- Processes ---
// The process that owns a window, opened only to wait for its end.
Process OpenWindowProcess(Window window);
int WaitProcessEnd(const Process& process, unsigned long milliseconds);  // 1 when it ended

// Random bytes from the system's generator (RtlGenRandom); 0 on failure.
int RandomBytes(void* buffer, unsigned long size);

// --- Registry (HKEY_CURRENT_USER only) ---
// Opens the key, creating it when missing, with read and write access.
RegKey OpenOrCreateUserKey(const wchar_t* subKey);
// RegQueryValueExA: 0 (ERROR_SUCCESS) or the Win32 error; `size` in/out.
long QueryValue(const RegKey& key, const char* name, unsigned long* type, unsigned char* data, unsigned long* size);
long SetDwordValue(const RegKey& key, const wchar_t* name, unsigned long value);
long SetStringValue(const RegKey& key, const char* name, const char* text);  // stores the terminator too

// --- WinINet ---
const int kSchemeOther = 0, kSchemeHttp = 1, kSchemeHttps = 2;
struct UrlParts {
  int scheme;
  unsigned long hostLength, userLength, passwordLength;
};
// InternetCrackUrlA; 0 when the text is no URL at all.
int CrackUrl(const char* url, UrlParts* parts);
// Direct access, or with `viaProxy` the system's proxy settings.
Internet OpenSession(const wchar_t* agent, int viaProxy);
// 1 when the system's Internet settings name a proxy or an automatic proxy
// configuration (a script address or detection).
int SystemHasProxy();
// GET of `url` from the server, never from or into the cache
// (INTERNET_FLAG_RELOAD, INTERNET_FLAG_NO_CACHE_WRITE),
// never with the user's logon (INTERNET_FLAG_NO_AUTH) or cookies, neither sent
// nor stored (INTERNET_FLAG_NO_COOKIES), with connect, send and receive
// timeouts in milliseconds. An https:// address goes over TLS
// (INTERNET_FLAG_SECURE) with the system's certificate checks, none waived.
// `headers`: more request headers, or null.
Internet OpenUrlReload(const Internet& session, const wchar_t* url, unsigned long timeoutMs,
                       const wchar_t* headers = nullptr);
// HTTP_QUERY_CONTENT_LENGTH as text; `byteCapacity` is the room in bytes.
int QueryContentLength(const Internet& request, wchar_t* text, unsigned long byteCapacity);
int QueryStatusCode(const Internet& request);  // HTTP_QUERY_STATUS_CODE, 0 when unknown
// Bytes that can be read now without waiting for more; waits (up to the
// receive timeout) for the first when none are there. 0 at the end.
int AvailableInternet(const Internet& request, unsigned long* available);
int ReadInternet(const Internet& request, void* buffer, unsigned long size, unsigned long* read);
// The address the request ended at, redirects followed (INTERNET_OPTION_URL);
// 0 when it cannot be read or does not fit kMaxUrlLength or `capacity`.
int QueryRequestUrl(const Internet& request, char* url, unsigned long capacity);

// --- WinINet downloads ---
// A session for downloads: the system's proxy settings, and the agent the
// system's own downloads send (ObtainUserAgentString).
Internet OpenDownloadSession();
// OpenUrlReload of a narrow address (the system's code page) with more
// request headers ("Name: value\r\n" each; null: none). Null when the address
// does not fit kMaxUrlLength.
Internet OpenDownload(const Internet& session, const char* url, const char* headers, unsigned long timeoutMs);
enum Header { kHeaderETag, kHeaderLastModified, kHeaderContentRange };
// A response header as narrow text; 0 when absent, not in the code page, or
// longer than `capacity`.
int QueryHeader(const Internet& request, Header which, char* text, unsigned long capacity);

// --- Trust (wintrust, crypt32) ---
// WinVerifyTrust, generic Authenticode policy, on an open file with no UI and
// no revocation look-ups; `state` is closed when it goes, on every path.
// Answers the verdict (0: a valid signature).
long VerifyFileTrust(const File& file, const char* path, TrustState* state);
// SHA-256 of the signer certificate's SubjectPublicKeyInfo (DER); 0 when the
// state holds no signer.
int SignerKeyDigest(const TrustState& state, unsigned char digest[32]);
// SHA-256 of a whole open file; 0 when it cannot be read.
int FileSha256(const File& file, unsigned char digest[32]);
// CryptVerifyDetachedMessageSignature over `content` with a DER PKCS #7
// signature. Answers the verdict (0: valid) and, when valid, the SHA-256 of
// the signer's SubjectPublicKeyInfo; `signedAttributes` tells whether the
// signer carries authenticated attributes.
long VerifyDetachedSignature(const unsigned char* signature, unsigned long signatureSize, const unsigned char* content,
                             unsigned long contentSize, unsigned char signerKeyDigest[32], int* signedAttributes);

// --- version.dll ---
// The version resource of `path`, in a block of the platform's; null when the
// file is missing or has none.
VersionBlock ReadVersionInfo(const char* path);
// The fixed file version from the root block: most and least significant words.
int FixedFileVersion(const VersionBlock& block, unsigned long* mostSignificant, unsigned long* leastSignificant);

// --- User interface ---
Window FindTopWindow(const wchar_t* title);  // exact title, any class
// WM_CLOSE, waiting at most `timeoutMs` for the window to handle it, and not
// at all when its thread is hung.
// 1 when the window handled it in time.
int SendClose(Window window, unsigned long timeoutMs);
int ShowMessageBox(Window owner, const wchar_t* text, const wchar_t* caption, unsigned style);
// wsprintfW with one int argument; `buffer` holds at least 1024 characters.
int FormatWithInt(wchar_t* buffer, const wchar_t* format, int value);
void RegisterProgressBarClass();  // the common control class "msctls_progress32"
Window CreateDialogFromTemplate(Instance instance, int templateId, Window owner, DialogHandler handler);
int ScreenWidth();   // SM_CXFULLSCREEN
int ScreenHeight();  // SM_CYFULLSCREEN
void PlaceTopMost(Window window, int x, int y);  // keeps its size
void ShowWindowNow(Window window);               // SW_SHOW
void EnableWindowInput(Window window, int enable);
void Repaint(Window window);                      // UpdateWindow
void DestroyWindowNow(Window window);
// Handles the messages already waiting for this thread's windows (paints,
// commands, other programs' sent messages) without waiting for more: the
// download reads on this thread, and its window must keep answering.
void HandlePendingMessages();
Window DialogItem(Window dialog, int id);
void SetItemText(Window window, const wchar_t* text);
void SetProgressRange(Window bar, unsigned long maximum);  // PBM_SETRANGE32 0..maximum
void SetProgressPosition(Window bar, unsigned long position);

// --- Shell ---
// Default verb, no parameters, SW_SHOWNORMAL, in `folder` (null: none given);
// ShellExecute's answer (above 32: started).
int OpenWithShell(const char* path, const char* folder);

}  // namespace platform
