// The whole launcher on the fake platform, seen from the extraction's side:
// where the files go, the folder browser, the progress window and how its
// outcomes end the launch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launch.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"

namespace {

const char kMsiexec[] = "C:\\Windows\\system32\\msiexec.exe";
const char kProduct[] = "{5B3C1A2D-7E4F-4A8B-9C0D-1E2F3A4B5C6D}";
const char kProductName[] = "Contoso Demo";
const char kBrowseTitle[] = "Select a folder where you want to extract the installation files:";
const char kDocuments[] = "C:\\Users\\Ann\\Documents";
const std::string kFolder = std::string("C:\\Windows\\Installer\\") + kProduct;

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

class LaunchExtractionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::W().texts.strings[100] = "Windows Installer is required for this installation package.";
    fake::W().texts.strings[101] = "The installation file is either corrupted.";
    fake::W().texts.strings[102] = kBrowseTitle;
    fake::W().texts.systemMessages[ERROR_WRITE_FAULT] =
        "The system cannot write to the specified device.\r\n";
    fake::W().system.procedures["SHGetSpecialFolderPathA"] = fake::SpecialFolderPathProcedure();
    fake::W().shell.documentsFolder = kDocuments;
    fake::AddFolder(kDocuments);
    fake::AddFolder("C:\\Windows");
    fake::AddFolder("D:\\Temp");
    fake::AddFile(kMsiexec, Bytes("MZ"));
    package_ = std::vector<uint8_t>(600000, 'M');  // two slices
    InstallFakeLauncher(MakePayload(
        {{1000, std::string("x64\\1033\\") + kProduct + "\\" + kProductName, package_},
         {1001, "cab\\1000\\data.cab", Bytes("CABINET")}}));
    fake::W().process.installer.registersProduct = kProduct;
    fake::W().process.installer.onRun = [this](const fake::ProcessLaunch& launch) {
      commandLine_ = launch.commandLine;
    };
  }

  void TearDown() override {
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_TRUE(fake::W().handles.empty());  // thread handles included
    EXPECT_EQ(fake::RunningThreads(), 0);      // the hashing worker has ended, whatever the end
    EXPECT_EQ(fake::W().com.initialized, 0);
    EXPECT_EQ(fake::W().com.liveObjects, 0);
    EXPECT_TRUE(fake::W().shell.itemLists.empty());
    for (const fake::DialogRun& run : fake::W().ui.dialogs) EXPECT_FALSE(run.stalled);
  }

  int Run() {
    fake::W().system.commandLine = u"\"C:\\Users\\Ann\\Downloads\\setup.exe\"";
    return RunLauncher(reinterpret_cast<HINSTANCE>(0x400000), 1, kDevelopmentKey);
  }

  std::vector<uint8_t> package_;
  std::string commandLine_;
};

TEST_F(LaunchExtractionTest, WritesIntoTheInstallerCacheUnderAWindowTitledWithTheProduct) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fake::FileData(kFolder + "\\main.msi"), package_);
  EXPECT_EQ(fake::FileData(kFolder + "\\data.cab"), Bytes("CABINET"));
  EXPECT_TRUE(fake::W().shell.browseCalls.empty());
  ASSERT_EQ(fake::W().ui.dialogs.size(), 1u);
  EXPECT_EQ(fake::W().ui.dialogs[0].title, kProductName);
  EXPECT_EQ(fake::W().ui.dialogs[0].className, "MSI_STUB_WINDOW_CLASS_NAME");
  EXPECT_EQ(fake::W().ui.dialogs[0].fontName, "MS Sans Serif");
  EXPECT_EQ(fake::W().ui.dialogs[0].result, 1);
  // So small a package is written and verified before the window shows
  // (the fake's clock stands still); the window then stays a moment.
  EXPECT_EQ(fake::W().ui.barPositions, std::vector<int>({0, 100}));
  EXPECT_FALSE(fake::W().com.taskbarCalls.empty());
  EXPECT_EQ(commandLine_, std::string(kMsiexec) + " /i " + kFolder + "\\main.msi");
  EXPECT_TRUE(fake::W().ui.messageBoxes.empty());
}

TEST_F(LaunchExtractionTest, UnwritableCacheLeadsToTheBrowserAndTheChosenFolder) {
  fake::W().faults.unwritableFolders.insert("C:\\Windows\\Installer");
  fake::AnswerBrowser("D:\\Temp\\");
  EXPECT_EQ(Run(), 0);
  const std::string chosen = std::string("D:\\Temp\\") + kProduct;
  EXPECT_EQ(fake::FileData(chosen + "\\main.msi"), package_);
  EXPECT_EQ(fake::FileData(chosen + "\\data.cab"), Bytes("CABINET"));
  ASSERT_EQ(fake::W().shell.browseCalls.size(), 1u);
  EXPECT_EQ(fake::W().shell.browseCalls[0].title, kBrowseTitle);
  EXPECT_EQ(fake::W().shell.browseCalls[0].selection, kDocuments);
  EXPECT_EQ(commandLine_, std::string(kMsiexec) + " /i " + chosen + "\\main.msi");
}

TEST_F(LaunchExtractionTest, CancellingTheBrowserEndsSilentlyWith1223) {
  fake::W().faults.unwritableFolders.insert("C:\\Windows\\Installer");
  fake::AnswerBrowserCancel();
  EXPECT_EQ(Run(), 1223);
  EXPECT_TRUE(fake::W().ui.messageBoxes.empty());
  EXPECT_TRUE(fake::W().ui.dialogs.empty());
  EXPECT_TRUE(fake::W().process.launches.empty());
  EXPECT_FALSE(fake::Exists(kFolder));
}

TEST_F(LaunchExtractionTest, CancelAfterAFailedWriteEndsSilentlyWith29AndCleansUp) {
  fake::W().faults.diskSpace = 100000;
  fake::W().ui.messageBoxAnswers = {IDCANCEL};
  EXPECT_EQ(Run(), 29);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);  // the question only, no final message
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text,
            "The system cannot write to the specified device (" + kFolder + "\\main.msi).");
  EXPECT_EQ(fake::W().ui.messageBoxes[0].caption, kProductName);
  EXPECT_TRUE(fake::W().process.launches.empty());
  // The installer never ran: what was created is deleted again.
  EXPECT_FALSE(fake::Exists(kFolder + "\\main.msi"));
  EXPECT_FALSE(fake::Exists(kFolder + "\\data.cab"));
  EXPECT_FALSE(fake::Exists(kFolder));
}

// An empty or cut main.msi left by an earlier run that failed or was
// cancelled is replaced with the verified package before the installer runs;
// one that holds the package already is used as it is.
TEST_F(LaunchExtractionTest, InstallerGetsOnlyTheVerifiedPackage) {
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> found = {
      {"empty", {}},
      {"cut short", std::vector<uint8_t>(package_.begin(), package_.begin() + 524288)},
      {"other package", Bytes("OLD PACKAGE")},
      {"the package itself", package_},
  };
  for (const auto& f : found) {
    SetUp();
    fake::AddFile(kFolder + "\\main.msi", f.second);
    std::vector<uint8_t> seen;
    fake::W().process.installer.onRun = [&seen](const fake::ProcessLaunch&) {
      seen = fake::FileData(kFolder + "\\main.msi");
    };
    EXPECT_EQ(Run(), 0) << f.first;
    EXPECT_EQ(seen, package_) << f.first;
    EXPECT_EQ(fake::FileData(kFolder + "\\data.cab"), Bytes("CABINET")) << f.first;
    EXPECT_TRUE(fake::W().shell.browseCalls.empty()) << f.first;
  }
}

// A block found bad while it is written, here in its last slice, ends the
// launch as a corrupted payload: every file this run wrote is removed, also
// for a product that is registered already, a file that was there before
// stays, and the installer never runs.
TEST_F(LaunchExtractionTest, BlockThatFailsWhileWrittenLeavesNothingOfTheRun) {
  for (bool registered : {false, true}) {
    SCOPED_TRACE(registered ? "registered" : "not registered");
    SetUp();
    std::vector<uint8_t> payload = MakePayload(
        {{1000, std::string("x64\\1033\\") + kProduct + "\\" + kProductName, Bytes("MSI")},
         {1001, "cab\\1000\\data.cab", Bytes("CABINET")},
         {1002, "cab\\1000\\big.cab", std::vector<uint8_t>(3 * 262144, 'B')}});
    // The Adler-32 check at the end of big.cab's zlib stream, the last block.
    payload[payload.size() - 28 - 256 - 1] ^= 0xFF;
    InstallFakeLauncher(payload);
    fake::AddFolder(kFolder);
    fake::AddFile(kFolder + "\\data.cab", Bytes("CABINET"));  // holds its content already
    if (registered)
      fake::SetRegistryString(HKEY_LOCAL_MACHINE,
                              std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
                                  kProduct,
                              "UninstallString", "msiexec /x", REG_SZ);
    EXPECT_EQ(Run(), 13);
    ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
    EXPECT_EQ(fake::W().ui.messageBoxes[0].text, "The installation file is either corrupted.");
    EXPECT_TRUE(fake::W().process.launches.empty());
    EXPECT_FALSE(fake::Exists(kFolder + "\\main.msi"));
    EXPECT_FALSE(fake::Exists(kFolder + "\\big.cab"));
    EXPECT_EQ(fake::FileData(kFolder + "\\data.cab"), Bytes("CABINET"));
    EXPECT_EQ(fake::W().ui.dialogs[0].result, 4);
  }
}

// A payload far larger than anything the launcher holds: from its start to
// the installer's exit, the launcher's own memory stays a few hundred KiB,
// however large the files it writes.
TEST_F(LaunchExtractionTest, MemoryStaysFlatWhateverThePayloadSize) {
  uint64_t peaks[2] = {};
  const size_t sizes[2] = {1u << 20, 12u << 20};
  for (int i = 0; i < 2; i++) {
    SetUp();
    std::vector<uint8_t> big(sizes[i]);
    uint32_t x = 12345;
    for (uint8_t& b : big) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 24);
    InstallFakeLauncher(MakePayload(
        {{1000, std::string("x64\\1033\\") + kProduct + "\\" + kProductName, package_},
         {1001, "cab\\1000\\big.cab", big}}));
    fake::W().memory.peakLiveBytes = fake::W().memory.liveBytes;
    const uint64_t before = fake::W().memory.liveBytes;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fake::FileData(kFolder + "\\big.cab"), big);
    peaks[i] = fake::W().memory.peakLiveBytes - before;
  }
  // The hashing worker's content slices, used in turn, a read slice and
  // zlib's state: under 1 MiB whatever the block's size.
  EXPECT_LT(peaks[1], 1024u * 1024);
  EXPECT_LT(peaks[1], peaks[0] + 4096);
}

// The own file that cannot be read in the middle of a block is what it is:
// the launch ends with the read failure (30) and text 101, and nothing it
// wrote is left.
TEST_F(LaunchExtractionTest, OwnFileThatCannotBeReadWhileWritingEndsWith30) {
  std::vector<uint8_t> big(3 * 262144);
  uint32_t x = 7;
  for (uint8_t& b : big) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 24);
  InstallFakeLauncher(MakePayload(
      {{1000, std::string("x64\\1033\\") + kProduct + "\\" + kProductName, package_},
       {1001, "cab\\1000\\big.cab", big}}));
  // A bad sector in the middle of big.cab's data, the last block: nothing
  // reads it before the writing gets there.
  const std::string own = fake::NameOnDisk(u"C:\\Users\\Ann\\Downloads\\setup.exe");
  fake::W().faults.unreadableByte[fake::Key(own)] = fake::FileData(own).size() - 28 - 256 - 300000;
  EXPECT_EQ(Run(), 30);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  EXPECT_EQ(fake::W().ui.messageBoxes[0].text, "The installation file is either corrupted.");
  EXPECT_TRUE(fake::W().process.launches.empty());
  EXPECT_FALSE(fake::Exists(kFolder));
}

}  // namespace
