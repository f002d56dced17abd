#include "platform/errors.h"

namespace platform {

const char* ErrorMeaning(unsigned error) {
  switch (error) {
    case kErrorInternetTimeout: return "timed out";
    case kErrorNameNotResolved: return "host name not resolved";
    case kErrorOperationCancelled: return "cancelled";
    case kErrorCannotConnect: return "cannot connect";
    case kErrorHttpsToHttp: return "redirected from https to http";
    case 12037: return "certificate expired or not yet valid";
    case 12038: return "certificate for another name";
    case 12044: return "the server asks for a client certificate";
    case 12045: return "certificate from an untrusted authority";
    case 12057: return "certificate revocation not checked";
    case 12157: return "secure channel failed";
    case 12169: return "certificate invalid";
    case 12170: return "certificate revoked";
    default: return nullptr;
  }
}

int NeverReachedServer(unsigned error) {
  return error == kErrorInternetTimeout || error == kErrorNameNotResolved || error == kErrorCannotConnect;
}

const char* ShellFailure(int answer, unsigned error) {
  if (error == kErrorCancelled) return "the user declined the elevation";
  switch (answer) {
    case 0: case 8: return "out of memory";
    case 2: return "file not found";
    case 3: return "path not found";
    case 5: return "access denied";
    case 11: return "not a program this Windows can run";
    case 26: return "sharing violation";
    case 27: case 31: return "no program for this file";
    case 32: return "a DLL was not found";
    default: return "refused";
  }
}

}  // namespace platform
