// RSA_verify and EVP_PKEY_get1_RSA are deprecated in OpenSSL 3 but are the
// smallest way to do exactly this check in a statically linked launcher.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "payload/verify_signature.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

const uint8_t* g_verificationKey = kVerificationKeyBlob;

SignatureCheck VerifyBlockSignature(const uint8_t* content, uint32_t contentSize,
                                    const uint8_t* signature, uint32_t signatureSize) {
  const unsigned char* blob = g_verificationKey;
  EVP_PKEY* key = b2i_PublicKey(&blob, sizeof kVerificationKeyBlob);
  RSA* rsa = key ? EVP_PKEY_get1_RSA(key) : nullptr;
  if (!rsa) {
    EVP_PKEY_free(key);
    return SignatureCheck::KeyUnusable;
  }
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(content, contentSize, digest);
  int verified = signatureSize == 256 &&
                 RSA_verify(NID_sha256, digest, sizeof digest, signature, signatureSize, rsa);
  RSA_free(rsa);
  EVP_PKEY_free(key);
  return verified ? SignatureCheck::Verified : SignatureCheck::Mismatch;
}
