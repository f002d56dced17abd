// Files and folders: kernel32 and the owner check of advapi32.
#include "platform/win_internal.h"

#include <aclapi.h>

namespace platform {

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

File OpenFolder(const char* path) {
  HANDLE folder = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return File(folder == INVALID_HANDLE_VALUE ? nullptr : folder);
}

int IsFolder(const char* path) {
  DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int FolderIsReparsePoint(const File& folder) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(folder.Get(), &information)) return 1;  // unknown: not to be trusted
  return (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

namespace {

// 1 when the volume that holds `path` keeps owners and access lists.
int VolumeKeepsOwners(const char* path) {
  char root[MAX_PATH];
  DWORD flags = 0;
  if (!::GetVolumePathNameA(path, root, MAX_PATH)) return 1;
  if (!::GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return 1;
  return (flags & FS_PERSISTENT_ACLS) != 0;
}

int IsUserOrSystem(PSID owner) {
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

}  // namespace

int FolderOwnerTrusted(const File& folder, const char* path) {
  if (!VolumeKeepsOwners(path)) return -1;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(folder.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
    return -1;
  }
  int trusted = owner && IsUserOrSystem(owner);
  ::LocalFree(descriptor);
  return trusted;
}

int RemoveFile(const char* path) { return ::DeleteFileA(path) != FALSE; }

int MoveReplacing(const char* from, const char* to) {
  return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

File OpenForReading(const char* path) {
  HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  return File(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

void CloseFileHandle(void* raw) { ::CloseHandle(raw); }

long long FreeDiskBytes(const char* folder) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExA(folder, &available, /*lpTotalNumberOfBytes=*/nullptr, /*lpTotalNumberOfFreeBytes=*/nullptr)) {
    return -1;
  }
  return static_cast<long long>(available.QuadPart);
}

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

File OpenForWriting(const char* path, int append) {
  HANDLE file = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return File();
  LARGE_INTEGER none = {};
  if (append && !::SetFilePointerEx(file, none, nullptr, FILE_END)) {
    ::CloseHandle(file);
    return File();
  }
  return File(file);
}

int WriteToFile(const File& file, const void* data, unsigned long size) {
  DWORD written = 0;
  return ::WriteFile(file.Get(), data, size, &written, nullptr) && written == size;
}

long long OpenFileSize(const File& file) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.Get(), &size)) return -1;
  return size.QuadPart;
}

long ReadFileAt(const File& file, unsigned long long offset, unsigned char* buffer, unsigned long capacity) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN)) return -1;
  DWORD read = 0;
  return ::ReadFile(file.Get(), buffer, capacity, &read, nullptr) ? static_cast<long>(read) : -1;
}

}  // namespace platform
