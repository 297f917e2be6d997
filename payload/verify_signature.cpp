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

bool BeginContentDigest(ContentDigest* digest) {
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1) {
    digest->state = context;
    return true;
  }
  EVP_MD_CTX_free(context);
  digest->state = nullptr;
  return false;
}

bool AddToContentDigest(ContentDigest* digest, const uint8_t* data, uint32_t size) {
  return digest->state &&
         EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(digest->state), data, size) == 1;
}

bool FinishContentDigest(ContentDigest* digest, uint8_t out[CONTENT_DIGEST_SIZE]) {
  unsigned int size = 0;
  bool ok = digest->state &&
            EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(digest->state), out, &size) == 1 &&
            size == CONTENT_DIGEST_SIZE;
  EndContentDigest(digest);
  return ok;
}

void EndContentDigest(ContentDigest* digest) {
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(digest->state));
  digest->state = nullptr;
}

SignatureCheck VerifyDigestSignature(VerificationKey key, const uint8_t digest[CONTENT_DIGEST_SIZE],
                                     const uint8_t* signature, uint32_t signatureSize) {
  if (!key.blob) return SignatureCheck::KeyUnusable;
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
  const unsigned char* blob = key.blob;
  const std::unique_ptr<EVP_PKEY, PublicKeyDeleter> publicKey(b2i_PublicKey(&blob, key.size));
  const std::unique_ptr<RSA, RsaDeleter> rsa(publicKey ? EVP_PKEY_get1_RSA(publicKey.get())
                                                       : nullptr);
  if (!rsa) return SignatureCheck::KeyUnusable;
  return signatureSize == 256 && RSA_verify(NID_sha256, digest, CONTENT_DIGEST_SIZE, signature,
                                            signatureSize, rsa.get())
             ? SignatureCheck::Verified
             : SignatureCheck::Mismatch;
}

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
