// The image digest on a small PE32+ image: exactly the bytes its definition
// names count; the two skipped fields, the key section's content and
// everything after the image data do not. (Signing and packing a real launcher: tests/system/test_image_digest.sh.)
#include "tools/stubpack/image_digest.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
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

// A key section laid out so that its raw data, which the digest does not
// see, could hold something the launcher runs or loads, is refused: otherwise
// every variant of that something would share one digest.
TEST(ImageDigest, RefusesAKeySectionThatCouldHoldMoreThanAKey) {
  const uint32_t table = kPe + 24 + 240, code = table, key = table + 40;
  const uint32_t keyRva = 0x2000, directories = kPe + 24 + 112;
  auto put = [](uint32_t at, uint32_t value) {
    return [at, value](std::vector<uint8_t>& d) { PutU32(&d[at], value); };
  };
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> change;
  };
  const Case cases[] = {
      {"the code section renamed to the key section's name",
       [](std::vector<uint8_t>& d) { memcpy(&d[code], ".msikey", 8); }},
      {"an executable key section", put(key + 36, 0x60000020)},
      {"a writable key section", put(key + 36, 0xC0000040)},
      {"a key section of code", put(key + 36, 0x40000060)},
      {"raw data larger than the format",
       [](std::vector<uint8_t>& d) {
         d.resize(d.size() + 0x200);
         PutU32(&d[key + 16], 0x400);
       }},
      {"raw data smaller than the format", put(key + 16, 0x100)},
      {"raw data over the code section's", put(key + 20, 0x200)},
      {"raw data over the headers", put(key + 20, 0)},
      {"the code section's memory over the key section's", put(code + 8, 0x1800)},
      {"the entry point in the key section", put(kPe + 24 + 16, keyRva + 8)},
      {"the import directory in the key section",
       [](std::vector<uint8_t>& d) {
         PutU32(&d[directories + 8], keyRva + 0x10);
         PutU32(&d[directories + 12], 40);
       }},
      {"the base relocations reaching into the key section",
       [](std::vector<uint8_t>& d) {
         PutU32(&d[directories + 5 * 8], keyRva - 8);
         PutU32(&d[directories + 5 * 8 + 4], 16);
       }},
  };
  const std::vector<uint8_t> base = MakeTestLauncher(DevPublicKeyBlob());
  for (const Case& c : cases) {
    std::vector<uint8_t> image = base;
    c.change(image);
    ImageDigest digest;
    std::string error;
    EXPECT_FALSE(ComputeImageDigest(image, &digest, &error)) << c.name;
    EXPECT_NE(error.find("key section"), std::string::npos) << c.name << ": " << error;
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
