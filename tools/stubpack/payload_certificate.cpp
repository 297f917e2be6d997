#include "tools/stubpack/payload_certificate.h"

#include "payload/payload_extension.h"
#include "tools/stubpack/crypto.h"
#include "tools/stubpack/payload_writer.h"

namespace {

bool Fail(std::string* error, const std::string& what) {
  *error = "cannot make the payload certificate: " + what;
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
  // A random positive 64-bit serial keeps certificates of different packs
  // apart.
  uint8_t random[8];
  if (!crypto::RandomBytes(random, sizeof random)) return Fail(error, "serial number");
  uint64_t serial = 0;
  for (uint8_t byte : random) serial = serial << 8 | byte;
  // 99991231235959Z is the "no well-defined expiration" date of X.509.
  std::string step;
  if (!crypto::MakeSelfSignedCertificate(key.get(), "stubpack payload", serial, "99991231235959Z",
                                         PAYLOAD_EXTENSION_OID, region, der, &step))
    return Fail(error, step);
  return true;
}

std::vector<uint8_t> CertificatePem(const std::vector<uint8_t>& der) {
  return crypto::CertificatePemOf(der);
}

bool SignedDataCarriesPayload(const uint8_t* pkcs7, uint32_t size) {
  return crypto::SignedDataHasExtension(pkcs7, size, PAYLOAD_EXTENSION_OID);
}
