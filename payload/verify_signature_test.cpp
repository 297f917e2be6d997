// VerifyBlockSignature, the content digest and the development key's
// verification key blob, on the fake platform's CNG (real RSA and SHA-256, by OpenSSL).
#include "payload/verify_signature.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <algorithm>
#include <vector>

#include "platform/fake/fake.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"
#include "testing/signed_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sha256(const Bytes& content) {
  Bytes digest(SHA256_DIGEST_LENGTH);
  SHA256(content.data(), content.size(), digest.data());
  return digest;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// key's PKCS#1 v1.5 signature (type 1 padding) of exactly these bytes, with
// no DigestInfo added: the way to sign encodings the launcher must refuse.
Bytes RawSignature(EVP_PKEY* key, const Bytes& encoded) {
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
  size_t size = 0;
  Bytes signature;
  if (context && EVP_PKEY_sign_init(context) == 1 &&
      EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1 &&
      EVP_PKEY_sign(context, nullptr, &size, encoded.data(), encoded.size()) == 1) {
    signature.resize(size);
    if (EVP_PKEY_sign(context, signature.data(), &size, encoded.data(), encoded.size()) != 1)
      signature.clear();
  }
  EVP_PKEY_CTX_free(context);
  EXPECT_EQ(signature.size(), 256u) << "no raw signature";
  return signature;
}

// key's PKCS#1 v1.5 signature of content with the digest md.
Bytes DigestSignature(EVP_PKEY* key, const EVP_MD* md, const Bytes& content) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  size_t size = 0;
  Bytes signature;
  if (context && EVP_DigestSignInit(context, nullptr, md, nullptr, key) == 1 &&
      EVP_DigestSign(context, nullptr, &size, content.data(), content.size()) == 1) {
    signature.resize(size);
    if (EVP_DigestSign(context, signature.data(), &size, content.data(), content.size()) != 1)
      signature.clear();
  }
  EVP_MD_CTX_free(context);
  EXPECT_EQ(signature.size(), 256u) << "no signature";
  return signature;
}

// DigestInfo prefixes of SHA-256: as it must be, and without the NULL
// parameter of its AlgorithmIdentifier.
const Bytes kDigestInfo = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                           0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
const Bytes kDigestInfoWithoutNull = {0x30, 0x2f, 0x30, 0x0b, 0x06, 0x09, 0x60, 0x86, 0x48,
                                      0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x04, 0x20};

class VerifySignatureTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  // Every path releases what it took from the system.
  void TearDown() override {
    EXPECT_EQ(fake::W().bcrypt.openProviders, 0);
    EXPECT_EQ(fake::W().bcrypt.openHashes, 0);
    EXPECT_EQ(fake::W().bcrypt.openKeys, 0);
  }

  SignatureCheck Check(const Bytes& content, const Bytes& signature,
                       VerificationKey key = kDevelopmentKey) {
    return VerifyBlockSignature(key, content.data(), static_cast<uint32_t>(content.size()),
                                signature.data(), static_cast<uint32_t>(signature.size()));
  }

  // The digest of content added in slices of sliceSize bytes; empty when a
  // call fails.
  Bytes SlicedDigest(const Bytes& content, size_t sliceSize) {
    ContentDigest digest = {};
    if (!BeginContentDigest(&digest)) return {};
    for (size_t at = 0; at < content.size(); at += sliceSize) {
      const size_t n = std::min(sliceSize, content.size() - at);
      if (!AddToContentDigest(&digest, content.data() + at, static_cast<uint32_t>(n))) {
        EndContentDigest(&digest);
        return {};
      }
    }
    Bytes out(CONTENT_DIGEST_SIZE);
    if (!FinishContentDigest(&digest, out.data())) return {};
    return out;
  }
};

// The default build compiles in the development key, as a PUBLICKEYBLOB equal
// to the one the writer derives from the private key.
TEST_F(VerifySignatureTest, CompiledInKeyIsTheDevelopmentKey) {
  Bytes blob = PublicKeyBlob(DevelopmentKey());
  EXPECT_EQ(Bytes(kDevelopmentKeyBlob, kDevelopmentKeyBlob + 276), blob);
}

// Only the one encoding of the development key's signature over the SHA-256
// of the very content is accepted.
TEST_F(VerifySignatureTest, Outcomes) {
  const Bytes content(1000, 0x42);
  const Bytes empty;
  const Bytes genuine = BlockSignature(DevelopmentKey(), content);
  const Bytes digest = Sha256(content);
  EXPECT_EQ(Check(content, genuine), SignatureCheck::Verified);
  EXPECT_EQ(Check(content, RawSignature(DevelopmentKey(), Cat(kDigestInfo, digest))),
            SignatureCheck::Verified);
  EXPECT_EQ(Check(empty, BlockSignature(DevelopmentKey(), empty)), SignatureCheck::Verified);

  Bytes changed = content;
  changed[999] ^= 1;
  Bytes longer = genuine;
  longer.push_back(0);
  struct Case {
    const char* name;
    Bytes content;
    Bytes signature;
  };
  const Case refused[] = {
      {"another key", content, BlockSignature(StrangerKey(), content)},
      {"a changed content byte", changed, genuine},
      {"DigestInfo without its NULL parameter", content,
       RawSignature(DevelopmentKey(), Cat(kDigestInfoWithoutNull, digest))},
      {"a bare digest", content, RawSignature(DevelopmentKey(), digest)},
      {"SHA-1", content, DigestSignature(DevelopmentKey(), EVP_sha1(), content)},
      {"SHA-512", content, DigestSignature(DevelopmentKey(), EVP_sha512(), content)},
      {"a trailing byte", content, longer},
      {"one byte short", content, Bytes(genuine.begin() + 1, genuine.end())},
      {"zeros", content, Bytes(256, 0)},
      {"none", content, {}},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(Check(c.content, c.signature), SignatureCheck::Mismatch) << c.name;
    EXPECT_EQ(VerifyDigestSignature(kDevelopmentKey, Sha256(c.content).data(),
                                    c.signature.data(), static_cast<uint32_t>(c.signature.size())),
              SignatureCheck::Mismatch)
        << c.name;
  }
}

// A digest fed in slices of any size is the digest of the whole, and its
// signature check is the block's.
TEST_F(VerifySignatureTest, DigestInSlices) {
  Bytes content(100000);
  for (size_t i = 0; i < content.size(); i++) content[i] = static_cast<uint8_t>(i * 31 / 7);
  const Bytes whole = Sha256(content);
  for (size_t slice : {size_t{1}, size_t{7}, size_t{4096}, size_t{65536}, content.size()})
    EXPECT_EQ(SlicedDigest(content, slice), whole) << slice;
  EXPECT_EQ(SlicedDigest({}, 1), Sha256({}));

  const Bytes sliced = SlicedDigest(content, 1000);
  const Bytes genuine = BlockSignature(DevelopmentKey(), content);
  ASSERT_EQ(sliced.size(), CONTENT_DIGEST_SIZE);
  EXPECT_EQ(VerifyDigestSignature(kDevelopmentKey, sliced.data(), genuine.data(), 256),
            SignatureCheck::Verified);

  // Ending is safe on a zeroed, a begun and an ended digest.
  ContentDigest digest = {};
  EndContentDigest(&digest);
  ASSERT_TRUE(BeginContentDigest(&digest));
  EndContentDigest(&digest);
  EndContentDigest(&digest);
  EXPECT_EQ(digest.state, nullptr);
  EXPECT_FALSE(AddToContentDigest(&digest, content.data(), 1));
  uint8_t out[CONTENT_DIGEST_SIZE];
  EXPECT_FALSE(FinishContentDigest(&digest, out));
}

// What the system fails at decides the outcome: no SHA-256 is DigestFailed
// (nothing was compared), no RSA key is KeyUnusable; never a mismatch.
TEST_F(VerifySignatureTest, SystemFailures) {
  const Bytes content(1000, 0x42);
  const Bytes genuine = BlockSignature(DevelopmentKey(), content);
  struct Case {
    const char* name;
    void (*plant)(fake::BcryptState*);
    SignatureCheck want;
  };
  const Case cases[] = {
      {"no SHA-256 provider",
       [](fake::BcryptState* b) { b->failOpen[u"SHA256"] = STATUS_NOT_FOUND; },
       SignatureCheck::DigestFailed},
      {"no hash", [](fake::BcryptState* b) { b->failCreateHash = STATUS_NO_MEMORY; },
       SignatureCheck::DigestFailed},
      {"hashing fails", [](fake::BcryptState* b) { b->failHashData[0] = STATUS_UNSUCCESSFUL; },
       SignatureCheck::DigestFailed},
      {"finishing fails", [](fake::BcryptState* b) { b->failFinishHash = STATUS_NO_MEMORY; },
       SignatureCheck::DigestFailed},
      {"no RSA provider", [](fake::BcryptState* b) { b->failOpen[u"RSA"] = STATUS_NOT_FOUND; },
       SignatureCheck::KeyUnusable},
      {"import fails", [](fake::BcryptState* b) { b->failImport = STATUS_NO_MEMORY; },
       SignatureCheck::KeyUnusable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    c.plant(&fake::W().bcrypt);
    EXPECT_EQ(Check(content, genuine), c.want);
    EXPECT_EQ(fake::W().bcrypt.openProviders, 0);
    EXPECT_EQ(fake::W().bcrypt.openHashes, 0);
    EXPECT_EQ(fake::W().bcrypt.openKeys, 0);
  }
  fake::Reset();
  EXPECT_EQ(Check(content, genuine), SignatureCheck::Verified);

  // A slice that cannot be added fails the digest, which is then ended.
  fake::W().bcrypt.failHashData[2] = STATUS_UNSUCCESSFUL;
  EXPECT_TRUE(SlicedDigest(content, 100).empty());
  fake::Reset();
  fake::W().bcrypt.failOpen[u"SHA256"] = STATUS_NOT_FOUND;
  ContentDigest digest = {};
  EXPECT_FALSE(BeginContentDigest(&digest));
  EXPECT_EQ(digest.state, nullptr);
}

// Blobs that are not an RSA-2048 PUBLICKEYBLOB the launcher can vouch for:
// refused before the system is asked to import anything.
TEST_F(VerifySignatureTest, UnusableKeyBlobs) {
  const Bytes content(10, 1);
  const Bytes signature = BlockSignature(DevelopmentKey(), content);
  const Bytes good(kDevelopmentKeyBlob, kDevelopmentKeyBlob + 276);
  struct Case {
    const char* name;
    size_t offset;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"blob type", 0, {7}},                         // PRIVATEKEYBLOB
      {"version", 1, {3}},                           //
      {"reserved", 2, {1}},                          //
      {"algorithm", 4, {0x00, 0x66}},                // CALG_AES_128... not RSA
      {"magic", 8, {'R', 'S', 'A', '2'}},            // a private key's
      {"bit length 4096", 12, {0x00, 0x10}},         //
      {"bit length 2047", 12, {0xFF, 0x07}},         //
      {"exponent even", 16, {0x00, 0x00, 0x01, 0}},  // 65536
      {"exponent 1", 16, {0x01, 0x00, 0x00, 0}},     //
      {"exponent 0", 16, {0x00, 0x00, 0x00, 0}},     //
      {"modulus even", 20, {0x00}},                  //
      {"modulus below 2047 bits", 275, {0x7F}},      //
  };
  for (const Case& c : cases) {
    Bytes blob = good;
    std::copy(c.bytes.begin(), c.bytes.end(), blob.begin() + c.offset);
    EXPECT_EQ(Check(content, signature, {blob.data(), 276}), SignatureCheck::KeyUnusable)
        << c.name;
  }
  const Bytes zeros(276, 0);
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_EQ(Check(content, signature, {zeros.data(), 276}), SignatureCheck::KeyUnusable);
  EXPECT_EQ(Check(content, signature, {good.data(), 275}), SignatureCheck::KeyUnusable);
  EXPECT_EQ(Check(content, signature, {longer.data(), 277}), SignatureCheck::KeyUnusable);
  EXPECT_EQ(Check(content, signature, {}), SignatureCheck::KeyUnusable);
  EXPECT_EQ(fake::W().bcrypt.importCalls, 0u);

  // A key for signatures only (CALG_RSA_SIGN) is the same key.
  Bytes signOnly = good;
  signOnly[5] = 0x24;
  EXPECT_EQ(Check(content, signature, {signOnly.data(), 276}), SignatureCheck::Verified);
}

}  // namespace
