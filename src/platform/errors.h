// The Windows error numbers the program names, in one place: what each means
// in the log, and how it classes. Plain numbers, the same on every build.
#pragma once

namespace platform {

const unsigned kErrorAlreadyExists = 183;        // ERROR_ALREADY_EXISTS
const unsigned kErrorFilenameTooLong = 206;      // ERROR_FILENAME_EXCED_RANGE
const unsigned kErrorCancelled = 1223;           // ERROR_CANCELLED: the elevation prompt was declined
const unsigned kErrorBorrowedFolder = 1921;      // ERROR_CANT_RESOLVE_FILENAME: a junction, a link, another's folder
const unsigned kErrorInternetTimeout = 12002;    // ERROR_INTERNET_TIMEOUT
const unsigned kErrorNameNotResolved = 12007;    // ERROR_INTERNET_NAME_NOT_RESOLVED
const unsigned kErrorOperationCancelled = 12017;  // ERROR_INTERNET_OPERATION_CANCELLED
const unsigned kErrorCannotConnect = 12029;      // ERROR_INTERNET_CANNOT_CONNECT
const unsigned kErrorHttpsToHttp = 12040;        // ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR

const long kResultAbort = static_cast<long>(0x80004004L);  // E_ABORT

// What `error` means, for a log line; null for a number not named here.
const char* ErrorMeaning(unsigned error);

// 1 for a WinINet error that says no server answered at all: the name did not
// resolve, nothing accepted the connection, or nothing came in time.
int NeverReachedServer(unsigned error);

// What a failed ShellExecute answer (32 or less) means, with the last error.
const char* ShellFailure(int answer, unsigned error);

}  // namespace platform
