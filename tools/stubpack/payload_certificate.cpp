#include "tools/stubpack/payload_certificate.h"

#include <openssl/asn1.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "payload/payload_extension.h"
#include "tools/stubpack/payload_writer.h"

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT, ASN1_OBJECT_free>>;
using OctetsPtr =
    std::unique_ptr<ASN1_OCTET_STRING, Deleter<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;
using IntegerPtr = std::unique_ptr<ASN1_INTEGER, Deleter<ASN1_INTEGER, ASN1_INTEGER_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;

bool Fail(std::string* error, const char* what) {
  *error = std::string("cannot make the payload certificate: ") + what;
  return false;
}

}  // namespace

bool MakePayloadCertificate(const std::vector<uint8_t>& region, std::vector<uint8_t>* der,
                            std::string* error) {
  der->clear();
  if (region.size() > 0x7FFFFFF0u) return Fail(error, "the payload is larger than 2 GiB");
  // Signed with the payload key, the certificate's to-be-signed bytes and its
  // signature would form a block the launcher accepts, made from bytes anyone
  // can choose. A key made for this certificate alone and then thrown away
  // signs nothing else.
  payload_writer::SigningKey key = payload_writer::GenerateSigningKey();
  if (!key) return Fail(error, "no key to sign it with");
  X509Ptr cert(X509_new());
  if (!cert || !X509_set_version(cert.get(), 2)) return Fail(error, "X509_new");

  // A random positive 64-bit serial keeps certificates of different packs apart.
  BignumPtr serial(BN_new());
  IntegerPtr serialInteger;
  if (!serial || !BN_rand(serial.get(), 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) ||
      !(serialInteger = IntegerPtr(BN_to_ASN1_INTEGER(serial.get(), nullptr))) ||
      !X509_set_serialNumber(cert.get(), serialInteger.get()))
    return Fail(error, "serial number");

  X509_NAME* name = X509_get_subject_name(cert.get());
  if (!X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                  reinterpret_cast<const unsigned char*>("stubpack payload"), -1,
                                  -1, 0) ||
      !X509_set_issuer_name(cert.get(), name))
    return Fail(error, "name");
  // 99991231235959Z is the "no well-defined expiration" date of X.509.
  if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) ||
      !ASN1_TIME_set_string(X509_getm_notAfter(cert.get()), "99991231235959Z"))
    return Fail(error, "validity");
  if (!X509_set_pubkey(cert.get(), key.get())) return Fail(error, "public key");

  ObjectPtr oid(OBJ_txt2obj(PAYLOAD_EXTENSION_OID, 1));
  OctetsPtr value(ASN1_OCTET_STRING_new());
  if (!oid || !value ||
      !ASN1_OCTET_STRING_set(value.get(), region.data(), static_cast<int>(region.size())))
    return Fail(error, "extension value");
  ExtensionPtr extension(X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()));
  if (!extension || !X509_add_ext(cert.get(), extension.get(), -1)) return Fail(error, "extension");
  if (!X509_sign(cert.get(), key.get(), EVP_sha256())) return Fail(error, "signing");

  unsigned char* out = nullptr;
  int length = i2d_X509(cert.get(), &out);
  if (length <= 0) return Fail(error, "DER encoding");
  der->assign(out, out + length);
  OPENSSL_free(out);
  return true;
}

std::vector<uint8_t> CertificatePem(const std::vector<uint8_t>& der) {
  std::vector<uint8_t> out;
  const unsigned char* p = der.data();
  X509Ptr cert(d2i_X509(nullptr, &p, der.size()));
  BIO* bio = BIO_new(BIO_s_mem());
  if (cert && bio && PEM_write_bio_X509(bio, cert.get())) {
    char* data = nullptr;
    auto size = BIO_get_mem_data(bio, &data);
    if (size > 0) out.assign(data, data + size);
  }
  BIO_free(bio);
  return out;
}

bool SignedDataCarriesPayload(const uint8_t* pkcs7, uint32_t size) {
  const unsigned char* p = pkcs7;
  Pkcs7Ptr message(d2i_PKCS7(nullptr, &p, size));
  if (!message || !PKCS7_type_is_signed(message.get()) || !message->d.sign) return false;
  STACK_OF(X509)* certs = message->d.sign->cert;
  ObjectPtr oid(OBJ_txt2obj(PAYLOAD_EXTENSION_OID, 1));
  if (!oid) return false;
  for (int i = 0; i < sk_X509_num(certs); i++) {
    X509* cert = sk_X509_value(certs, i);
    for (int at = -1; (at = X509_get_ext_by_OBJ(cert, oid.get(), at)) >= 0;)
      if (!X509_EXTENSION_get_critical(X509_get_ext(cert, at))) return true;
  }
  return false;
}
