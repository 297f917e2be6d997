// The launcher from its own file to the end of package selection: which
// payloads give "no package" and which go on to the installer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launch.h"
#include "platform/fake/fake.h"
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
    fake::W().strings[100] = "Windows Installer is required.";
    fake::W().strings[101] = kText101;
    fake::W().commandLine = u"setup.exe";
  }
  void TearDown() override {
    EXPECT_EQ(fake::W().liveAllocations, 0u);
    EXPECT_TRUE(fake::W().handles.empty());
  }

  int Run(const std::vector<uint8_t>& payload) {
    InstallFakeLauncher(payload);
    return RunLauncher(reinterpret_cast<HINSTANCE>(0x400000), 1);
  }

  bool ShowedText101() const {
    for (const fake::MessageBoxCall& box : fake::W().messageBoxes)
      if (box.text == kText101) return true;
    return false;
  }
};

TEST_F(LaunchSelectionTest, PayloadWithoutAFittingPackageEndsWithText101) {
  std::vector<uint8_t> payload = MakePayload({{1000, "Intel\\1033\\{P}\\P", Bytes("MSI")},
                                              {1001, "x64\\1031\\{D}\\D", Bytes("MSI-D")}});
  fake::W().userLcid = 1041;
  EXPECT_EQ(Run(payload), 13);
  ASSERT_EQ(fake::W().messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().messageBoxes[0].text, kText101);
}

TEST_F(LaunchSelectionTest, CabinetThatCannotBeDecodedEndsWithText101) {
  std::vector<uint8_t> payload = MakePayload({{1000, "x64\\1033\\{P}\\P", Bytes("MSI")},
                                              {1001, "cab\\1000\\main.cab", Bytes("CAB")}});
  payload[payload.size() - 28 - 1] ^= 0xFF;  // the cabinet block's signature
  EXPECT_EQ(Run(payload), 13);
  ASSERT_EQ(fake::W().messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().messageBoxes[0].text, kText101);
}

// A fitting package takes the launcher past the selection (to whatever the
// later steps make of it), here through the fallback to US English.
TEST_F(LaunchSelectionTest, FittingPackageGoesPastSelection) {
  std::vector<uint8_t> payload = MakePayload({{1000, "x64\\1033\\{P}\\Product", Bytes("MSI")},
                                              {1001, "cab\\1000\\main.cab", Bytes("CAB")}});
  fake::W().userLcid = 1041;
  EXPECT_NE(Run(payload), 13);
  EXPECT_FALSE(ShowedText101());
}

}  // namespace
