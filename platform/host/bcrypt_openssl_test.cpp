// The host platform's CNG calls keep CNG's rules: live handles of the right
// kind only, exact sizes, a well-formed RSA public blob, and only the one
// PKCS#1 v1.5 encoding of a SHA-256 digest verifies.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TestKey {
  TestKey() : key(EVP_RSA_gen(2048)) {}
  ~TestKey() { EVP_PKEY_free(key); }
  EVP_PKEY* key;

  // BCRYPT_RSAPUBLIC_BLOB of the key.
  Bytes PublicBlob() const {
    BIGNUM *n = nullptr, *e = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n);
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e);
    BCRYPT_RSAKEY_BLOB header = {BCRYPT_RSAPUBLIC_MAGIC, 2048,
                                 static_cast<ULONG>(BN_num_bytes(e)), 256, 0, 0};
    Bytes blob(sizeof header + header.cbPublicExp + 256);
    memcpy(blob.data(), &header, sizeof header);
    BN_bn2bin(e, blob.data() + sizeof header);
    BN_bn2binpad(n, blob.data() + sizeof header + header.cbPublicExp, 256);
    BN_free(n);
    BN_free(e);
    return blob;
  }

  Bytes Sign(const Bytes& digest) const {
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
    size_t size = 256;
    Bytes signature(size);
    EXPECT_TRUE(context && EVP_PKEY_sign_init(context) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1 &&
                EVP_PKEY_CTX_set_signature_md(context, EVP_sha256()) == 1 &&
                EVP_PKEY_sign(context, signature.data(), &size, digest.data(), digest.size()) == 1);
    EVP_PKEY_CTX_free(context);
    return signature;
  }
};

const TestKey& Key() {
  static TestKey key;
  return key;
}

TEST(HostBcrypt, HashHandlesLiveFromCreateToDestroy) {
  BCRYPT_ALG_HANDLE sha = nullptr, rsa = nullptr, other = &sha;
  ASSERT_EQ(BCryptOpenAlgorithmProvider(&sha, BCRYPT_SHA256_ALGORITHM, nullptr, 0), STATUS_SUCCESS);
  ASSERT_EQ(BCryptOpenAlgorithmProvider(&rsa, BCRYPT_RSA_ALGORITHM, nullptr, 0), STATUS_SUCCESS);
  EXPECT_EQ(BCryptOpenAlgorithmProvider(&other, u"MD5", nullptr, 0), STATUS_NOT_FOUND);
  EXPECT_EQ(other, nullptr);

  BCRYPT_HASH_HANDLE hash = nullptr;
  EXPECT_EQ(BCryptCreateHash(rsa, &hash, nullptr, 0, nullptr, 0, 0), STATUS_NOT_SUPPORTED);
  ASSERT_EQ(BCryptCreateHash(sha, &hash, nullptr, 0, nullptr, 0, 0), STATUS_SUCCESS);
  EXPECT_EQ(BCryptCreateHash(hash, &other, nullptr, 0, nullptr, 0, 0), STATUS_INVALID_HANDLE);
  uint8_t abc[] = {'a', 'b', 'c'};
  ASSERT_EQ(BCryptHashData(hash, abc, 1, 0), STATUS_SUCCESS);
  ASSERT_EQ(BCryptHashData(hash, nullptr, 0, 0), STATUS_SUCCESS);
  ASSERT_EQ(BCryptHashData(hash, abc + 1, 2, 0), STATUS_SUCCESS);
  Bytes out(33), want(32);
  SHA256(abc, 3, want.data());
  EXPECT_EQ(BCryptFinishHash(hash, out.data(), 33, 0), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(BCryptFinishHash(hash, out.data(), 31, 0), STATUS_INVALID_PARAMETER);
  ASSERT_EQ(BCryptFinishHash(hash, out.data(), 32, 0), STATUS_SUCCESS);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 32), want);
  // Finished: nothing more goes in or out.
  EXPECT_EQ(BCryptHashData(hash, abc, 1, 0), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptFinishHash(hash, out.data(), 32, 0), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptDestroyHash(hash), STATUS_SUCCESS);
  EXPECT_EQ(BCryptDestroyHash(hash), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptDestroyKey(sha), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptCloseAlgorithmProvider(sha, 0), STATUS_SUCCESS);
  EXPECT_EQ(BCryptCloseAlgorithmProvider(sha, 0), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptCreateHash(sha, &hash, nullptr, 0, nullptr, 0, 0), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptCloseAlgorithmProvider(rsa, 0), STATUS_SUCCESS);
}

TEST(HostBcrypt, ImportTakesOnlyAWellFormedRsaPublicBlob) {
  BCRYPT_ALG_HANDLE rsa = nullptr, sha = nullptr;
  ASSERT_EQ(BCryptOpenAlgorithmProvider(&rsa, BCRYPT_RSA_ALGORITHM, nullptr, 0), STATUS_SUCCESS);
  ASSERT_EQ(BCryptOpenAlgorithmProvider(&sha, BCRYPT_SHA256_ALGORITHM, nullptr, 0), STATUS_SUCCESS);
  const Bytes good = Key().PublicBlob();
  const size_t exponentSize = good[8], modulusAt = 24 + exponentSize;
  struct Case {
    const char* name;
    void (*change)(Bytes*, size_t modulusAt);
  };
  const Case cases[] = {
      {"magic of a private blob", [](Bytes* b, size_t) { (*b)[3] = '2'; }},
      {"primes", [](Bytes* b, size_t) { (*b)[16] = 1; }},
      {"bit length above the modulus", [](Bytes* b, size_t) { (*b)[5] = 0x09; }},
      {"modulus of fewer bits", [](Bytes* b, size_t m) { (*b)[m] = 0x7F; }},
      {"modulus even", [](Bytes* b, size_t) { b->back() &= 0xFE; }},
      {"exponent even", [](Bytes* b, size_t m) { (*b)[m - 1] &= 0xFE; }},
      {"byte missing", [](Bytes* b, size_t) { b->pop_back(); }},
      {"byte more", [](Bytes* b, size_t) { b->push_back(0); }},
      {"header only", [](Bytes* b, size_t) { b->resize(24); }},
      {"less than a header", [](Bytes* b, size_t) { b->resize(23); }},
  };
  BCRYPT_KEY_HANDLE key = nullptr;
  for (const Case& c : cases) {
    Bytes blob = good;
    c.change(&blob, modulusAt);
    EXPECT_EQ(BCryptImportKeyPair(rsa, nullptr, BCRYPT_RSAPUBLIC_BLOB, &key, blob.data(),
                                  static_cast<ULONG>(blob.size()), 0),
              STATUS_INVALID_PARAMETER)
        << c.name;
    EXPECT_EQ(key, nullptr) << c.name;
  }
  Bytes blob = good;
  EXPECT_EQ(BCryptImportKeyPair(rsa, nullptr, u"RSAPRIVATEBLOB", &key, blob.data(),
                                static_cast<ULONG>(blob.size()), 0),
            STATUS_NOT_SUPPORTED);
  EXPECT_EQ(BCryptImportKeyPair(sha, nullptr, BCRYPT_RSAPUBLIC_BLOB, &key, blob.data(),
                                static_cast<ULONG>(blob.size()), 0),
            STATUS_NOT_SUPPORTED);
  ASSERT_EQ(BCryptImportKeyPair(rsa, nullptr, BCRYPT_RSAPUBLIC_BLOB, &key, blob.data(),
                                static_cast<ULONG>(blob.size()), 0),
            STATUS_SUCCESS);
  EXPECT_EQ(BCryptDestroyKey(key), STATUS_SUCCESS);
  EXPECT_EQ(BCryptDestroyKey(key), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptCloseAlgorithmProvider(rsa, 0), STATUS_SUCCESS);
  EXPECT_EQ(BCryptCloseAlgorithmProvider(sha, 0), STATUS_SUCCESS);
}

TEST(HostBcrypt, VerifyIsPkcs1OverSha256Only) {
  BCRYPT_ALG_HANDLE rsa = nullptr;
  ASSERT_EQ(BCryptOpenAlgorithmProvider(&rsa, BCRYPT_RSA_ALGORITHM, nullptr, 0), STATUS_SUCCESS);
  Bytes blob = Key().PublicBlob();
  BCRYPT_KEY_HANDLE key = nullptr;
  ASSERT_EQ(BCryptImportKeyPair(rsa, nullptr, BCRYPT_RSAPUBLIC_BLOB, &key, blob.data(),
                                static_cast<ULONG>(blob.size()), 0),
            STATUS_SUCCESS);
  Bytes digest(32, 0x5A);
  Bytes signature = Key().Sign(digest);
  Bytes longer = signature;
  longer.push_back(0);
  Bytes aboveModulus(256, 0xFF);
  BCRYPT_PKCS1_PADDING_INFO sha256 = {BCRYPT_SHA256_ALGORITHM}, sha1 = {u"SHA1"}, none = {nullptr};
  auto verify = [&](void* padding, Bytes* hash, Bytes* sig, ULONG flags) {
    return BCryptVerifySignature(key, padding, hash->data(), static_cast<ULONG>(hash->size()),
                                 sig->data(), static_cast<ULONG>(sig->size()), flags);
  };
  EXPECT_EQ(verify(&sha256, &digest, &signature, BCRYPT_PAD_PKCS1), STATUS_SUCCESS);
  EXPECT_EQ(verify(&sha256, &digest, &longer, BCRYPT_PAD_PKCS1), STATUS_INVALID_SIGNATURE);
  EXPECT_EQ(verify(&sha256, &digest, &aboveModulus, BCRYPT_PAD_PKCS1), STATUS_INVALID_SIGNATURE);
  Bytes otherDigest = digest;
  otherDigest[31] ^= 1;
  EXPECT_EQ(verify(&sha256, &otherDigest, &signature, BCRYPT_PAD_PKCS1), STATUS_INVALID_SIGNATURE);
  Bytes shortDigest(digest.begin(), digest.end() - 1);
  EXPECT_EQ(verify(&sha256, &shortDigest, &signature, BCRYPT_PAD_PKCS1), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(verify(&sha1, &digest, &signature, BCRYPT_PAD_PKCS1), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(verify(&none, &digest, &signature, BCRYPT_PAD_PKCS1), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(verify(nullptr, &digest, &signature, BCRYPT_PAD_PKCS1), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(verify(&sha256, &digest, &signature, 0), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(BCryptVerifySignature(rsa, &sha256, digest.data(), 32, signature.data(), 256,
                                  BCRYPT_PAD_PKCS1),
            STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptDestroyKey(key), STATUS_SUCCESS);
  EXPECT_EQ(BCryptCloseAlgorithmProvider(rsa, 0), STATUS_SUCCESS);
}

}  // namespace
