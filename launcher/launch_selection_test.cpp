// The launcher from its own file to the end of package selection: which
// payloads give "no package" and which go on to the installer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launch.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"

namespace {

const char* kText101 =
    "The installation file is either corrupted or does not support your processor architecture.";

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

class LaunchSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::W().texts.strings[100] = "Windows Installer is required.";
    fake::W().texts.strings[101] = kText101;
    fake::W().system.commandLine = u"setup.exe";
  }
  void TearDown() override {
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_TRUE(fake::W().handles.empty());
  }

  int Run(const std::vector<uint8_t>& payload) {
    InstallFakeLauncher(payload);
    return RunLauncher(reinterpret_cast<HINSTANCE>(0x400000), 1, kDevelopmentKey);
  }

  bool ShowedText101() const {
    for (const fake::MessageBoxCall& box : fake::W().ui.messageBoxes)
      if (box.text == kText101) return true;
    return false;
  }
};

TEST_F(LaunchSelectionTest, PayloadWithoutAFittingPackageEndsWithText101) {
  std::vector<uint8_t> payload = MakePayload({{1000, "Intel\\1033\\{P}\\P", Bytes("MSI")},
                                              {1001, "x64\\1031\\{D}\\D", Bytes("MSI-D")}});
  fake::W().system.userLcid = 1041;
  EXPECT_EQ(Run(payload), 13);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text, kText101);
}

// A cabinet whose block does not verify is found while it is written: the
// launch ends as for any corrupted payload, with nothing of it left and the
// installer never started.
TEST_F(LaunchSelectionTest, CabinetThatCannotBeDecodedEndsWithText101) {
  fake::AddFolder("C:\\Windows\\Installer");
  fake::AddFile("C:\\Windows\\system32\\msiexec.exe", Bytes("MZ"));
  std::vector<uint8_t> payload = MakePayload({{1000, "x64\\1033\\{P}\\P", Bytes("MSI")},
                                              {1001, "cab\\1000\\main.cab", Bytes("CAB")}});
  payload[payload.size() - 28 - 1] ^= 0xFF;  // the cabinet block's signature
  EXPECT_EQ(Run(payload), 13);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text, kText101);
  EXPECT_TRUE(fake::W().process.launches.empty());
  EXPECT_FALSE(fake::Exists("C:\\Windows\\Installer\\{P}"));
}

// Names from the manifest never reach outside the product folder: a cabinet
// or a product code that is not one plain file name ends the launch as a
// corrupted payload, before anything is written or the installer runs. Here
// each would otherwise name a file that was there before the launch, which
// the failing installer's clean-up would then delete.
TEST_F(LaunchSelectionTest, NameReachingOutOfTheProductFolderEndsWithText101) {
  struct Case {
    const char* productCode;
    const char* cabinet;
    const char* victim;
  } const cases[] = {
      {"{P}", "../../../victim.txt", "C:\\victim.txt"},
      {"{P}", "..\\..\\..\\victim.txt", "C:\\victim.txt"},  // its name field reads ".."
      {"../../..", "main.cab", "C:\\main.msi"},
  };
  for (const Case& c : cases) {
    SetUp();
    fake::AddFolder("C:\\Windows\\Installer");
    fake::AddFile("C:\\Windows\\system32\\msiexec.exe", Bytes("MZ"));
    fake::AddFile(c.victim, Bytes("VICTIM"));
    fake::W().process.installer.exitCode = 1603;
    std::vector<uint8_t> payload =
        MakePayload({{1000, std::string("x64\\1033\\") + c.productCode + "\\Product", Bytes("MSI")},
                     {1001, std::string("cab\\1000\\") + c.cabinet, Bytes("CAB")}});
    EXPECT_EQ(Run(payload), 13) << c.cabinet;
    EXPECT_TRUE(ShowedText101()) << c.cabinet;
    EXPECT_TRUE(fake::W().process.launches.empty()) << c.cabinet;
    EXPECT_EQ(fake::FileData(c.victim), Bytes("VICTIM")) << c.cabinet;
    EXPECT_FALSE(fake::Exists("C:\\Windows\\Installer\\{P}")) << c.cabinet;
  }
}

// A fitting package takes the launcher past the selection (to whatever the
// later steps make of it), here through the fallback to US English.
TEST_F(LaunchSelectionTest, FittingPackageGoesPastSelection) {
  std::vector<uint8_t> payload = MakePayload({{1000, "x64\\1033\\{P}\\Product", Bytes("MSI")},
                                              {1001, "cab\\1000\\main.cab", Bytes("CAB")}});
  fake::W().system.userLcid = 1041;
  EXPECT_NE(Run(payload), 13);
  EXPECT_FALSE(ShowedText101());
}

}  // namespace
