// VerifyBlockSignature and the compiled-in verification key.
#include "payload/verify_signature.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "testing/payload_fixture.h"
#include "testing/signed_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;

class VerifySignatureTest : public ::testing::Test {
 protected:
  SignatureCheck Check(const Bytes& content, const Bytes& signature,
                       VerificationKey key = kCompiledVerificationKey) {
    return VerifyBlockSignature(key, content.data(), static_cast<uint32_t>(content.size()),
                                signature.data(), static_cast<uint32_t>(signature.size()));
  }
};

// The default build compiles in the development key, as a PUBLICKEYBLOB equal
// to the one the writer derives from the private key.
TEST_F(VerifySignatureTest, CompiledInKeyIsTheDevelopmentKey) {
  Bytes blob = PublicKeyBlob(DevelopmentKey());
  EXPECT_EQ(Bytes(kVerificationKeyBlob, kVerificationKeyBlob + 276), blob);
}

TEST_F(VerifySignatureTest, Outcomes) {
  const Bytes content(1000, 0x42);
  const Bytes empty;
  const Bytes genuine = BlockSignature(DevelopmentKey(), content);
  EXPECT_EQ(Check(content, genuine), SignatureCheck::Verified);
  EXPECT_EQ(Check(empty, BlockSignature(DevelopmentKey(), empty)), SignatureCheck::Verified);
  EXPECT_EQ(Check(content, BlockSignature(StrangerKey(), content)), SignatureCheck::Mismatch);
  Bytes changed = content;
  changed[999] ^= 1;
  EXPECT_EQ(Check(changed, genuine), SignatureCheck::Mismatch);
  EXPECT_EQ(Check(content, Bytes(genuine.begin() + 1, genuine.end())), SignatureCheck::Mismatch);
  EXPECT_EQ(Check(content, {}), SignatureCheck::Mismatch);
}

// A digest libcrypto cannot compute is never compared: the outcome says so
// instead of calling the signature bad.
TEST_F(VerifySignatureTest, DigestThatCannotBeComputed) {
  const Bytes content(1000, 0x42);
  const Bytes genuine = BlockSignature(DevelopmentKey(), content);
  // No provider offers anything under this property: every fetch fails.
  ASSERT_EQ(EVP_set_default_properties(nullptr, "provider=none-such"), 1);
  SignatureCheck withoutDigest = Check(content, genuine);
  ASSERT_EQ(EVP_set_default_properties(nullptr, ""), 1);
  EXPECT_EQ(withoutDigest, SignatureCheck::DigestFailed);
  EXPECT_EQ(Check(content, genuine), SignatureCheck::Verified);
}

// Blobs that b2i_PublicKey cannot turn into an RSA key.
TEST_F(VerifySignatureTest, UnusableKeyBlobs) {
  const Bytes content(10, 1);
  const Bytes signature = BlockSignature(DevelopmentKey(), content);
  const Bytes good(kVerificationKeyBlob, kVerificationKeyBlob + 276);
  struct Case {
    const char* name;
    size_t offset;
    uint8_t value;
  };
  const Case cases[] = {
      {"blob type", 0, 7},                       // PRIVATEKEYBLOB is 7
      {"magic", 8, 'X'},                         // "RSA1"
      {"bit length beyond the blob", 13, 0x10},  // 4096 bits
  };
  for (const Case& c : cases) {
    Bytes blob = good;
    blob[c.offset] = c.value;
    EXPECT_EQ(Check(content, signature, {blob.data(), 276}), SignatureCheck::KeyUnusable)
        << c.name;
  }
  const Bytes zeros(276, 0);
  EXPECT_EQ(Check(content, signature, {zeros.data(), 276}), SignatureCheck::KeyUnusable);
  EXPECT_EQ(Check(content, signature, {good.data(), 275}), SignatureCheck::KeyUnusable);
  EXPECT_EQ(Check(content, signature, {}), SignatureCheck::KeyUnusable);
}

}  // namespace
