// The whole launcher on the fake platform, from its own file to its exit
// code, seen from the installer's side: how msiexec.exe is found and
// started, what its exit code makes of the launch, and what stays on disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launch.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"

namespace {

const char* kText100 = "Windows Installer is required for this installation package.";
const char* kMsiexec = "C:\\Windows\\system32\\msiexec.exe";
const char* kProduct = "{1D8E6291-B0D5-35EC-8441-6616F567A0F7}";
const std::string kFolder = std::string("C:\\Windows\\Installer\\") + kProduct;
const std::string kPackage = kFolder + "\\main.msi";
const std::string kCabinet = kFolder + "\\data.cab";

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

class LaunchInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::W().texts.strings[100] = kText100;
    fake::W().texts.strings[101] = "The installation file is either corrupted.";
    fake::W().texts.strings[102] = "Select a folder:";
    fake::W().texts.systemMessages[5] = "Access is denied.\r\n";
    fake::W().texts.systemMessages[206] = "The filename or extension is too long.\r\n";
    fake::AddFolder("C:\\Windows\\Installer");
    fake::AddFile(kMsiexec, Bytes("MZ"));
    InstallFakeLauncher(
        MakePayload({{1000, std::string("x64\\1033\\") + kProduct + "\\Product", Bytes("MSI")},
                     {1001, "cab\\1000\\data.cab", Bytes("CABINET")}}));
  }
  void TearDown() override {
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_TRUE(fake::W().handles.empty());
  }

  int Run(const std::string& arguments, int showCmd = 1) {
    fake::W().system.commandLine =
        u"\"C:\\Users\\Ann\\Downloads\\setup.exe\" " + fake::Utf16(arguments);
    return RunLauncher(reinterpret_cast<HINSTANCE>(0x400000), showCmd, kDevelopmentKey);
  }

  void ScriptInstaller(DWORD exitCode, bool registers) {
    fake::W().process.installer.exitCode = exitCode;
    fake::W().process.installer.registersProduct = registers ? kProduct : "";
  }

  static bool Extracted() { return fake::Exists(kPackage) && fake::Exists(kCabinet); }
  static bool NothingExtracted() {
    return !fake::Exists(kPackage) && !fake::Exists(kCabinet) && !fake::Exists(kFolder);
  }
};

TEST_F(LaunchInstallerTest, RunsMsiexecOnTheWrittenPackageWithEveryArgument) {
  ScriptInstaller(0, true);
  std::vector<uint8_t> packageSeen, cabinetSeen;
  fake::W().process.installer.onRun = [&](const fake::ProcessLaunch&) {
    packageSeen = fake::FileData(kPackage);
    cabinetSeen = fake::FileData(kCabinet);
  };
  EXPECT_EQ(Run("/qn INSTALLDIR=\"C:\\Program Files\\X\"", 3), 0);
  ASSERT_EQ(fake::W().process.launches.size(), 1u);
  const fake::ProcessLaunch& launch = fake::W().process.launches[0];
  EXPECT_EQ(launch.application, kMsiexec);
  EXPECT_EQ(launch.commandLine,
            std::string(kMsiexec) + " /i " + kPackage + " /qn \"INSTALLDIR=C:\\Program Files\\X\"");
  EXPECT_EQ(launch.showWindow, 3);
  EXPECT_EQ(packageSeen, Bytes("MSI"));
  EXPECT_EQ(cabinetSeen, Bytes("CABINET"));
  EXPECT_TRUE(fake::W().ui.messageBoxes.empty());
}

// On a single-byte (Western) code page a full-width quotation mark would
// become '"' by best fit and end the quoted stretch, handing msiexec a switch
// of its own; letters the page cannot hold would become '?'. The installer's
// command line is UTF-16 from the arguments as split, so neither happens.
TEST_F(LaunchInstallerTest, ArgumentsOutsideTheCodePageReachMsiexecAsTyped) {
  fake::W().system.codePage = fake::CodePage::SingleByte;
  ScriptInstaller(0, true);
  const std::string property = "\"P=＂ /l*v C:\\x.log ＂\"";  // U+FF02, the full-width "
  const std::string folder = "INSTALLDIR=C:\\Про\\Demo";
  EXPECT_EQ(Run("/qn " + property + " " + folder), 0);
  ASSERT_EQ(fake::W().process.launches.size(), 1u);
  EXPECT_EQ(
      fake::W().process.launches[0].wideCommandLine,
      fake::Utf16(std::string(kMsiexec) + " /i " + kPackage + " /qn " + property + " " + folder));
}

// A launcher stored in C:\Пётр on a Western code page: its ANSI path
// holds '?' where the letters were, so it must open its own file by the
// UTF-16 path.
TEST_F(LaunchInstallerTest, LauncherInAFolderTheCodePageCannotNameReadsItselfAndInstalls) {
  fake::W().system.codePage = fake::CodePage::SingleByte;
  fake::W().system.modulePath = "C:\\Пётр\\setup.exe";
  InstallFakeLauncher(
      MakePayload({{1000, std::string("x64\\1033\\") + kProduct + "\\Product", Bytes("MSI")},
                   {1001, "cab\\1000\\data.cab", Bytes("CABINET")}}));
  ScriptInstaller(0, true);
  EXPECT_EQ(Run("/qn"), 0);
  EXPECT_EQ(fake::W().process.installerRuns, 1u);
  EXPECT_EQ(fake::FileData(kPackage), Bytes("MSI"));
}

// The installer's exit code is the launcher's, silently; the files stay when
// the product is registered or the installer succeeded.
TEST_F(LaunchInstallerTest, ExitCodeAndRegistrationDecideWhatStays) {
  struct Case {
    const char* name;
    DWORD exitCode;
    bool registers;
    bool filesStay;
  } const cases[] = {
      {"installed", 0, true, true},
      {"failed", 1603, false, false},
      {"succeeded without registering", 0, false, true},
      {"cancelled by the user", 1602, false, false},
      {"restart required", 3010, true, true},
  };
  for (const Case& c : cases) {
    SetUp();
    ScriptInstaller(c.exitCode, c.registers);
    EXPECT_EQ(Run("/passive"), static_cast<int>(c.exitCode)) << c.name;
    EXPECT_EQ(Extracted(), c.filesStay) << c.name;
    EXPECT_EQ(fake::IsFolder(kFolder), c.filesStay) << c.name;
    EXPECT_TRUE(fake::W().ui.messageBoxes.empty()) << c.name;
    TearDown();
  }
}

// Cancel while writing: the installer never runs and no file this run made
// stays, also for a product that is registered already (a repair, say),
// whose files the clean-up otherwise keeps: the one cut short by the failed
// write and the one created but not yet written hold no verified content.
// The folder was there before the run (it held the old cabinet), so it is
// not this run's to remove and stays either way.
TEST_F(LaunchInstallerTest, CancelWhileWritingLeavesNoUnfinishedFile) {
  for (bool registered : {false, true}) {
    SetUp();
    fake::AddFile(kCabinet, Bytes("OLD CABINET"));  // not opened, not written
    if (registered) {
      fake::SetRegistryString(
          HKEY_LOCAL_MACHINE,
          std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kProduct,
          "UninstallString", "MsiExec.exe /X");
    }
    fake::W().faults.diskSpace = 1;
    fake::W().ui.messageBoxAnswers = {IDCANCEL};
    EXPECT_EQ(Run(""), ERROR_WRITE_FAULT);
    EXPECT_TRUE(fake::W().process.launches.empty());
    EXPECT_EQ(fake::W().ui.messageBoxes.size(), 1u);  // the Retry/Cancel question only
    EXPECT_FALSE(fake::Exists(kPackage));
    EXPECT_FALSE(fake::Exists(kCabinet));
    EXPECT_TRUE(fake::IsFolder(kFolder));
    TearDown();
  }
}

TEST_F(LaunchInstallerTest, InstallerThatCannotStartShowsTheSystemTextWithItsPath) {
  fake::W().process.installer.startError = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Run("/passive"), ERROR_ACCESS_DENIED);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text,
            "Access is denied (C:\\Windows\\system32\\msiexec.exe).");
  EXPECT_EQ(fake::W().ui.messageBoxes[0].caption, "setup.exe");
  EXPECT_TRUE(NothingExtracted());
}

// Only the system folder's msiexec.exe counts: one planted beside the
// launcher, or in the current folder, never runs.
TEST_F(LaunchInstallerTest, MsiexecMissingFromTheSystemFolderGivesText100) {
  fake::W().files.nodes.erase(fake::Key(kMsiexec));
  fake::AddFile("C:\\Users\\Ann\\Downloads\\msiexec.exe", Bytes("MZ"));
  EXPECT_EQ(Run(""), 1155);
  EXPECT_TRUE(fake::W().process.launches.empty());
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text, kText100);
  EXPECT_TRUE(NothingExtracted());
}

TEST_F(LaunchInstallerTest, OverlongCommandLineIsRefusedBeforeTheInstallerRuns) {
  EXPECT_EQ(Run("/qn PROPERTY=" + std::string(32700, 'x')), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_TRUE(fake::W().process.launches.empty());
  EXPECT_TRUE(NothingExtracted());
  // /qn silences the message; without it the text is composed from the status.
  EXPECT_TRUE(fake::W().ui.messageBoxes.empty());
  TearDown();
  SetUp();
  EXPECT_EQ(Run("PROPERTY=" + std::string(32700, 'x')), ERROR_FILENAME_EXCED_RANGE);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text,
            "The filename or extension is too long (1, 206, 2362).");
}

}  // namespace
