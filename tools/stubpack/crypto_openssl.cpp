// crypto.h over OpenSSL's libcrypto (the Linux tool).
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "tools/stubpack/crypto.h"

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
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;

// PEM text written by fn into a memory BIO; empty on failure.
template <typename Fn>
std::vector<uint8_t> PemOf(Fn fn) {
  std::vector<uint8_t> out;
  BIO* bio = BIO_new(BIO_s_mem());
  if (bio && fn(bio)) {
    char* data = nullptr;
    auto size = BIO_get_mem_data(bio, &data);
    if (size > 0) out.assign(data, data + size);
  }
  BIO_free(bio);
  return out;
}

}  // namespace

namespace crypto {

void RsaKeyFreer::operator()(RsaKey* key) const { EVP_PKEY_free(key); }

void StartCrypto() { OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr); }

bool Sha256(const std::vector<ByteRange>& ranges, uint8_t digest[32]) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
  for (size_t i = 0; ok && i < ranges.size(); i++)
    if (ranges[i].size) ok = EVP_DigestUpdate(context, ranges[i].data, ranges[i].size) == 1;
  unsigned int length = 0;
  ok = ok && EVP_DigestFinal_ex(context, digest, &length) == 1 && length == 32;
  EVP_MD_CTX_free(context);
  return ok;
}

RsaKeyPtr GenerateRsaKey(unsigned bits) { return RsaKeyPtr(EVP_RSA_gen(bits)); }

RsaKeyPtr ReadPrivateKeyPem(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  RsaKeyPtr key(bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr);
  BIO_free(bio);
  return key;
}

RsaKeyPtr ReadPublicKeyPem(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  RsaKeyPtr key(bio ? PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr) : nullptr);
  BIO_free(bio);
  if (key && EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) key.reset();
  return key;
}

bool RsaPublicNumbers(RsaKey* key, std::vector<uint8_t>* modulus, unsigned* bits,
                      uint32_t* exponent) {
  if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return false;
  BIGNUM* n = nullptr;
  BIGNUM* e = nullptr;
  bool ok = EVP_PKEY_get_bn_param(key, "n", &n) && EVP_PKEY_get_bn_param(key, "e", &e) &&
            BN_num_bits(e) <= 32;
  if (ok) {
    modulus->resize(BN_num_bytes(n));
    BN_bn2bin(n, modulus->data());
    *bits = static_cast<unsigned>(BN_num_bits(n));
    *exponent = static_cast<uint32_t>(BN_get_word(e));
  }
  BN_free(n);
  BN_free(e);
  return ok;
}

std::vector<uint8_t> PrivateKeyPem(RsaKey* key) {
  return PemOf([&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  });
}

std::vector<uint8_t> PublicKeyPem(RsaKey* key) {
  return PemOf([&](BIO* bio) { return PEM_write_bio_PUBKEY(bio, key); });
}

std::vector<uint8_t> SignSha256(RsaKey* key, const uint8_t* data, size_t size) {
  std::vector<uint8_t> signature;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  EVP_PKEY_CTX* keyContext = nullptr;
  size_t length = 0;
  if (context && EVP_DigestSignInit(context, &keyContext, EVP_sha256(), nullptr, key) == 1 &&
      EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PADDING) == 1 &&
      EVP_DigestSign(context, nullptr, &length, data, size) == 1) {
    signature.resize(length);
    if (EVP_DigestSign(context, signature.data(), &length, data, size) == 1)
      signature.resize(length);
    else
      signature.clear();
  }
  EVP_MD_CTX_free(context);
  return signature;
}

bool MakeSelfSignedCertificate(RsaKey* key, const char* commonName, uint64_t serial,
                               const char* notAfter, const char* oid,
                               const std::vector<uint8_t>& value, std::vector<uint8_t>* der,
                               std::string* step) {
  auto fail = [step](const char* what) {
    *step = what;
    return false;
  };
  X509Ptr cert(X509_new());
  if (!cert || !X509_set_version(cert.get(), 2)) return fail("X509_new");
  IntegerPtr serialInteger(ASN1_INTEGER_new());
  if (!serialInteger || !ASN1_INTEGER_set_uint64(serialInteger.get(), serial) ||
      !X509_set_serialNumber(cert.get(), serialInteger.get()))
    return fail("serial number");
  X509_NAME* name = X509_get_subject_name(cert.get());
  if (!X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                  reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0) ||
      !X509_set_issuer_name(cert.get(), name))
    return fail("name");
  if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) ||
      !ASN1_TIME_set_string(X509_getm_notAfter(cert.get()), notAfter))
    return fail("validity");
  if (!X509_set_pubkey(cert.get(), key)) return fail("public key");

  ObjectPtr object(OBJ_txt2obj(oid, 1));
  OctetsPtr octets(ASN1_OCTET_STRING_new());
  if (!object || !octets ||
      !ASN1_OCTET_STRING_set(octets.get(), value.data(), static_cast<int>(value.size())))
    return fail("extension value");
  ExtensionPtr extension(X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 0, octets.get()));
  if (!extension || !X509_add_ext(cert.get(), extension.get(), -1)) return fail("extension");
  if (!X509_sign(cert.get(), key, EVP_sha256())) return fail("signing");

  unsigned char* out = nullptr;
  int length = i2d_X509(cert.get(), &out);
  if (length <= 0) return fail("DER encoding");
  der->assign(out, out + length);
  OPENSSL_free(out);
  return true;
}

bool RandomBytes(uint8_t* out, size_t size) { return RAND_bytes(out, static_cast<int>(size)) == 1; }

std::vector<uint8_t> CertificatePemOf(const std::vector<uint8_t>& der) {
  const unsigned char* p = der.data();
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!cert) return {};
  return PemOf([&](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); });
}

bool SignedDataHasExtension(const uint8_t* pkcs7, uint32_t size, const char* oid) {
  const unsigned char* p = pkcs7;
  Pkcs7Ptr message(d2i_PKCS7(nullptr, &p, size));
  if (!message || !PKCS7_type_is_signed(message.get()) || !message->d.sign) return false;
  STACK_OF(X509)* certs = message->d.sign->cert;
  ObjectPtr object(OBJ_txt2obj(oid, 1));
  if (!object) return false;
  for (int i = 0; i < sk_X509_num(certs); i++) {
    X509* cert = sk_X509_value(certs, i);
    for (int at = -1; (at = X509_get_ext_by_OBJ(cert, object.get(), at)) >= 0;)
      if (!X509_EXTENSION_get_critical(X509_get_ext(cert, at))) return true;
  }
  return false;
}

}  // namespace crypto
