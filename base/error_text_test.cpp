#include "base/error_text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake.h"

namespace {

std::string Format(uint32_t code, const char* detail, uint32_t size = 2048) {
  std::string buffer(size + 8, '#');
  int n = FormatErrorText(code, &buffer[0], size, detail);
  std::string text = buffer.c_str();
  EXPECT_EQ(n, static_cast<int>(text.size()));
  EXPECT_LT(text.size(), size);
  EXPECT_EQ(buffer.substr(size), std::string(8, '#')) << "wrote past the buffer";
  return text;
}

struct TextCase {
  const char* systemText;  // null: no system text for the code
  const char* detail;
  uint32_t size;
  const char* expected;
};

class FormatErrorTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(FormatErrorTextTest, Formats) {
  fake::Reset();
  const TextCase& c = GetParam();
  if (c.systemText) fake::W().texts.systemMessages[1921] = c.systemText;
  EXPECT_EQ(Format(1921, c.detail, c.size), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, FormatErrorTextTest,
    ::testing::Values(
        TextCase{nullptr, "1, 1921, 2406", 2048, "Error 1921 (1, 1921, 2406)."},
        TextCase{nullptr, nullptr, 2048, "Error 1921"},
        TextCase{nullptr, "", 2048, "Error 1921"},
        TextCase{"Access is denied.\r\n", nullptr, 2048, "Access is denied."},
        TextCase{"Access is denied.\r\n", "", 2048, "Access is denied."},
        TextCase{"The data is invalid.\r\n", "C:\\x\\main.msi", 2048,
                 "The data is invalid (C:\\x\\main.msi)."},
        TextCase{"Odd . \n.\r \r\n", nullptr, 2048, "Odd."},
        // All stripped away: the "Error" forms.
        TextCase{" .\r\n", nullptr, 2048, "Error 1921"},
        TextCase{"...", "d", 2048, "Error 1921 (d)."},
        // Cut at the buffer's end, always terminated.
        TextCase{"Access is denied.\r\n", "C:\\long\\path", 24, "Access is denied (C:\\lo"},
        TextCase{nullptr, "1, 1921, 2406", 12, "Error 1921 "},
        TextCase{"Access is denied.", "x", 20, "Access is denied (x"},
        TextCase{nullptr, nullptr, 1, ""}));

TEST(FormatErrorText, InsertsStayLiteral) {
  // A system text with an insert must not make FormatMessageA read arguments
  // that were never passed; the fake aborts when it would.
  fake::Reset();
  fake::W().texts.systemMessages[193] = "%1 is not a valid Win32 application.\r\n";
  EXPECT_EQ(Format(193, nullptr), "%1 is not a valid Win32 application.");
  EXPECT_TRUE(fake::W().texts.lastFormatMessageFlags & FORMAT_MESSAGE_IGNORE_INSERTS);
}

TEST(FormatErrorText, SystemTextLongerThanTheBuffer) {
  fake::Reset();
  fake::W().texts.systemMessages[5] = std::string(100, 'x') + ".";
  // Windows fails the call when the text does not fit; the fallback is used.
  EXPECT_EQ(Format(5, nullptr, 50), "Error 5");
}

}  // namespace
