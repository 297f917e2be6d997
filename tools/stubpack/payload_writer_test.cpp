#include "tools/stubpack/payload_writer.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <zlib.h>

#include <string>
#include <vector>

using namespace payload_writer;

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

SigningKey& Key() {
  static SigningKey key = GenerateSigningKey();
  return key;
}

TEST(PayloadWriterTest, Utf8ToUtf16LeAcceptsValidAndRefusesMalformedText) {
  struct Case {
    std::string utf8;
    bool ok;
    Bytes utf16;
  };
  const Case cases[] = {
      {"", true, {}},
      {"A\\", true, {'A', 0, '\\', 0}},
      {"\xC3\xA9", true, {0xE9, 0x00}},                      // é
      {"\xE2\x82\xAC", true, {0xAC, 0x20}},                  // €
      {"\xF0\x9F\x98\x80", true, {0x3D, 0xD8, 0x00, 0xDE}},  // U+1F600 as a surrogate pair
      {"\xC3", false, {}},                                   // cut sequence
      {"\xE2\x82", false, {}},
      {"\x80", false, {}},              // lone continuation byte
      {"\xC0\xAF", false, {}},          // overlong
      {"\xE0\x80\xAF", false, {}},      // overlong
      {"\xED\xA0\x80", false, {}},      // surrogate
      {"\xF4\x90\x80\x80", false, {}},  // above U+10FFFF
      {"\xC3\x28", false, {}},          // bad continuation
  };
  for (const Case& c : cases) {
    Bytes out;
    EXPECT_EQ(Utf8ToUtf16Le(c.utf8, &out), c.ok) << c.utf8;
    if (c.ok) {
      EXPECT_EQ(out, c.utf16) << c.utf8;
    }
  }
}

TEST(PayloadWriterTest, ManifestEntryIsKeyLengthAndTerminatedUtf16) {
  Bytes out;
  ASSERT_TRUE(AppendManifestEntry(1001, "cab\\1000\\a.cab", &out));
  ASSERT_TRUE(AppendManifestEntry(7, "", &out));
  const std::string text = "cab\\1000\\a.cab";
  ASSERT_EQ(out.size(), 8 + 2 * (text.size() + 1) + 8 + 2);
  EXPECT_EQ(U32(out, 0), 1001u);
  EXPECT_EQ(U32(out, 4), 2 * (text.size() + 1));
  for (size_t i = 0; i < text.size(); i++) {
    EXPECT_EQ(out[8 + 2 * i], static_cast<uint8_t>(text[i]));
    EXPECT_EQ(out[9 + 2 * i], 0);
  }
  size_t second = 8 + 2 * (text.size() + 1);
  EXPECT_EQ(out[second - 2], 0);
  EXPECT_EQ(out[second - 1], 0);
  EXPECT_EQ(U32(out, second), 7u);
  EXPECT_EQ(U32(out, second + 4), 2u);
}

// Block layout: data, signature, trailer (kind, id, signature size, data
// size); the data is a zlib stream of the content and the signature a PKCS#1
// v1.5 SHA-256 signature over the content itself.
TEST(PayloadWriterTest, SignedBlockIsCompressedDataSignatureAndTrailer) {
  const Bytes content(5000, 'x');
  Bytes block;
  std::string error;
  ASSERT_TRUE(MakeSignedBlock(FILE_BLOCK_KIND_BYTES, 1000, content, Key().get(), &block, &error))
      << error;
  ASSERT_GT(block.size(), BLOCK_TRAILER_SIZE + kSignatureSize);
  const size_t trailer = block.size() - BLOCK_TRAILER_SIZE;
  EXPECT_TRUE(
      std::equal(FILE_BLOCK_KIND_BYTES, FILE_BLOCK_KIND_BYTES + 16, block.begin() + trailer));
  EXPECT_EQ(U32(block, trailer + 16), 1000u);
  EXPECT_EQ(U32(block, trailer + 20), kSignatureSize);
  const uint32_t dataSize = U32(block, trailer + 24);
  ASSERT_EQ(dataSize + kSignatureSize + BLOCK_TRAILER_SIZE, block.size());

  Bytes decoded(content.size());
  uLongf decodedSize = decoded.size();
  ASSERT_EQ(uncompress(decoded.data(), &decodedSize, block.data(), dataSize), Z_OK);
  EXPECT_EQ(decoded, content);
  EXPECT_EQ(block[0], 0x78);  // zlib header, not raw deflate or gzip

  const Bytes signature(block.begin() + dataSize, block.begin() + dataSize + kSignatureSize);
  EXPECT_EQ(signature, Sign(Key().get(), content));  // PKCS#1 v1.5 is deterministic
}

TEST(PayloadWriterTest, PublicKeyBlobHasTheLauncherLayout) {
  Bytes blob = PublicKeyBlob(Key().get());
  ASSERT_EQ(blob.size(), 276u);
  const Bytes header = {6, 2, 0, 0, 0x00, 0xA4, 0, 0, 'R', 'S', 'A', '1'};
  EXPECT_TRUE(std::equal(header.begin(), header.end(), blob.begin()));
  EXPECT_EQ(U32(blob, 12), 2048u);
  EXPECT_EQ(U32(blob, 16), 65537u);
  BIGNUM* n = nullptr;
  ASSERT_TRUE(EVP_PKEY_get_bn_param(Key().get(), "n", &n));
  Bytes modulus(256);
  BN_bn2lebinpad(n, modulus.data(), 256);
  BN_free(n);
  EXPECT_TRUE(std::equal(modulus.begin(), modulus.end(), blob.begin() + 20));
}

TEST(PayloadWriterTest, RegionIsManifestBlockThenFileBlocksInOrder) {
  Bytes region;
  std::string error;
  ASSERT_TRUE(WritePayload(
      {{1000, "x64\\1033\\{P}\\Name", Bytes(300, 1)}, {1001, "cab\\1000\\main.cab", Bytes(10, 2)}},
      Key().get(), &region, &error))
      << error;
  // Walk the trailers from the end: 1001, 1000, then the manifest at offset 0.
  std::vector<std::pair<bool, uint32_t>> seen;
  size_t end = region.size();
  while (end > 0) {
    ASSERT_GE(end, BLOCK_TRAILER_SIZE);
    size_t trailer = end - BLOCK_TRAILER_SIZE;
    seen.push_back({std::equal(MANIFEST_BLOCK_KIND_BYTES, MANIFEST_BLOCK_KIND_BYTES + 16,
                               region.begin() + trailer),
                    U32(region, trailer + 16)});
    end = trailer - U32(region, trailer + 20) - U32(region, trailer + 24);
  }
  EXPECT_EQ(seen,
            (std::vector<std::pair<bool, uint32_t>>{{false, 1001}, {false, 1000}, {true, 0}}));
}

TEST(PayloadWriterTest, RefusesDuplicateKeysAndMalformedText) {
  Bytes region = {9};
  std::string error;
  EXPECT_FALSE(WritePayload({{5, "a", {}}, {5, "b", {}}}, Key().get(), &region, &error));
  EXPECT_NE(error.find("duplicate"), std::string::npos);
  EXPECT_FALSE(WritePayload({{5, "\xFF", {}}}, Key().get(), &region, &error));
  EXPECT_EQ(region, Bytes{9});
}

TEST(PayloadWriterTest, RefusesKeysThatAreNotRsa2048) {
  std::string error;
  EXPECT_FALSE(SigningKeyFromPem("not a key", &error));
  EVP_PKEY* small = EVP_RSA_gen(1024);
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, small, nullptr, nullptr, 0, nullptr, nullptr);
  char* text = nullptr;
  long length = BIO_get_mem_data(bio, &text);
  EXPECT_FALSE(SigningKeyFromPem(std::string(text, length), &error));
  EXPECT_NE(error.find("RSA-2048"), std::string::npos);
  BIO_free(bio);
  EVP_PKEY_free(small);
}

}  // namespace
