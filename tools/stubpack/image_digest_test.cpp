// The image digest on a small PE32+ image: exactly the bytes its definition
// names count; the two skipped fields, the key section's content and
// everything after the image data do not. (Signing and packing a real launcher: tests/system/test_image_digest.sh.)
#include "tools/stubpack/image_digest.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <functional>

#include "payload/little_endian.h"
#include "testing/stubpack_fixture.h"

namespace {

// The offsets the definition gives, for the test launcher (e_lfanew 0x80,
// headers to 0x200, the code section's raw data to 0x400, the key section's
// to 0x600).
const uint32_t kPe = 0x80;
const uint32_t kChecksum = kPe + 88;
const uint32_t kSecurityEntry = kPe + 168;
const uint32_t kKeySection = 0x400;
const uint32_t kImageEnd = 0x600;

std::string Digest(const std::vector<uint8_t>& image) {
  ImageDigest digest;
  std::string error;
  EXPECT_TRUE(ComputeImageDigest(image, &digest, &error)) << error;
  return DigestHex(digest);
}

TEST(ImageDigest, IsTheSha256OfTheImageDataLessChecksumAndSecurityEntry) {
  std::vector<uint8_t> image = MakeTestLauncher(DevPublicKeyBlob());
  PutU32(&image[kPe + 8], 1718900000);  // TimeDateStamp
  PutU32(&image[kChecksum], 0x12345678);
  std::vector<uint8_t> covered(image.begin(), image.begin() + kChecksum);
  covered.insert(covered.end(), image.begin() + kChecksum + 4, image.begin() + kSecurityEntry);
  covered.insert(covered.end(), image.begin() + kSecurityEntry + 8, image.begin() + kKeySection);
  covered.insert(covered.end(), kImageEnd - kKeySection, 0);  // the key section counts as zeros
  uint8_t expected[32];
  SHA256(covered.data(), covered.size(), expected);

  ImageDigest digest;
  std::string error;
  ASSERT_TRUE(ComputeImageDigest(image, &digest, &error)) << error;
  std::string hex;
  for (uint8_t byte : expected) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
  EXPECT_EQ(DigestHex(digest), hex);
  EXPECT_EQ(digest.imageEnd, kImageEnd);
  EXPECT_EQ(digest.timeStamp, 1718900000u);
}

TEST(ImageDigest, SkipsExactlyTheTwoFieldsAndWhatFollowsTheImageData) {
  const std::vector<uint8_t> base = MakeTestLauncher(DevPublicKeyBlob());
  const std::string baseDigest = Digest(base);
  auto flip = [](uint32_t at) { return [at](std::vector<uint8_t>& d) { d[at] ^= 0xFF; }; };
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> change;
    bool sameDigest;
  };
  const Case cases[] = {
      {"checksum", [](std::vector<uint8_t>& d) { PutU32(&d[kChecksum], 0xFFFFFFFF); }, true},
      {"appended payload", [](std::vector<uint8_t>& d) { d.insert(d.end(), 1001, 0x5A); }, true},
      {"certificate table and its directory entry",
       [](std::vector<uint8_t>& d) {
         const uint8_t entry[16] = {16,   0,    0,    0,    0x00, 0x02, 0x02, 0x00,
                                    0x30, 0x03, 0x02, 0x01, 0x05, 0,    0,    0};
         d.insert(d.end(), entry, entry + sizeof entry);
         PutU32(&d[kSecurityEntry], kImageEnd);
         PutU32(&d[kSecurityEntry + 4], sizeof entry);
       },
       true},
      {"a header byte", flip(2), false},
      {"the time stamp", flip(kPe + 8), false},
      {"the byte after the checksum", flip(kChecksum + 4), false},
      {"the byte before the security entry", flip(kSecurityEntry - 1), false},
      {"the byte after the security entry", flip(kSecurityEntry + 8), false},
      {"a code byte", flip(0x200), false},
      {"the last byte of the code section", flip(kKeySection - 1), false},
      // The key section's raw data counts as zeros, whatever key it holds;
      // its header in the section table counts.
      {"the key in the key section", flip(kKeySection + 100), true},
      {"the key section's format header", flip(kKeySection), true},
      {"the last byte of the key section", flip(kImageEnd - 1), true},
      {"the key section's name", flip(kPe + 24 + 240 + 40 + 1), false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = base;
    c.change(image);
    if (c.sameDigest)
      EXPECT_EQ(Digest(image), baseDigest) << c.name;
    else
      EXPECT_NE(Digest(image), baseDigest) << c.name;
  }
}

TEST(ImageDigest, RefusesWhatIsNotAPe32PlusImage) {
  std::vector<uint8_t> image = MakeTestLauncher({});
  image[kPe + 24] = 0x0B, image[kPe + 25] = 0x01;  // PE32
  ImageDigest digest;
  std::string error;
  EXPECT_FALSE(ComputeImageDigest(image, &digest, &error));
  EXPECT_NE(error.find("not a PE32+"), std::string::npos) << error;
}

}  // namespace
