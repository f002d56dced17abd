// Hashes and signatures, all OpenSSL's libcrypto.
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "manifest/manifest.h"
#include "publisher.h"

namespace {

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) out += {kHex[bytes[i] >> 4], kHex[bytes[i] & 0xF]};
  return out;
}

}  // namespace

std::string Sha256Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr);
  return Hex(digest, size);
}

std::string KeyPin(X509* certificate) {
  unsigned char* der = nullptr;
  int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
  if (size <= 0) return "";
  std::string pin = Sha256Hex(std::string(reinterpret_cast<char*>(der), static_cast<size_t>(size)));
  OPENSSL_free(der);
  return pin;
}

std::string SignBytes(const std::string& data, const std::string& certPath, const std::string& keyPath,
                      std::string* why) {
  std::string out;
  BIO* certBio = BIO_new_file(certPath.c_str(), "r");
  BIO* keyBio = BIO_new_file(keyPath.c_str(), "r");
  X509* cert = certBio ? PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr) : nullptr;
  EVP_PKEY* key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr) : nullptr;
  BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
  const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_NOATTR | CMS_PARTIAL;
  CMS_ContentInfo* cms = cert && key ? CMS_sign(nullptr, nullptr, nullptr, nullptr, flags) : nullptr;
  if (!cert || !key) {
    *why = "cannot read the certificate or the key (PEM)";
  } else if (!cms || !CMS_add1_signer(cms, cert, key, EVP_sha256(), flags) || !CMS_final(cms, in, nullptr, flags)) {
    *why = "signing failed (does the key belong to the certificate?)";
  } else {
    unsigned char* der = nullptr;
    int size = i2d_CMS_ContentInfo(cms, &der);
    if (size > 0) out.assign(reinterpret_cast<char*>(der), static_cast<size_t>(size));
    OPENSSL_free(der);
  }
  CMS_ContentInfo_free(cms);
  BIO_free(in);
  EVP_PKEY_free(key);
  X509_free(cert);
  BIO_free(keyBio);
  BIO_free(certBio);
  return out;
}

std::string SignatureFault(const std::string& data, const std::string& signature,
                           const std::vector<std::string>& pins) {
  if (signature.size() > kSignatureCap) return "larger than the updater's cap of " + std::to_string(kSignatureCap);
  const unsigned char* der = reinterpret_cast<const unsigned char*>(signature.data());
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &der, static_cast<long>(signature.size()));
  if (!cms) return "not a DER PKCS #7 signature";
  std::string fault;
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
  for (int i = 0; signers && i < sk_CMS_SignerInfo_num(signers); ++i) {
    if (CMS_signed_get_attr_count(sk_CMS_SignerInfo_value(signers, i)) > 0) fault = "it carries signed attributes";
  }
  BIO* content = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
  if (fault.empty() && !signers) fault = "no signer";
  if (fault.empty() && CMS_verify(cms, nullptr, nullptr, content, nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
    fault = "it does not verify over these bytes";
  }
  if (fault.empty()) {
    STACK_OF(X509)* certs = CMS_get0_signers(cms);
    std::string pin = certs && sk_X509_num(certs) > 0 ? KeyPin(sk_X509_value(certs, 0)) : "";
    bool pinned = false;
    for (const std::string& p : pins) pinned = pinned || p == pin;
    if (!pinned) fault = "its signer key " + pin + " is not pinned";
    sk_X509_free(certs);
  }
  BIO_free(content);
  CMS_ContentInfo_free(cms);
  return fault;
}
