#include "launcher/launch.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake.h"
#include "testing/development_key.h"

namespace {

const char* kText100 =
    "Windows Installer is required for this installation package. The Microsoft\xC2\xAE "
    "Windows\xC2\xAE Installer (MSI) is the application installation and configuration service "
    "for Windows. To continue this installation, start it again when Windows Installer is "
    "installed on your computer.";
const char* kText101 =
    "The installation file is either corrupted or does not support your processor architecture.";
const char* kModule = "C:\\Users\\Ann\\Downloads\\setup.exe";

class RunLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::W().texts.strings[100] = kText100;
    fake::W().texts.strings[101] = kText101;
    fake::W().texts.strings[102] =
        "Select a folder where you want to extract the installation files:";
    fake::W().system.modulePath = kModule;
    fake::AddFile(kModule, std::vector<uint8_t>(4096, 0x5A));  // a launcher without payload
    fake::W().system.commandLine = u"\"C:\\Users\\Ann\\Downloads\\setup.exe\"";
  }

  // Every run must leave nothing allocated, no handle open and COM balanced.
  void TearDown() override {
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_TRUE(fake::W().handles.empty());
    EXPECT_EQ(fake::W().com.initialized, 0);
  }

  void SetArguments(const std::string& arguments) {
    fake::W().system.commandLine = u"setup.exe " + fake::Utf16(arguments);
  }

  int Run() { return RunLauncher(reinterpret_cast<HINSTANCE>(0x400000), 1, kDevelopmentKey); }
};

TEST_F(RunLauncherTest, NoPayloadShowsText101WithTheFileNameAsCaption) {
  EXPECT_EQ(Run(), 1168);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text, kText101);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].caption, "setup.exe");
  EXPECT_EQ(fake::W().ui.messageBoxes[0].type, static_cast<UINT>(MB_ICONERROR | MB_OK));
}

TEST_F(RunLauncherTest, QuietSwitchesSilenceTheMessageOnly) {
  for (const char* arguments : {"/qn TRANSFORMS=x.mst", "/QUIET", "/q"}) {
    SetUp();
    SetArguments(arguments);
    EXPECT_EQ(Run(), 1168) << arguments;
    EXPECT_TRUE(fake::W().ui.messageBoxes.empty()) << arguments;
  }
  SetUp();
  SetArguments("/quiet2 -q");
  EXPECT_EQ(Run(), 1168);
  EXPECT_EQ(fake::W().ui.messageBoxes.size(), 1u);
}

TEST_F(RunLauncherTest, RestrictsDllSearchBeforeAnythingElse) {
  Run();
  EXPECT_TRUE(fake::W().system.dllSearchRestricted);
  EXPECT_EQ(fake::W().system.callsBeforeDllSearchRestricted, 0u);
  EXPECT_TRUE(fake::W().ui.commonControlsInitialized);
}

// The own file cannot be read: text 101 and the documented exit code.
struct ReadFault {
  const char* name;
  void (*arrange)();
  int exitCode;
};

class OwnFileFaultTest : public RunLauncherTest, public ::testing::WithParamInterface<ReadFault> {};

TEST_P(OwnFileFaultTest, ShowsText101) {
  GetParam().arrange();
  EXPECT_EQ(Run(), GetParam().exitCode);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text, kText101);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OwnFileFaultTest,
    ::testing::Values(
        ReadFault{"ReadFails", [] { fake::W().faults.unreadableFiles.insert(fake::Key(kModule)); },
                  30},
        ReadFault{"ShortRead", [] { fake::W().faults.shortReadFiles.insert(fake::Key(kModule)); },
                  30},
        ReadFault{"SizeFails", [] { fake::W().faults.sizeFailFiles.insert(fake::Key(kModule)); },
                  132},
        ReadFault{"Missing", [] { fake::W().files.nodes.erase(fake::Key(kModule)); },
                  ERROR_FILE_NOT_FOUND},
        // Offsets are 32-bit: a size of 4 GiB or more is refused, never cut.
        ReadFault{"FourGiBOrMore",
                  [] { fake::W().faults.over4GiBFiles.insert(fake::Key(kModule)); }, 132}),
    [](const ::testing::TestParamInfo<ReadFault>& info) { return info.param.name; });

TEST_F(RunLauncherTest, CommandLineThatCannotBeSplitGivesAComposedMessage) {
  fake::W().memory.failAllocations = {1};
  fake::W().texts.systemMessages[8] =
      "Not enough memory resources are available to process this command.\r\n";
  EXPECT_EQ(Run(), 8);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text,
            "Not enough memory resources are available to process this command (1, 8, 2411).");
  // The module path is not known yet at this point.
  EXPECT_EQ(fake::W().ui.messageBoxes[0].caption, "Loader");
}

TEST_F(RunLauncherTest, UnavailableModulePathGivesError1921CaptionedLoader) {
  fake::W().system.modulePath.reset();
  SetArguments("/passive");
  EXPECT_EQ(Run(), 1921);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text, "Error 1921 (1, 1921, 2406).");
  EXPECT_EQ(fake::W().ui.messageBoxes[0].caption, "Loader");
}

TEST_F(RunLauncherTest, UnavailableUtf16ModulePathGivesError1921) {
  fake::W().memory.failAllocations = {3};  // the UTF-16 module path
  EXPECT_EQ(Run(), 1921);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text, "Error 1921 (1, 1921, 2408).");
  EXPECT_EQ(fake::W().ui.messageBoxes[0].caption, "setup.exe");
}

TEST_F(RunLauncherTest, MissingResourceStringFallsBackToTheComposedText) {
  fake::W().texts.strings.erase(101);
  EXPECT_EQ(Run(), 1168);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text, "Error 1168 (1, 1168, 509).");
}

}  // namespace
