// What pack lets into a manifest entry or uses as a file name in the
// launcher's extraction folder.
#include "tools/stubpack/fields.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  std::string value;
  const char* problem;  // expected part of the refusal; null when accepted
};

void ExpectCases(const std::vector<Case>& cases, std::string (*check)(const std::string&)) {
  for (const Case& c : cases) {
    std::string problem = check(c.value);
    if (!c.problem)
      EXPECT_EQ(problem, "") << c.value;
    else
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.value << " -> " << problem;
  }
}

TEST(Fields, ManifestFieldLimitsAndSeparator) {
  ExpectCases(
      {
          {"Demo Product", nullptr},
          {std::string(255, 'a'), nullptr},
          {std::string(256, 'a'), "longer than 255"},
          // 128 two-byte characters are 256 bytes: too long for the launcher's
          // 255-byte buffer on a UTF-8 or double-byte system.
          {std::string(254, 'a') + "\xC3\xBC", "longer than 255"},
          {"Demo Produkt \xC3\xBC", nullptr},
          {"Demo\\Product", "backslash"},
          {"", "empty"},
          {"tab\there", "control character"},
          {"bad \xC3", "UTF-8"},
      },
      [](const std::string& v) { return CheckField("product name", v); });
}

// A refusal quotes the value as readable text: a long one is cut between
// characters, never inside one (here 14 whole four-byte characters of the 57
// bytes shown at most), and a control character, a null included, is shown
// as \xNN instead of cutting the printed message short.
TEST(Fields, RefusalsQuoteValuesAsReadableText) {
  std::string problem = CheckField("product name", std::string("Demo\0Prod\tuct", 13));
  EXPECT_NE(problem.find("\"Demo\\x00Prod\\x09uct\" holds a control character"),
            std::string::npos)
      << problem;
  EXPECT_EQ(problem.find('\0'), std::string::npos);

  std::string emoji = "\xF0\x9F\x98\x80", many, shown;
  for (int i = 0; i < 100; i++) many += emoji;
  for (int i = 0; i < 14; i++) shown += emoji;
  EXPECT_NE(CheckField("product name", many).find("\"" + shown + "...\""), std::string::npos)
      << CheckField("product name", many);
  EXPECT_NE(CheckFileName("cabinet name", many + ".cab").find("\"" + shown + "...\""),
            std::string::npos);
}

TEST(Fields, ProductCodeIsABracedGuid) {
  ExpectCases(
      {
          {"{5970BD6B-642E-4576-98BF-6A9F9555AB0E}", nullptr},
          {"{5970bd6b-642e-4576-98bf-6a9f9555ab0e}", nullptr},
          {"5970BD6B-642E-4576-98BF-6A9F9555AB0E", "braced GUID"},
          {"{5970BD6B-642E-4576-98BF-6A9F9555AB0}", "braced GUID"},
          {"{5970BD6B-642E-4576-98BF-6A9F9555AB0G}", "braced GUID"},
          {"{5970BD6B+642E-4576-98BF-6A9F9555AB0E}", "braced GUID"},
          {"{5970BD6B-642E-4576-98BF-6A9F9555AB0E}x", "braced GUID"},
          {"{5970BD6B\\642E-4576-98BF-6A9F9555AB0E}", "backslash"},
      },
      CheckProductCode);
}

TEST(Fields, LanguageIdsAreNumbers) {
  ExpectCases(
      {
          {"1033", nullptr},
          {"1033;1031;3079", nullptr},
          {"0", nullptr},
          {"65535", nullptr},
          {"65536", "not a number from 0 to 65535"},
          {"en-US", "\"en-US\""},
          {"1033;", "\"\""},
          {";1033", "\"\""},
          {"1033;de", "\"de\""},
          {"1033,1031", "\"1033,1031\""},  // the Template form is converted before the check
          {"-1", "\"-1\""},
          {"", "empty"},
      },
      CheckLanguages);
  EXPECT_EQ(ManifestLanguages("1033,1031"), "1033;1031");
}

TEST(Fields, FileNamesStayInsideTheExtractionFolder) {
  ExpectCases(
      {
          {"demo.cab", nullptr},
          {"Data1.CAB", nullptr},
          {"a.b.cab", nullptr},
          {"console.cab", nullptr},  // only whole device names are reserved
          {"COM10.cab", nullptr},
          {std::string(256, 'a') + ".cab", nullptr},
          {std::string(257, 'a') + ".cab", "longer than 260"},
          {"sub\\demo.cab", "path separator"},
          {"sub/demo.cab", "path separator"},
          {"..", "\"..\""},
          {"a..cab", "\"..\""},
          {"C:demo.cab", "colon"},
          {"demo.cab:stream", "colon"},
          {"CON", "device"},
          {"nul.cab", "device"},
          {"Com1.cab", "device"},
          {"LPT9", "device"},
          {"aux .cab", "device"},
          {"CONOUT$", "device"},
          {"demo.cab.", "ends with a dot"},
          {"demo.cab ", "ends with a dot or a space"},
          {"de*mo.cab", "refuses"},
          {"de\"mo.cab", "refuses"},
          {"", "empty"},
      },
      [](const std::string& v) { return CheckFileName("cabinet name", v); });
}

}  // namespace
