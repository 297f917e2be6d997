#include "testing/signed_blocks.h"

#include <gtest/gtest.h>

#include "testing/payload_fixture.h"
#include "tools/stubpack/payload_writer.h"

std::vector<uint8_t> ZlibStream(const std::vector<uint8_t>& content) {
  return payload_writer::Compress(content);
}

std::vector<uint8_t> BlockSignature(EVP_PKEY* key, const std::vector<uint8_t>& content) {
  return payload_writer::Sign(key, content);
}

std::vector<uint8_t> TrailerBytes(const uint8_t* kind, uint32_t id, uint32_t signatureSize,
                                  uint32_t dataSize) {
  return payload_writer::MakeTrailer(kind, id, signatureSize, dataSize);
}

std::vector<uint8_t> RawBlock(const uint8_t* kind, uint32_t id, const std::vector<uint8_t>& data,
                              const std::vector<uint8_t>& signature) {
  return payload_writer::MakeBlock(kind, id, data, signature);
}

std::vector<uint8_t> SignedBlock(const uint8_t* kind, uint32_t id,
                                 const std::vector<uint8_t>& content) {
  std::vector<uint8_t> block;
  std::string error;
  EXPECT_TRUE(payload_writer::MakeSignedBlock(kind, id, content, DevelopmentKey(), &block, &error))
      << error;
  return block;
}

std::vector<uint8_t> ManifestEntry(uint32_t key, const std::string& textUtf8) {
  std::vector<uint8_t> entry;
  EXPECT_TRUE(payload_writer::AppendManifestEntry(key, textUtf8, &entry)) << textUtf8;
  return entry;
}

std::vector<uint8_t> PublicKeyBlob(EVP_PKEY* key) { return payload_writer::PublicKeyBlob(key); }
