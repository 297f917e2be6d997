// The key section's format: what the launcher takes from it, and what it
// refuses (every refusal leaves it without a key, so that every payload fails
// as signed with an unusable key).
#include "payload/key_section.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "testing/development_key.h"

namespace {

TEST(KeySection, ReadsTheKeyFillKeySectionWrote) {
  uint8_t section[KEY_SECTION_SIZE], blob[KEY_BLOB_SIZE] = {};
  FillKeySection(section, kDevelopmentKeyBlob);
  EXPECT_EQ(memcmp(section, "MKEY\x01\x00\x14\x01", 8), 0);  // magic, version 1, size 276
  const VerificationKey key = ReadKeySection(section, blob);
  ASSERT_EQ(key.blob, blob);
  EXPECT_EQ(key.size, KEY_BLOB_SIZE);
  EXPECT_EQ(memcmp(blob, kDevelopmentKeyBlob, KEY_BLOB_SIZE), 0);
  for (uint32_t i = KEY_SECTION_BLOB_AT + KEY_BLOB_SIZE; i < KEY_SECTION_SIZE; i++)
    ASSERT_EQ(section[i], 0) << i;
}

TEST(KeySection, AnythingButFormatOneWithAWholeKeyIsNoKey) {
  struct Case {
    const char* name;
    std::function<void(uint8_t*)> change;
  };
  const Case cases[] = {
      {"no key written", [](uint8_t* s) { FillKeySection(s, nullptr); }},
      {"all zeros", [](uint8_t* s) { memset(s, 0, KEY_SECTION_SIZE); }},
      {"another magic", [](uint8_t* s) { s[0] = 'X'; }},
      {"version 2", [](uint8_t* s) { s[KEY_SECTION_VERSION_AT] = 2; }},
      {"key size 275", [](uint8_t* s) { s[KEY_SECTION_KEY_SIZE_AT] = 0x13; }},
      {"key size 0 with a key's bytes",
       [](uint8_t* s) { s[KEY_SECTION_KEY_SIZE_AT] = 0, s[7] = 0; }},
  };
  for (const Case& c : cases) {
    uint8_t section[KEY_SECTION_SIZE], blob[KEY_BLOB_SIZE];
    FillKeySection(section, kDevelopmentKeyBlob);
    c.change(section);
    const VerificationKey key = ReadKeySection(section, blob);
    EXPECT_EQ(key.blob, nullptr) << c.name;
    EXPECT_EQ(key.size, 0u) << c.name;
  }
}

}  // namespace
