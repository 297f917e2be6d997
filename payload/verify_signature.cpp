// RSA_verify and EVP_PKEY_get1_RSA are deprecated in OpenSSL 3 but are the
// smallest way to do exactly this check in a statically linked launcher.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "payload/verify_signature.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <memory>

namespace {

struct PublicKeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct RsaDeleter {
  void operator()(RSA* rsa) const { RSA_free(rsa); }
};

}  // namespace

SignatureCheck VerifyBlockSignature(VerificationKey key, const uint8_t* content,
                                    uint32_t contentSize, const uint8_t* signature,
                                    uint32_t signatureSize) {
  if (!key.blob) return SignatureCheck::KeyUnusable;
  // Never read an OpenSSL configuration: one that enables only the null
  // provider would make every hash fail (the launcher's own libcrypto is also
  // built without automatic loading).
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
  const unsigned char* blob = key.blob;
  const std::unique_ptr<EVP_PKEY, PublicKeyDeleter> publicKey(b2i_PublicKey(&blob, key.size));
  const std::unique_ptr<RSA, RsaDeleter> rsa(publicKey ? EVP_PKEY_get1_RSA(publicKey.get())
                                                       : nullptr);
  if (!rsa) return SignatureCheck::KeyUnusable;
  // A digest that could not be computed is never compared, nor taken for a
  // mismatch: the block may be perfectly sound.
  unsigned char digest[SHA256_DIGEST_LENGTH] = {};
  if (SHA256(content, contentSize, digest) == nullptr) return SignatureCheck::DigestFailed;
  return signatureSize == 256 &&
                 RSA_verify(NID_sha256, digest, sizeof digest, signature, signatureSize, rsa.get())
             ? SignatureCheck::Verified
             : SignatureCheck::Mismatch;
}
