// What stubpack needs of cryptography, done by the platform's own library:
// OpenSSL's libcrypto on Linux (crypto_openssl.cpp), the system's CNG and
// crypt32 on Windows (crypto_win32.cpp). Both write the same bytes: PEM text
// in OpenSSL's layout, DER as X.690 wants it, PKCS#1 v1.5 signatures (which
// are deterministic). Formats and rules live above this, once: the key blob
// and key checks in payload_writer.cpp, the certificate's fields in
// payload_certificate.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <openssl/evp.h>
#endif

namespace crypto {

#ifdef _WIN32
struct RsaKey;  // a CNG key pair with its numbers (crypto_win32.cpp)
#else
using RsaKey = EVP_PKEY;
#endif

struct RsaKeyFreer {
  void operator()(RsaKey* key) const;
};
using RsaKeyPtr = std::unique_ptr<RsaKey, RsaKeyFreer>;

// Readies the library. Called once, before any other function here; on Linux
// it keeps libcrypto from ever reading an OpenSSL configuration (OPENSSL_CONF,
// or the system's): one that enables only the null provider makes every hash
// fail, one with errors makes libcrypto refuse to start.
void StartCrypto();

struct ByteRange {
  const uint8_t* data;
  size_t size;
};

// SHA-256 of the concatenated ranges; false when the library cannot hash.
bool Sha256(const std::vector<ByteRange>& ranges, uint8_t digest[32]);

// A fresh RSA key of bits bits with the exponent 65537; null on failure.
RsaKeyPtr GenerateRsaKey(unsigned bits);

// The first private key in PEM text: unencrypted PKCS#8 ("PRIVATE KEY") or
// PKCS#1 ("RSA PRIVATE KEY"; on Linux every form OpenSSL reads). Null when
// there is none or it cannot be read. A key of another algorithm is returned
// too (on Windows as a key without numbers): RsaPublicNumbers refuses it.
RsaKeyPtr ReadPrivateKeyPem(const std::string& pem);

// The first public key in PEM text ("PUBLIC KEY", SubjectPublicKeyInfo) as a
// key with only its public numbers. Null when there is none, it cannot be
// read or it is not RSA.
RsaKeyPtr ReadPublicKeyPem(const std::string& pem);

// The public numbers of an RSA key: the modulus big-endian without leading
// zeros, its size in bits and the exponent. False when key is not an RSA key
// or the exponent does not fit 32 bits.
bool RsaPublicNumbers(RsaKey* key, std::vector<uint8_t>* modulus, unsigned* bits,
                      uint32_t* exponent);

// The key as PEM: the private key in PKCS#8 ("BEGIN PRIVATE KEY"), the public
// half as SubjectPublicKeyInfo ("BEGIN PUBLIC KEY"). Empty on failure.
std::vector<uint8_t> PrivateKeyPem(RsaKey* key);
std::vector<uint8_t> PublicKeyPem(RsaKey* key);

// The RSA PKCS#1 v1.5 signature of SHA-256(data), big-endian, as long as the
// modulus; empty on failure.
std::vector<uint8_t> SignSha256(RsaKey* key, const uint8_t* data, size_t size);

// A DER X.509 v3 certificate, self-signed with key (sha256WithRSAEncryption):
// subject and issuer CN=commonName (UTF8String), the positive 64-bit serial,
// valid from now until notAfter (GeneralizedTime text, "99991231235959Z"),
// and one non-critical extension oid (dotted text) with value. False with
// the step that failed in *step (a short phrase).
bool MakeSelfSignedCertificate(RsaKey* key, const char* commonName, uint64_t serial,
                               const char* notAfter, const char* oid,
                               const std::vector<uint8_t>& value, std::vector<uint8_t>* der,
                               std::string* step);

// Random bytes from the library's generator; false on failure.
bool RandomBytes(uint8_t* out, size_t size);

// A DER certificate in PEM armour ("-----BEGIN CERTIFICATE-----", 64
// characters a line); empty when der is not a certificate.
std::vector<uint8_t> CertificatePemOf(const std::vector<uint8_t>& der);

// True when a certificate inside the DER PKCS#7 SignedData carries extension
// oid (dotted text) as a non-critical extension. False also for data that is
// not SignedData.
bool SignedDataHasExtension(const uint8_t* pkcs7, uint32_t size, const char* oid);

}  // namespace crypto
