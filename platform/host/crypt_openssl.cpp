#include "platform/host/crypt_openssl.h"

#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

const DWORD kBadTag = 0x8009310B;        // CRYPT_E_ASN1_BADTAG
const DWORD kMessageError = 0x80091002;  // CRYPT_E_MSG_ERROR
const DWORD kInvalidType = 0x80091004;   // CRYPT_E_INVALID_MSG_TYPE
const DWORD kInvalidIndex = 0x80091008;  // CRYPT_E_INVALID_INDEX
const DWORD kNotReady = 0x80091010;      // CRYPT_E_STREAM_MSG_NOT_READY
const DWORD kInvalidArg = static_cast<DWORD>(E_INVALIDARG);

struct Message {
  std::vector<uint8_t> input;
  bool decoded = false;
  bool isSignedData = false;
  std::vector<std::vector<uint8_t>> certificates;  // DER, in order
};

// Everything the pointers of a certificate context point to.
struct CertificateData {
  CERT_INFO info;
  std::vector<uint8_t> encoded;
  std::vector<CERT_EXTENSION> extensions;
  std::vector<std::string> oids;
  std::vector<std::vector<uint8_t>> values;
};

// Standard layout: a pointer to the context is a pointer to the Certificate.
struct Certificate {
  CERT_CONTEXT context;
  CertificateData* data;
};

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

bool Decode(Message* m) {
  const unsigned char* p = m->input.data();
  // d2i reads one DER element within the given length; whatever follows it
  // (an appended payload) is ignored.
  long length = m->input.size() > LONG_MAX ? LONG_MAX : static_cast<long>(m->input.size());
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, length);
  if (!p7) return false;
  if (PKCS7_type_is_signed(p7) && p7->d.sign) {
    m->isSignedData = true;
    STACK_OF(X509)* certs = p7->d.sign->cert;
    for (int i = 0; certs && i < sk_X509_num(certs); i++) {
      unsigned char* der = nullptr;
      int n = i2d_X509(sk_X509_value(certs, i), &der);
      if (n <= 0) {
        PKCS7_free(p7);
        return false;
      }
      m->certificates.emplace_back(der, der + n);
      OPENSSL_free(der);
    }
  }
  PKCS7_free(p7);
  return true;
}

BOOL CopyOut(const void* source, DWORD needed, void* data, DWORD* size) {
  if (!data) {
    *size = needed;
    return TRUE;
  }
  if (*size < needed) {
    *size = needed;
    return Fail(ERROR_MORE_DATA);
  }
  memcpy(data, source, needed);
  *size = needed;
  return TRUE;
}

}  // namespace

namespace openssl_crypt {

HCRYPTMSG OpenToDecode(DWORD encoding, DWORD, DWORD, HCRYPTPROV_LEGACY, PCERT_INFO,
                       PCMSG_STREAM_INFO) {
  if (!(encoding & PKCS_7_ASN_ENCODING)) {
    SetLastError(kInvalidArg);
    return nullptr;
  }
  return new Message;
}

BOOL Update(HCRYPTMSG message, const BYTE* data, DWORD size, BOOL final) {
  auto* m = static_cast<Message*>(message);
  if (!m || (size && !data)) return Fail(kInvalidArg);
  if (m->decoded) return Fail(kMessageError);
  m->input.insert(m->input.end(), data, data + size);
  if (!final) return TRUE;
  m->decoded = true;
  if (!Decode(m)) {
    m->certificates.clear();
    m->isSignedData = false;
    return Fail(kBadTag);
  }
  return TRUE;
}

BOOL GetParam(HCRYPTMSG message, DWORD type, DWORD index, void* data, DWORD* size) {
  auto* m = static_cast<Message*>(message);
  if (!m || !size) return Fail(kInvalidArg);
  if (type != CMSG_CERT_COUNT_PARAM && type != CMSG_CERT_PARAM) return Fail(kInvalidArg);
  if (!m->decoded) return Fail(kNotReady);
  if (!m->isSignedData) return Fail(kInvalidType);
  if (type == CMSG_CERT_COUNT_PARAM) {
    DWORD count = static_cast<DWORD>(m->certificates.size());
    return CopyOut(&count, sizeof count, data, size);
  }
  if (index >= m->certificates.size()) return Fail(kInvalidIndex);
  const std::vector<uint8_t>& der = m->certificates[index];
  return CopyOut(der.data(), static_cast<DWORD>(der.size()), data, size);
}

BOOL Close(HCRYPTMSG message) {
  delete static_cast<Message*>(message);
  return TRUE;
}

PCCERT_CONTEXT CreateCertificateContext(DWORD encoding, const BYTE* data, DWORD size) {
  if (!(encoding & X509_ASN_ENCODING) || !data) {
    SetLastError(kInvalidArg);
    return nullptr;
  }
  const unsigned char* p = data;
  X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(size));
  if (!x509) {
    SetLastError(kBadTag);
    return nullptr;
  }
  auto* cert = new CertificateData;
  cert->encoded.assign(data, data + size);
  int count = X509_get_ext_count(x509);
  for (int i = 0; i < count; i++) {
    X509_EXTENSION* extension = X509_get_ext(x509, i);
    ASN1_OBJECT* object = X509_EXTENSION_get_object(extension);
    int length = OBJ_obj2txt(nullptr, 0, object, 1);
    std::vector<char> text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    if (length > 0) OBJ_obj2txt(text.data(), length + 1, object, 1);
    std::string oid(text.data());
    ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
    cert->oids.push_back(oid);
    cert->values.emplace_back(ASN1_STRING_get0_data(value),
                              ASN1_STRING_get0_data(value) + ASN1_STRING_length(value));
    cert->extensions.push_back(CERT_EXTENSION{
        nullptr, X509_EXTENSION_get_critical(extension) ? TRUE : FALSE, {0, nullptr}});
  }
  X509_free(x509);
  // The vectors are complete: now their elements stay where they are.
  for (size_t i = 0; i < cert->extensions.size(); i++) {
    cert->extensions[i].pszObjId = &cert->oids[i][0];
    cert->extensions[i].Value.cbData = static_cast<DWORD>(cert->values[i].size());
    cert->extensions[i].Value.pbData = cert->values[i].data();
  }
  cert->info = CERT_INFO{};
  cert->info.dwVersion = 2;
  cert->info.cExtension = static_cast<DWORD>(cert->extensions.size());
  cert->info.rgExtension = cert->extensions.data();
  auto* holder =
      new Certificate{CERT_CONTEXT{X509_ASN_ENCODING, cert->encoded.data(),
                                   static_cast<DWORD>(cert->encoded.size()), &cert->info, nullptr},
                      cert};
  return &holder->context;
}

BOOL FreeCertificateContext(PCCERT_CONTEXT context) {
  if (!context) return TRUE;
  const auto* holder = reinterpret_cast<const Certificate*>(context);
  delete holder->data;
  delete holder;
  return TRUE;
}

}  // namespace openssl_crypt
