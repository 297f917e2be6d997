#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake.h"

namespace {

std::vector<std::string> Split(const std::string& line, size_t* blockBytes = nullptr) {
  std::u16string wide = fake::Utf16(line);
  int argc = -1;
  uint32_t before = fake::W().memory.liveAllocations;
  WCHAR** argv = SplitCommandLine(wide.c_str(), &argc);
  EXPECT_NE(argv, nullptr);
  EXPECT_EQ(fake::W().memory.liveAllocations, before + 1);
  std::vector<std::string> out;
  for (int i = 0; i < argc; i++) out.push_back(fake::Utf8(argv[i]));
  EXPECT_EQ(argv[argc], nullptr);
  (void)blockBytes;
  LocalFree(argv);
  return out;
}

using Args = std::vector<std::string>;

struct SplitCase {
  const char* line;
  Args args;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {
 protected:
  void SetUp() override { fake::Reset(); }
};

TEST_P(SplitCommandLineTest, Splits) { EXPECT_EQ(Split(GetParam().line), GetParam().args); }

INSTANTIATE_TEST_SUITE_P(
    Rules, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{"setup.exe  /i  \"C:\\My Files\\x.msi\"", {"setup.exe", "/i", "C:\\My Files\\x.msi"}},
        SplitCase{"a\"\"b", {"ab"}},
        SplitCase{"\"\"", {""}},
        SplitCase{"x \"\" y", {"x", "", "y"}},
        SplitCase{"x \"y z", {"x", "y z"}},
        SplitCase{" \t\r\n ", {}},
        SplitCase{"", {}},
        SplitCase{"\"a\"b\"c d\"", {"abc d"}},
        SplitCase{"a\\\"b c\\\"", {"a\\b c\\"}},  // backslashes are ordinary
        SplitCase{"INSTALLDIR=\"C:\\Program Files\\X\" /qn",
                  {"INSTALLDIR=C:\\Program Files\\X", "/qn"}},
        SplitCase{"a\tb\rc\nd", {"a", "b", "c", "d"}},
        SplitCase{"\"tab\tinside\"", {"tab\tinside"}},
        SplitCase{"a b c d e f g h i j", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},
        SplitCase{"\"\" \"\" \"\"", {"", "", ""}},
        SplitCase{"ü \"€ x\"", {"ü", "€ x"}}));

TEST(SplitCommandLine, WorstCasesStayInsideTheBlock) {
  // The densest argument lists for their length; the fake's allocator makes
  // the block exactly as large as asked, so any overrun shows under ASan and
  // as a wrong result here.
  fake::Reset();
  for (const char* line : {"a", "\"", "\"\"", "a ", " a", "a b", "\"\" \"\"", "\"\"\"\"\"\"",
                           "a\"\" b\"\"", "a b c d e f g"}) {
    Args args = Split(line);
    EXPECT_LE(args.size(), (std::string(line).size() + 1) / 2 + 1) << line;
  }
}

TEST(SplitCommandLine, AllocationFailureReturnsNullWithLastError) {
  fake::Reset();
  fake::W().memory.failAllocations = {1};
  int argc = 7;
  std::u16string line = u"a b";
  EXPECT_EQ(SplitCommandLine(line.c_str(), &argc), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
}

TEST(GetModulePath, ShortAndLongPaths) {
  for (size_t length : {10u, 259u, 260u, 261u, 323u, 324u, 325u, 1000u}) {
    fake::Reset();
    std::string path = "C:\\" + std::string(length - 3, 'p');
    fake::W().system.modulePath = path;
    char* got = GetModulePath();
    ASSERT_NE(got, nullptr) << length;
    EXPECT_EQ(std::string(got), path) << length;
    LocalFree(got);
    WCHAR* wide = GetModulePathW();
    ASSERT_NE(wide, nullptr) << length;
    EXPECT_EQ(std::u16string(wide), fake::Utf16(path)) << length;
    LocalFree(wide);
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
  }
}

// The UTF-16 path is whole where the ANSI code page cannot hold a letter; the
// ANSI one, which only names message boxes, has '?' there.
TEST(GetModulePath, Utf16PathKeepsWhatTheCodePageCannotHold) {
  fake::Reset();
  fake::W().system.codePage = fake::CodePage::SingleByte;
  const std::string path = "C:\\Пётр\\setup.exe";
  fake::W().system.modulePath = path;
  char* ansi = GetModulePath();
  ASSERT_NE(ansi, nullptr);
  EXPECT_STREQ(ansi, "C:\\????\\setup.exe");
  LocalFree(ansi);
  WCHAR* wide = GetModulePathW();
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::u16string(wide), fake::Utf16(path));
  LocalFree(wide);
}

TEST(GetModulePath, FailsWhenTheSystemOrMemoryFails) {
  for (auto get : {+[] { return static_cast<void*>(GetModulePath()); },
                   +[] { return static_cast<void*>(GetModulePathW()); }}) {
    fake::Reset();
    fake::W().system.modulePath.reset();
    EXPECT_EQ(get(), nullptr);
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);

    fake::Reset();
    fake::W().system.modulePath = "C:\\" + std::string(400, 'p');
    fake::W().memory.failAllocations = {2};  // the grown buffer
    EXPECT_EQ(get(), nullptr);
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
  }
}

}  // namespace
