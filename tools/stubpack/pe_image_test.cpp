// The launcher file checks of pack: what counts as a PE32+ image with a sound
// certificate table, and the checksum it recomputes after editing.
#include "tools/stubpack/pe_image.h"

#include <gtest/gtest.h>

#include <functional>

#include "payload/little_endian.h"
#include "testing/stubpack_fixture.h"

namespace {

const uint32_t kPe = 0x80;
const uint32_t kSecurityEntry = kPe + 24 + 112 + 32;

// The test launcher with a certificate table holding a tiny DER SEQUENCE as
// its "signature" (enough for the layout checks, which do not decode it).
std::vector<uint8_t> SignedLayout() {
  std::vector<uint8_t> image = MakeTestLauncher({});
  uint32_t table = static_cast<uint32_t>(image.size());
  const uint8_t entry[16] = {16,   0,    0,    0,    0x00, 0x02, 0x02, 0x00,
                             0x30, 0x03, 0x02, 0x01, 0x05, 0,    0,    0};
  image.insert(image.end(), entry, entry + sizeof entry);
  PutU32(&image[kSecurityEntry], table);
  PutU32(&image[kSecurityEntry + 4], 16);
  return image;
}

TEST(PeImage, ReadsUnsignedAndSignedLayouts) {
  PeImage pe;
  std::string error;
  ASSERT_TRUE(ReadPeImage(MakeTestLauncher({}), &pe, &error)) << error;
  EXPECT_FALSE(pe.hasCertificateTable);
  EXPECT_EQ(pe.checksumOffset, kPe + 24 + 64);
  EXPECT_EQ(pe.securityEntryOffset, kSecurityEntry);
  EXPECT_EQ(pe.sectionDataEnd, 0x600u);

  ASSERT_TRUE(ReadPeImage(SignedLayout(), &pe, &error)) << error;
  EXPECT_TRUE(pe.hasCertificateTable);
  EXPECT_EQ(pe.tableOffset, 0x600u);
  EXPECT_EQ(pe.tableSize, 16u);
  EXPECT_EQ(pe.entryLength, 16u);
  EXPECT_EQ(pe.pkcs7Size, 5u);
}

TEST(PeImage, RefusesWhatIsNotAPe32PlusImageOrHasAMalformedTable) {
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* reason;
  };
  const Case cases[] = {
      {"no MZ", [](std::vector<uint8_t>& d) { d[0] = 'Z'; }, "no MZ"},
      {"short file", [](std::vector<uint8_t>& d) { d.resize(40); }, "no MZ"},
      {"e_lfanew past the end", [](std::vector<uint8_t>& d) { PutU32(&d[60], 0xFFFFFFF0u); },
       "no PE signature"},
      {"no PE signature", [](std::vector<uint8_t>& d) { d[kPe + 1] = 'X'; }, "no PE signature"},
      {"PE32, not PE32+", [](std::vector<uint8_t>& d) { d[kPe + 24] = 0x0B, d[kPe + 25] = 0x01; },
       "not a PE32+"},
      {"four data directories", [](std::vector<uint8_t>& d) { PutU32(&d[kPe + 24 + 108], 4); },
       "no security directory entry"},
      {"sections past the end", [](std::vector<uint8_t>& d) { d.resize(0x300); },
       "run past the end"},
      {"directory size below 8", [](std::vector<uint8_t>& d) { PutU32(&d[kSecurityEntry + 4], 4); },
       "size 4"},
      {"offset without size", [](std::vector<uint8_t>& d) { PutU32(&d[kSecurityEntry + 4], 0); },
       "size 0"},
      {"table past the end", [](std::vector<uint8_t>& d) { PutU32(&d[kSecurityEntry + 4], 24); },
       "past the end"},
      {"table overlaps the code",
       [](std::vector<uint8_t>& d) { PutU32(&d[kSecurityEntry], 0x5F8); }, "overlaps"},
      {"table not aligned",
       [](std::vector<uint8_t>& d) {
         d.insert(d.begin() + 0x600, 4, 0);
         PutU32(&d[kSecurityEntry], 0x604);
       },
       "not 8-byte aligned"},
      {"data after the table", [](std::vector<uint8_t>& d) { d.push_back(1); },
       "data follows the certificate table"},
      {"entry length below 8", [](std::vector<uint8_t>& d) { PutU32(&d[0x600], 4); },
       "entry length 4"},
      {"entry longer than the table", [](std::vector<uint8_t>& d) { PutU32(&d[0x600], 24); },
       "entry length 24"},
      {"not Authenticode", [](std::vector<uint8_t>& d) { d[0x605] = 0x01; }, "not an Authenticode"},
      {"signature not DER", [](std::vector<uint8_t>& d) { d[0x608] = 0x31; }, "not DER"},
      {"DER longer than the entry", [](std::vector<uint8_t>& d) { d[0x609] = 0x09; }, "not DER"},
      {"second entry",
       [](std::vector<uint8_t>& d) {
         PutU32(&d[0x600], 13);
         d.insert(d.end(), {8, 0, 0, 0, 0x00, 0x02, 0x02, 0x00});
         PutU32(&d[kSecurityEntry + 4], 24);
       },
       "more than one"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = SignedLayout();
    c.damage(image);
    PeImage pe;
    std::string error;
    EXPECT_FALSE(ReadPeImage(image, &pe, &error)) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
  }
}

TEST(PeImage, ChecksumSkipsItsOwnFieldAndCountsOddLengths) {
  std::vector<uint8_t> image = MakeTestLauncher({});
  PeImage pe;
  std::string error;
  ASSERT_TRUE(ReadPeImage(image, &pe, &error));
  uint32_t sum = PeChecksum(image, pe.checksumOffset);
  PutU32(&image[pe.checksumOffset], 0xDEADBEEF);
  EXPECT_EQ(PeChecksum(image, pe.checksumOffset), sum);
  // Words add with end-around carry, then the file length: a file of 0xFFFF,
  // 0x0001 and an odd trailing byte 0x02 folds to 0x0001 + 0x0002 + 5.
  std::vector<uint8_t> words = {0xFF, 0xFF, 0x01, 0x00, 0x02};
  EXPECT_EQ(PeChecksum(words, 1000), 1u + 2u + 5u);
}

}  // namespace
