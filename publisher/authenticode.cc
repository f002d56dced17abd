// The installer's Authenticode signature, judged as Updater.exe judges it:
// the PKCS #7 in the image's certificate table verifies, the image hash it
// signs is this image's, and the signer's key is pinned. All parsing of the
// signature is OpenSSL's; only the PE layout is read here.
#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <string.h>
#include <time.h>

#include "publisher.h"

namespace {


// Where the checksum, the certificate table's directory entry and the table
// itself sit; "" or why the file is no signed PE image.
std::string Layout(const std::string& image, size_t* checksum, size_t* entry, size_t* table, size_t* tableSize) {
  if (image.compare(0, 2, "MZ") != 0) return "not a Windows program (no MZ header)";
  size_t pe = ReadLe32(image, 0x3C);
  if (pe > image.size() || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return "no PE header";
  size_t optional = pe + 24;
  unsigned magic = ReadLe16(image, optional);
  if (magic != 0x10B && magic != 0x20B) return "an unknown optional header";
  size_t directories = optional + (magic == 0x10B ? 96 : 112);
  if (ReadLe32(image, directories - 4) < 5 || directories + 40 > image.size()) return "no certificate table entry";
  *checksum = optional + 64;
  *entry = directories + 4 * 8;
  *table = ReadLe32(image, *entry);
  *tableSize = ReadLe32(image, *entry + 4);
  if (*table == 0 || *tableSize == 0) return "not signed (no certificate table)";
  if (*table < *entry + 8 || *table > image.size() || *tableSize > image.size() - *table) {
    return "a certificate table outside the file";
  }
  if (*table + *tableSize != image.size()) return "data after the certificate table";
  return "";
}

// The image's Authenticode hash: all but the checksum, the table's entry and the table.
std::string ImageHash(const std::string& image, const EVP_MD* md, size_t checksum, size_t entry, size_t table) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, md, nullptr);
  EVP_DigestUpdate(ctx, image.data(), checksum);
  EVP_DigestUpdate(ctx, image.data() + checksum + 4, entry - checksum - 4);
  EVP_DigestUpdate(ctx, image.data() + entry + 8, table - entry - 8);
  EVP_DigestFinal_ex(ctx, digest, &size);
  EVP_MD_CTX_free(ctx);
  return std::string(reinterpret_cast<char*>(digest), size);
}

// The digest the signature vouches for (SpcIndirectDataContent's DigestInfo)
// and its algorithm; the signed bytes are the content inside its outer tag.
// Every part may be missing in a signature made to fool the parser: each is
// looked for before it is used.
bool SignedDigest(PKCS7* p7, std::string* digest, const EVP_MD** md, std::string* signedBytes) {
  if (!p7->d.sign) return false;  // a signedData type with no content at all
  ASN1_OBJECT* spcIndirectData = OBJ_txt2obj("1.3.6.1.4.1.311.2.1.4", 1);
  PKCS7* contents = p7->d.sign->contents;
  bool indirect = contents && contents->type && OBJ_cmp(contents->type, spcIndirectData) == 0 &&
                  contents->d.other && contents->d.other->type == V_ASN1_SEQUENCE &&
                  contents->d.other->value.sequence && contents->d.other->value.sequence->data;
  ASN1_OBJECT_free(spcIndirectData);
  if (!indirect) return false;
  const ASN1_STRING* sequence = contents->d.other->value.sequence;
  const unsigned char* p = sequence->data;
  long length = 0, inner = 0;
  int tag = 0, cls = 0;
  if (ASN1_get_object(&p, &length, &tag, &cls, sequence->length) & 0x80) return false;
  signedBytes->assign(reinterpret_cast<const char*>(p), static_cast<size_t>(length));
  const unsigned char* end = p + length;
  const unsigned char* data = p;  // SpcAttributeTypeAndOptionalValue, skipped
  if (ASN1_get_object(&data, &inner, &tag, &cls, end - p) & 0x80) return false;
  p = data + inner;
  X509_SIG* digestInfo = d2i_X509_SIG(nullptr, &p, end - p);
  if (!digestInfo) return false;
  const X509_ALGOR* algorithm = nullptr;
  const ASN1_OCTET_STRING* value = nullptr;
  X509_SIG_get0(digestInfo, &algorithm, &value);
  const ASN1_OBJECT* oid = nullptr;
  if (algorithm) X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  *md = oid ? EVP_get_digestbynid(OBJ_obj2nid(oid)) : nullptr;
  if (value) digest->assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)), ASN1_STRING_length(value));
  X509_SIG_free(digestInfo);
  return *md != nullptr;
}

// 1 when the signer carries a time stamp: a countersignature or an RFC 3161
// token among its unsigned attributes.
bool TimeStamped(PKCS7* p7) {
  STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7);
  PKCS7_SIGNER_INFO* info = infos && sk_PKCS7_SIGNER_INFO_num(infos) > 0 ? sk_PKCS7_SIGNER_INFO_value(infos, 0) : nullptr;
  if (!info || !info->unauth_attr) return false;
  for (int i = 0; i < sk_X509_ATTRIBUTE_num(info->unauth_attr); ++i) {
    char oid[64] = {};
    OBJ_obj2txt(oid, sizeof oid, X509_ATTRIBUTE_get0_object(sk_X509_ATTRIBUTE_value(info->unauth_attr, i)), 1);
    if (!strcmp(oid, "1.2.840.113549.1.9.6") || !strcmp(oid, "1.3.6.1.4.1.311.3.3.1")) return true;
  }
  return false;
}

std::string Subject(X509* cert) {
  char text[512] = {};
  X509_NAME_oneline(X509_get_subject_name(cert), text, sizeof text);
  return text;
}

}  // namespace

std::string AuthenticodeFault(const std::string& image, const std::vector<std::string>& pins, std::string* signer,
                              std::string* warning) {
  size_t checksum = 0, entry = 0, table = 0, tableSize = 0;
  std::string fault = Layout(image, &checksum, &entry, &table, &tableSize);
  if (!fault.empty()) return fault;
  if (tableSize < 8 || ReadLe16(image, table + 4) != 0x0200 || ReadLe16(image, table + 6) != 2) {
    return "the certificate table holds no PKCS #7 signature";
  }
  size_t length = ReadLe32(image, table);
  const unsigned char* der = reinterpret_cast<const unsigned char*>(image.data()) + table + 8;
  PKCS7* p7 = length > 8 && length <= tableSize ? d2i_PKCS7(nullptr, &der, static_cast<long>(length - 8)) : nullptr;
  if (!p7 || !PKCS7_type_is_signed(p7) || !p7->d.sign) {
    PKCS7_free(p7);
    return "the signature is no PKCS #7 SignedData (or one without its content)";
  }
  std::string digest, signedBytes;
  const EVP_MD* md = nullptr;
  STACK_OF(X509)* signers = nullptr;
  X509* cert = nullptr;
  BIO* content = nullptr;
  if (!SignedDigest(p7, &digest, &md, &signedBytes)) {
    fault = "the signature holds no Authenticode image digest";
  } else if (digest != ImageHash(image, md, checksum, entry, table)) {
    fault = "the image was changed after it was signed (its hash is not the signed one)";
  } else if (!(content = BIO_new_mem_buf(signedBytes.data(), static_cast<int>(signedBytes.size()))) ||
             PKCS7_verify(p7, nullptr, nullptr, content, nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) != 1) {
    fault = "the signature does not verify";
  } else if (!(signers = PKCS7_get0_signers(p7, nullptr, 0)) || sk_X509_num(signers) < 1) {
    fault = "no signer certificate";
  } else {
    cert = sk_X509_value(signers, 0);
    std::string pin = KeyPin(cert);
    *signer = Subject(cert) + ", pin " + pin;
    bool pinned = false;
    for (const std::string& p : pins) pinned = pinned || p == pin;
    if ((X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) && !(X509_get_extended_key_usage(cert) & XKU_CODE_SIGN)) {
      fault = "the signer certificate is not for code signing (extendedKeyUsage lacks codeSigning): Windows refuses it";
    } else if (!pinned && !pins.empty()) {
      fault = "the signer key " + pin + " is not pinned";
    }
    // Windows takes a signature past its certificate's end only with a time
    // stamp from when the certificate was valid.
    bool stamped = TimeStamped(p7);
    const ASN1_TIME* notAfter = X509_get0_notAfter(cert);
    time_t soon = time(nullptr) + 30 * 86400L;
    if (fault.empty() && !stamped && X509_cmp_current_time(notAfter) < 0) {
      fault = "the signer certificate has expired and the signature carries no time stamp: Windows refuses it";
    } else if (warning && !stamped) {
      *warning = "the signature carries no time stamp: once the signer certificate expires, Windows refuses it "
                 "(sign with osslsigncode -ts URL)";
    } else if (warning && X509_cmp_time(notAfter, &soon) < 0) {
      *warning = "the signer certificate expires within 30 days";
    }
  }
  BIO_free(content);
  sk_X509_free(signers);
  PKCS7_free(p7);
  return fault;
}
