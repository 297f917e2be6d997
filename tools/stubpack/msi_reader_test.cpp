// Reading what a manifest entry needs from real packages built by wixl.
#include "tools/stubpack/msi_reader.h"

#include <gtest/gtest.h>

#include "testing/stubpack_fixture.h"

namespace {

TEST(MsiReader, ReadsPropertiesTemplateAndExternalCabinets) {
  struct Expected {
    const char* msi;
    const char* code;
    const char* name;
    const char* languages;
    const char* cabinet;
  };
  const Expected samples[] = {
      {"en/demo.msi", "{5970BD6B-642E-4576-98BF-6A9F9555AB0E}", "Demo Product", "1033", "demo.cab"},
      {"de/demo.msi", "{FE8F0829-B19F-452B-A8C9-A713FF303451}", "Demo Produkt", "1031", "demo.cab"},
      {"fail/fail.msi", "{03C25956-E5B8-45FC-B811-F6050A8695A1}", "Demo Failure", "1033",
       "fail.cab"},
  };
  for (const Expected& e : samples) {
    MsiFacts facts;
    std::string error;
    ASSERT_TRUE(ReadMsiFacts(SampleDir() + "/" + e.msi, &facts, &error)) << error;
    EXPECT_EQ(facts.productCode, e.code);
    EXPECT_EQ(facts.productName, e.name);
    EXPECT_EQ(facts.platform, "x64");
    EXPECT_EQ(facts.languages, e.languages);
    EXPECT_EQ(facts.cabinets, std::vector<std::string>{e.cabinet});
  }
}

TEST(MsiReader, SkipsEmbeddedCabinetsAndReadsMultiLanguageTemplates) {
  ScratchDir dir;
  std::string msi = dir.Path("multi.msi");
  ASSERT_EQ(RunShell("cp '" + SampleDir() + "/en/demo.msi' '" + msi + "'"), 0);
  // More media: one embedded stream, two more external cabinets; DiskId 10
  // sorts after 3 as a number, before it as text.
  const std::string media =
      "DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource\r\n"
      "i2\ti4\tL64\tS255\tS32\tS72\r\n"
      "Media\tDiskId\r\n"
      "3\t9\t\tz.cab\t\t\r\n"
      "1\t2\t\tdemo.cab\t\t\r\n"
      "2\t5\t\t#inner.cab\t\t\r\n"
      "10\t12\t\ta.cab\t\t\r\n";
  WriteBytes(dir.Path("Media.idt"), std::vector<uint8_t>(media.begin(), media.end()));
  std::string output;
  ASSERT_EQ(RunShell("cd '" + dir.path +
                         "' && msibuild multi.msi -i Media.idt && "
                         "msibuild multi.msi -s 'Demo' 'Demo Publisher' 'x64;1033,1031' "
                         "'{5D35ACE1-442E-41C3-A2FE-0BED35E9A594}'",
                     &output),
            0)
      << output;
  MsiFacts facts;
  std::string error;
  ASSERT_TRUE(ReadMsiFacts(msi, &facts, &error)) << error;
  EXPECT_EQ(facts.languages, "1033,1031");
  EXPECT_EQ(facts.cabinets, (std::vector<std::string>{"demo.cab", "z.cab", "a.cab"}));  // by DiskId
}

// A pool without a code page whose bytes are all valid UTF-8 is read in 1252
// all the same, as Windows reads it: msibuild stores "Ã¶" there as C3 B6,
// which is also the UTF-8 of "ö".
TEST(MsiReader, TextWithoutCodepageIsCodepage1252EvenWhenItLooksLikeUtf8) {
  ScratchDir dir;
  std::string msi = dir.Path("p.msi");
  ASSERT_EQ(RunShell("cp '" + SampleDir() + "/en/demo.msi' '" + msi + "'"), 0);
  std::string output;
  ASSERT_EQ(RunShell("cd '" + dir.path +
                         "' && msibuild p.msi -q \"UPDATE \\`Property\\` SET \\`Value\\` = "
                         "'\u00c3\u00b6 Demo' WHERE \\`Property\\` = 'ProductName'\"",
                     &output),
            0)
      << output;
  // The sample package's pool names no code page; msibuild keeps it so.
  ASSERT_EQ(RunShell("msiinfo export '" + msi + "' _ForceCodepage | grep -q '^0\t'", &output), 0)
      << output;
  MsiFacts facts;
  std::string error;
  ASSERT_TRUE(ReadMsiFacts(msi, &facts, &error)) << error;
  EXPECT_EQ(facts.productName, "\u00c3\u00b6 Demo");
  EXPECT_TRUE(facts.neutralCodepage);
  EXPECT_TRUE(facts.nonAsciiText);
}

TEST(MsiReader, RefusesWhatIsNotAPackage) {
  ScratchDir dir;
  WriteBytes(dir.Path("x.msi"), std::vector<uint8_t>(4096, 'x'));
  MsiFacts facts;
  std::string error;
  EXPECT_FALSE(ReadMsiFacts(dir.Path("x.msi"), &facts, &error));
  EXPECT_NE(error.find(dir.Path("x.msi") + " is not a Windows Installer package"),
            std::string::npos)
      << error;
  EXPECT_FALSE(ReadMsiFacts(dir.Path("none.msi"), &facts, &error));
}

}  // namespace
