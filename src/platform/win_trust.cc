// Trust and crypto: wintrust and crypt32, loaded at first use, and the
// hashes of advapi32's AES provider.
#include "platform/win_internal.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

// XP SP3 has SHA-256 in its AES provider; the headers declare it only for
// later targets.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

namespace platform {

namespace {

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

long VerifyFileTrust(const File& file, const char* path, TrustState* state) {
  state->Reset();
  const TrustApi* api = Trust();
  if (!api) return static_cast<long>(E_NOTIMPL);
  TrustCheck* trust = static_cast<TrustCheck*>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TrustCheck)));
  if (!trust) return static_cast<long>(E_OUTOFMEMORY);
  ::MultiByteToWideChar(CP_ACP, 0, path, -1, trust->path, MAX_PATH);
  trust->file.cbStruct = sizeof trust->file;
  trust->file.pcwszFilePath = trust->path;
  trust->file.hFile = file.Get();  // the checks read what the start will run
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
  state->Reset(trust);
  return api->winVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust->data);
}

int SignerKeyDigest(const TrustState& state, unsigned char digest[32]) {
  TrustCheck* trust = static_cast<TrustCheck*>(state.Get());
  const TrustApi* api = Trust();  // a state exists only where it loaded
  CRYPT_PROVIDER_DATA* provider = trust ? api->provDataFromStateData(trust->data.hWVTStateData) : nullptr;
  CRYPT_PROVIDER_SGNR* signer = provider ? api->getProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leaf = signer ? api->getProvCertFromChain(signer, 0) : nullptr;
  return leaf && KeyDigest(leaf->pCert, digest);
}

int FileSha256(const File& file, unsigned char digest[32]) { return Sha256(nullptr, 0, file.Get(), digest); }

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

void CloseTrustState(void* raw) {
  TrustCheck* trust = static_cast<TrustCheck*>(raw);
  const TrustApi* api = Trust();
  if (!trust || !api) return;
  trust->data.dwStateAction = WTD_STATEACTION_CLOSE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  api->winVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust->data);
  ::HeapFree(::GetProcessHeap(), 0, trust);
}

}  // namespace platform
