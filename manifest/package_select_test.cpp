#include "manifest/package_select.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/manifest_builder.h"

namespace {

using manifest_test::Entry;
using manifest_test::ManifestBytes;
using manifest_test::Sources;

const std::string kLong255(255, 'N');
const std::string kLong256(256, 'N');
// 200 characters that take two bytes each in UTF-8 and one in a single-byte page.
std::string Umlauts(int count) {
  std::string text;
  for (int i = 0; i < count; i++) text += "\xC3\xB6";
  return text;
}

struct Selection {
  const char* name;
  uint32_t lcid;
  std::vector<std::vector<Entry>> sources;
  bool selected;
  uint32_t sourceIndex;
  uint32_t key;
  uint32_t lcidAfter;
  fake::CodePage codePage = fake::CodePage::Utf8;
};

std::vector<Selection> Selections() {
  return {
      {"ExactLanguageInFirstPass", 1031,
       {{{1000, "x64\\1033\\{E}\\English"}, {1001, "x64\\1031;3079\\{D}\\Deutsch"}}}, true, 0, 1001,
       1031},
      {"LowByteInSecondPass", 2055, {{{1000, "x64\\1033\\{E}\\E"}, {1001, "x64\\1031\\{D}\\D"}}},
       true, 0, 1001, 2055},
      // Pass 1 looks at every entry before pass 2 accepts by the low byte.
      {"ExactLanguageBeatsEarlierLowByte", 2055,
       {{{1000, "x64\\1031\\{D}\\D"}, {1001, "x64\\2055\\{C}\\C"}}}, true, 0, 1001, 2055},
      {"FallsBackToUsEnglish", 1041, {{{1000, "x64\\1033\\{E}\\E"}}}, true, 0, 1000, 1033},
      {"NothingFitsEvenUsEnglish", 1041, {{{1000, "x64\\1031\\{D}\\D"}}}, false, 0, 0, 1033},
      {"IntelNeverArchitectureCaseIgnored", 1033,
       {{{1000, "Intel\\1033\\{I}\\I"}, {1001, "arm64\\1033\\{A}\\A"}, {1002, "X64\\1033\\{X}\\X"}}},
       true, 0, 1002, 1033},
      {"OnlyIntel", 1033, {{{1000, "Intel\\1033\\{I}\\I"}}}, false, 0, 0, 1033},
      {"LaterSource", 1031, {{{1000, "x64\\1036\\{F}\\F"}}, {}, {{2000, "x64\\1031\\{D}\\D"}}},
       true, 2, 2000, 1031},
      {"FirstAcceptedWinsAcrossSources", 1033,
       {{{1000, "x64\\1033\\{A}\\A"}, {1001, "x64\\1033\\{B}\\B"}}, {{2000, "x64\\1033\\{C}\\C"}}},
       true, 0, 1000, 1033},
      // An accepted entry with key 0 ends its pass without a match; the
      // fallback to 1033 then finds another entry.
      {"KeyZeroIsNoMatch", 1031, {{{0, "x64\\1031\\{Z}\\Z"}, {1000, "x64\\1033\\{E}\\E"}}}, true, 0,
       1000, 1033},
      {"OnlyKeyZero", 1033, {{{0, "x64\\1033\\{Z}\\Z"}}}, false, 0, 0, 1033},
      {"ListPiecesThatAreNoNumbersAreSkipped", 1033, {{{1000, "x64\\en;;1031; 1033\\{E}\\E"}}},
       true, 0, 1000, 1033},
      {"FewerOrEmptyFieldsAreSkipped", 1033,
       {{{1000, "x64\\1033\\{E}"}, {1001, "x64\\1033\\\\Name"}, {1002, "x64\\1033\\{E}\\"},
         {1003, "x64\\1033\\{E}\\E\\ignored"}}},
       true, 0, 1003, 1033},
      // Longer fields never overrun the 255-byte buffers and are never matched
      // on a cut value: the cut language list would still hold 1033.
      {"OverlongLastField", 1033,
       {{{1000, "x64\\1033\\{L}\\" + kLong256}, {1001, "x64\\1033\\{S}\\" + kLong255}}}, true, 0,
       1001, 1033},
      {"OverlongMiddleField", 1033,
       {{{1000, "x64\\1033;" + std::string(260, '7') + "\\{L}\\L"}, {1001, "x64\\1033\\{S}\\S"}}},
       true, 0, 1001, 1033},
      // The limit counts bytes of the ANSI text, not UTF-16 units.
      {"FieldOverlongInUtf8", 1033, {{{1000, "x64\\1033\\{U}\\" + Umlauts(200)}}}, false, 0, 0,
       1033, fake::CodePage::Utf8},
      {"FieldFitsInSingleBytePage", 1033, {{{1000, "x64\\1033\\{U}\\" + Umlauts(200)}}}, true, 0,
       1000, 1033, fake::CodePage::SingleByte},
  };
}

class SelectPackageTest : public ::testing::TestWithParam<Selection> {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override { EXPECT_EQ(fake::W().memory.liveAllocations, 0u); }
};

TEST_P(SelectPackageTest, ChoosesTheFittingEntry) {
  const Selection& s = GetParam();
  fake::W().system.codePage = s.codePage;
  std::vector<std::vector<uint8_t>> manifests;
  for (const auto& entries : s.sources) manifests.push_back(ManifestBytes(entries));
  Sources sources = Sources::OfManifests(manifests);

  PackageMatch match;
  memset(&match, 0x5A, sizeof match);  // SelectPackage starts from a zeroed match
  EXPECT_EQ(SelectPackage(sources.list(), s.lcid, &match), s.selected);
  EXPECT_EQ(match.key, s.key);
  if (s.selected) {
    EXPECT_EQ(match.sourceIndex, s.sourceIndex);
  }
  EXPECT_EQ(match.lcid, s.lcidAfter);
}

INSTANTIATE_TEST_SUITE_P(Cases, SelectPackageTest, ::testing::ValuesIn(Selections()),
                         [](const ::testing::TestParamInfo<Selection>& info) {
                           return std::string(info.param.name);
                         });

TEST(MatchPackageEntryTest, FillsTheFieldsOfTheAcceptedEntry) {
  fake::Reset();
  PackageMatch match = {};
  match.lcid = 1033;
  EXPECT_EQ(MatchPackageEntry(3, 1000, "x64\\1031;1033\\{1234-AB}\\Demo Product\\x", &match), 0);
  EXPECT_EQ(match.sourceIndex, 3u);
  EXPECT_EQ(match.key, 1000u);
  EXPECT_STREQ(match.architecture, "x64");
  EXPECT_STREQ(match.languages, "1031;1033");
  EXPECT_STREQ(match.productCode, "{1234-AB}");
  EXPECT_STREQ(match.productName, "Demo Product");

  // Whole 255-byte fields are kept; the next entry that is not accepted leaves
  // the key alone and goes on with the walk.
  std::string full = "x64\\1033\\" + std::string(255, 'C') + "\\" + kLong255;
  match = {};
  match.lcid = 1033;
  EXPECT_EQ(MatchPackageEntry(0, 1001, full.c_str(), &match), 0);
  EXPECT_EQ(std::string(match.productCode), std::string(255, 'C'));
  EXPECT_EQ(std::string(match.productName), kLong255);
  match = {};
  match.mode = 1;
  match.lcid = 2055;
  EXPECT_EQ(MatchPackageEntry(0, 1002, "x64\\1032\\{G}\\G", &match), 1);
  EXPECT_EQ(match.key, 0u);
}

// In a double-byte code page 0x5C is also a trail byte: fields are split by
// character, so a name of two such characters arrives whole.
TEST(MatchPackageEntryTest, TrailByteBackslashIsNoSeparator) {
  fake::Reset();
  fake::W().system.codePage = fake::CodePage::DoubleByte;
  PackageMatch match = {};
  match.lcid = 1041;
  EXPECT_EQ(MatchPackageEntry(0, 1000, "x64\\1041\\{P}\\\x83\x5C\x95\x5C\\x", &match), 0);
  EXPECT_STREQ(match.productCode, "{P}");
  EXPECT_STREQ(match.productName, "\x83\x5C\x95\x5C");
}

}  // namespace
