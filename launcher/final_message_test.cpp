#include "launcher/final_message.h"

#include <gtest/gtest.h>

#include <string>

#include "launcher/command_line.h"
#include "platform/fake/fake.h"

namespace {

struct QuietCase {
  const char* line;
  bool quiet;
};

class QuietSwitchTest : public ::testing::TestWithParam<QuietCase> {};

TEST_P(QuietSwitchTest, Detects) {
  fake::Reset();
  std::u16string line = fake::Utf16(GetParam().line);
  int argc = 0;
  WCHAR** argv = SplitCommandLine(line.c_str(), &argc);
  EXPECT_EQ(HasQuietSwitch(argv, argc), GetParam().quiet) << GetParam().line;
  LocalFree(argv);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, QuietSwitchTest,
    ::testing::Values(QuietCase{"setup.exe /q", true}, QuietCase{"setup.exe /qn", true},
                      QuietCase{"setup.exe /quiet", true}, QuietCase{"setup.exe /QUIET", true},
                      QuietCase{"setup.exe /Qn TRANSFORMS=x.mst", true},
                      QuietCase{"setup.exe TRANSFORMS=x.mst \"/qn\"", true},
                      QuietCase{"setup.exe /quiet2", false}, QuietCase{"setup.exe -q", false},
                      QuietCase{"setup.exe /qb", false}, QuietCase{"setup.exe /q/n", false},
                      QuietCase{"/qn", false},  // the program name itself never counts
                      QuietCase{"setup.exe", false}));

struct CaptionCase {
  fake::CodePage codePage;
  const char* modulePath;  // null: unavailable
  const char* caption;
};

class CaptionTest : public ::testing::TestWithParam<CaptionCase> {};

TEST_P(CaptionTest, Names) {
  fake::Reset();
  fake::W().system.codePage = GetParam().codePage;
  char caption[261];
  GetMessageCaption(GetParam().modulePath, caption, sizeof caption);
  EXPECT_STREQ(caption, GetParam().caption);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CaptionTest,
    ::testing::Values(
        CaptionCase{fake::CodePage::Utf8, "C:\\Users\\Ann\\Downloads\\setup.exe", "setup.exe"},
        CaptionCase{fake::CodePage::Utf8, "setup.exe", "setup.exe"},
        CaptionCase{fake::CodePage::Utf8, "C:\\dir\\", ""},
        CaptionCase{fake::CodePage::Utf8, nullptr, "Loader"},
        // In a double-byte code page 0x95 0x5C is one character, not a
        // backslash: the caption keeps it.
        CaptionCase{fake::CodePage::DoubleByte, "C:\\d\\\x95\x5C" "a.exe", "\x95\x5C" "a.exe"},
        CaptionCase{fake::CodePage::SingleByte, "C:\\d\\\x95\x5C" "a.exe", "a.exe"}));

TEST(ShowFinalMessage, SuccessAndNoMessageShowNothing) {
  fake::Reset();
  ShowFinalMessage(Status{0, 2349}, "", false, "C:\\setup.exe");
  ShowFinalMessage(Status{0, 0}, "text", false, "C:\\setup.exe");
  ShowFinalMessage(Status{1223, 2219}, "", true, "C:\\setup.exe");
  EXPECT_TRUE(fake::W().ui.messageBoxes.empty());
}

TEST(ShowFinalMessage, PrefilledTextOrComposedText) {
  fake::Reset();
  fake::W().texts.systemMessages[8] =
      "Not enough memory resources are available to process this command.\r\n";
  ShowFinalMessage(Status{8, 2411}, "", false, "C:\\x\\setup.exe");
  ShowFinalMessage(Status{13, 2151}, "Prefilled", false, nullptr);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 2u);
  const auto& composed = fake::W().ui.messageBoxes[0];
  EXPECT_EQ(composed.text,
            "Not enough memory resources are available to process this command (1, 8, 2411).");
  EXPECT_EQ(composed.caption, "setup.exe");
  EXPECT_EQ(composed.type, static_cast<UINT>(MB_ICONERROR | MB_OK));
  EXPECT_EQ(composed.owner, nullptr);
  EXPECT_EQ(fake::W().ui.messageBoxes[1].text, "Prefilled");
  EXPECT_EQ(fake::W().ui.messageBoxes[1].caption, "Loader");
}

}  // namespace
