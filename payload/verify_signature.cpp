// RSA_verify and EVP_PKEY_get1_RSA are deprecated in OpenSSL 3 but are the
// smallest way to do exactly this check in a statically linked launcher.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "payload/verify_signature.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

const uint8_t* g_verificationKey = kVerificationKeyBlob;

SignatureCheck VerifyBlockSignature(const uint8_t* content, uint32_t contentSize,
                                    const uint8_t* signature, uint32_t signatureSize) {
  // Never read an OpenSSL configuration: one that enables only the null
  // provider would make every hash fail (the launcher's own libcrypto is also
  // built without automatic loading).
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
  const unsigned char* blob = g_verificationKey;
  EVP_PKEY* key = b2i_PublicKey(&blob, sizeof kVerificationKeyBlob);
  RSA* rsa = key ? EVP_PKEY_get1_RSA(key) : nullptr;
  if (!rsa) {
    EVP_PKEY_free(key);
    return SignatureCheck::KeyUnusable;
  }
  // A digest that could not be computed is never compared, nor taken for a
  // mismatch: the block may be perfectly sound.
  unsigned char digest[SHA256_DIGEST_LENGTH] = {};
  SignatureCheck check = SignatureCheck::DigestFailed;
  if (SHA256(content, contentSize, digest) != nullptr)
    check = signatureSize == 256 &&
                    RSA_verify(NID_sha256, digest, sizeof digest, signature, signatureSize, rsa)
                ? SignatureCheck::Verified
                : SignatureCheck::Mismatch;
  RSA_free(rsa);
  EVP_PKEY_free(key);
  return check;
}
