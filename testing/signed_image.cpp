#include "testing/signed_image.h"

#include <gtest/gtest.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "testing/payload_fixture.h"

namespace {

X509* NewCertificate(const std::vector<TestExtension>& extensions, uint32_t serial) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Payload Test"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509_gmtime_adj(X509_getm_notBefore(cert), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
  X509_set_pubkey(cert, DevelopmentKey());
  for (const TestExtension& e : extensions) {
    ASN1_OBJECT* oid = OBJ_txt2obj(e.oid.c_str(), 1);
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(value, e.value.data(), static_cast<int>(e.value.size()));
    X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, oid, e.critical ? 1 : 0, value);
    if (!ext || !X509_add_ext(cert, ext, -1)) ADD_FAILURE() << "extension " << e.oid;
    X509_EXTENSION_free(ext);
    ASN1_OCTET_STRING_free(value);
    ASN1_OBJECT_free(oid);
  }
  if (!X509_sign(cert, DevelopmentKey(), EVP_sha256())) ADD_FAILURE() << "X509_sign";
  return cert;
}

std::vector<uint8_t> Der(int length, unsigned char* der) {
  std::vector<uint8_t> out;
  if (length > 0) out.assign(der, der + length);
  OPENSSL_free(der);
  return out;
}

void PutU16(std::vector<uint8_t>* bytes, size_t offset, uint32_t value) {
  (*bytes)[offset] = static_cast<uint8_t>(value);
  (*bytes)[offset + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

std::vector<uint8_t> MakeCertificate(const std::vector<TestExtension>& extensions) {
  X509* cert = NewCertificate(extensions, 1);
  unsigned char* der = nullptr;
  int length = i2d_X509(cert, &der);
  X509_free(cert);
  return Der(length, der);
}

std::vector<uint8_t> MakeSignedData(const std::vector<std::vector<TestExtension>>& certificates) {
  std::vector<X509*> made;
  STACK_OF(X509)* extra = sk_X509_new_null();
  for (size_t i = 0; i < certificates.size(); i++) {
    made.push_back(NewCertificate(certificates[i], static_cast<uint32_t>(i + 1)));
    if (i > 0) sk_X509_push(extra, made.back());
  }
  static const char content[] = "signed image digest stand-in";
  BIO* in = BIO_new_mem_buf(content, sizeof content - 1);
  // The signer's certificate goes first, the others follow in order.
  PKCS7* p7 =
      made.empty() ? nullptr : PKCS7_sign(made[0], DevelopmentKey(), extra, in, PKCS7_BINARY);
  if (!made.empty() && !p7) ADD_FAILURE() << "PKCS7_sign";
  unsigned char* der = nullptr;
  int length = p7 ? i2d_PKCS7(p7, &der) : 0;
  PKCS7_free(p7);
  BIO_free(in);
  sk_X509_free(extra);
  for (X509* cert : made) X509_free(cert);
  return Der(length, der);
}

uint32_t GetU32(const std::vector<uint8_t>& bytes, size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

void PutU32(std::vector<uint8_t>* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; i++) (*bytes)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> MakePeImage(const std::vector<uint8_t>& signedData,
                                 const std::vector<uint8_t>& payload) {
  // DOS header, PE signature, file header, PE32+ optional header with 16 data
  // directories, one section header, then 512 bytes of "section" content.
  const uint32_t optional = kPeHeaderOffset + PE_OPTIONAL_HEADER;
  std::vector<uint8_t> image(kPeHeaderOffset + PE_HEADERS_SIZE + SECTION_HEADER_SIZE, 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutU32(&image, DOS_PE_OFFSET, kPeHeaderOffset);
  PutU32(&image, kPeHeaderOffset, PE_SIGNATURE);
  PutU16(&image, kPeHeaderOffset + PE_MACHINE, PE_MACHINE_AMD64);
  PutU16(&image, kPeHeaderOffset + PE_SECTION_COUNT, 1);
  PutU16(&image, kPeHeaderOffset + PE_OPTIONAL_HEADER_SIZE, OPTIONAL_HEADER_FULL_SIZE);
  PutU16(&image, optional + OPTIONAL_MAGIC, PE32_PLUS_MAGIC);
  PutU32(&image, optional + OPTIONAL_DIRECTORY_COUNT, 16);
  image.resize(1024, 0xCC);
  if (signedData.empty()) {
    image.insert(image.end(), payload.begin(), payload.end());
    return image;
  }
  uint32_t table = static_cast<uint32_t>(image.size());
  std::vector<uint8_t> entry(WIN_CERTIFICATE_HEADER_SIZE, 0);
  PutU16(&entry, WIN_CERTIFICATE_REVISION, WIN_CERTIFICATE_REVISION_2_0);
  PutU16(&entry, WIN_CERTIFICATE_TYPE, WIN_CERTIFICATE_TYPE_PKCS_SIGNED_DATA);
  entry.insert(entry.end(), signedData.begin(), signedData.end());
  entry.resize((entry.size() + 7) / 8 * 8, 0);
  entry.insert(entry.end(), payload.begin(), payload.end());
  PutU32(&entry, WIN_CERTIFICATE_LENGTH, static_cast<uint32_t>(entry.size()));
  image.insert(image.end(), entry.begin(), entry.end());
  PutU32(&image, kSecurityDirectoryField + DIRECTORY_ADDRESS, table);
  PutU32(&image, kSecurityDirectoryField + DIRECTORY_SIZE, static_cast<uint32_t>(entry.size()));
  return image;
}

uint32_t CertificateTableOffset(const std::vector<uint8_t>& image) {
  return GetU32(image, kSecurityDirectoryField + DIRECTORY_ADDRESS);
}
