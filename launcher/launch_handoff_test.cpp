// The whole launcher on the fake platform against another process of the
// same user: the launcher runs elevated, that process does not, and it tries
// to change what msiexec installs or to make the launcher write or delete
// somewhere else.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "launcher/launch.h"
#include "platform/fake/fake.h"
#include "testing/development_key.h"
#include "testing/payload_fixture.h"

namespace {

const char kMsiexec[] = "C:\\Windows\\system32\\msiexec.exe";
const char kProduct[] = "{5B3C1A2D-7E4F-4A8B-9C0D-1E2F3A4B5C6D}";
const char kDocuments[] = "C:\\Users\\Ann\\Documents";
const std::string kCacheFolder = std::string("C:\\Windows\\Installer\\") + kProduct;
const std::string kChosenFolder = std::string("D:\\Temp\\") + kProduct;
const char kVictim[] = "C:\\victim";
const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string In(const std::string& folder, const char* name) { return folder + "\\" + name; }

class LaunchHandOffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::W().texts.strings[101] = "The installation file is either corrupted.";
    fake::W().texts.strings[102] = "Select a folder:";
    fake::W().system.procedures["SHGetSpecialFolderPathA"] = fake::SpecialFolderPathProcedure();
    fake::W().shell.documentsFolder = kDocuments;
    fake::AddFolder(kDocuments);
    fake::AddFolder("C:\\Windows\\Installer");
    fake::AddFolder("D:\\Temp");
    fake::AddFolder("E:\\Good");
    fake::AddFile(kMsiexec, Bytes("MZ"));
    package_ = std::vector<uint8_t>(600000, 'M');  // two slices
    InstallFakeLauncher(
        MakePayload({{1000, std::string("x64\\1033\\") + kProduct + "\\Product", package_},
                     {1001, "cab\\1000\\data.cab", Bytes("CABINET")}}));
    fake::W().process.installer.registersProduct = kProduct;
  }

  void TearDown() override {
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_TRUE(fake::W().handles.empty());
  }

  int Run() {
    fake::W().system.commandLine = u"\"C:\\Users\\Ann\\Downloads\\setup.exe\" /qn";
    return RunLauncher(reinterpret_cast<HINSTANCE>(0x400000), 1, kDevelopmentKey);
  }

  // A folder the other process made and filled, where the launcher must
  // never write or delete.
  static void AddVictim() {
    fake::AddFile(In(kVictim, "main.msi"), Bytes("VICTIM PACKAGE"));
    fake::AddFile(In(kVictim, "data.cab"), Bytes("VICTIM CABINET"));
  }
  static void ExpectVictimUntouched() {
    EXPECT_EQ(fake::FileData(In(kVictim, "main.msi")), Bytes("VICTIM PACKAGE"));
    EXPECT_EQ(fake::FileData(In(kVictim, "data.cab")), Bytes("VICTIM CABINET"));
  }

 public:
  std::vector<uint8_t> package_;
};

// What the other process tries on a file the installer is about to read:
// write into it, delete it, rename it. Every attempt is refused, while
// msiexec's own way of opening it (read, deny writing) works.
void ExpectHeld(const std::string& path) {
  SCOPED_TRACE(path);
  HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(fake::Rename(path, path + ".old"), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
}

// Verified files, and a kept file from the moment it is compared, are held
// until the installer has ended, in the installer cache and below a chosen
// folder alike: msiexec gets the verified bytes.
TEST_F(LaunchHandOffTest, NobodyCanChangeWhatTheInstallerIsGiven) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string folder;
  } const cases[] = {
      {"installer cache", [] {}, kCacheFolder},
      {"chosen folder",
       [] {
         fake::W().faults.unwritableFolders.insert("C:\\Windows\\Installer");
         fake::AnswerBrowser("D:\\Temp");
       },
       kChosenFolder},
      {"kept identical package", [this] { fake::AddFile(In(kCacheFolder, "main.msi"), package_); },
       kCacheFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.arrange();
    std::vector<uint8_t> packageSeen, cabinetSeen;
    DWORD folderMove = 0;
    fake::W().process.installer.onRun = [&](const fake::ProcessLaunch&) {
      ExpectHeld(In(c.folder, "main.msi"));
      ExpectHeld(In(c.folder, "data.cab"));
      // Nor can the folder be moved aside to put something in its place.
      folderMove = fake::Rename(c.folder, c.folder + ".old");
      packageSeen = fake::FileData(In(c.folder, "main.msi"));
      cabinetSeen = fake::FileData(In(c.folder, "data.cab"));
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(folderMove, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(packageSeen, package_);
    EXPECT_EQ(cabinetSeen, Bytes("CABINET"));
    TearDown();
  }
}

// On a volume without ACLs (FAT, exFAT) another process can write into a
// verified file in the moment between its writer's close and its hold. The
// file is read again through the hold: the run stops with {1006, 2284}
// before msiexec, and the changed file, still the one this run made, goes.
TEST_F(LaunchHandOffTest, FileChangedBeforeItIsHeldIsNeverInstalled) {
  fake::W().files.volumeKeepsAcls = false;
  fake::W().faults.unwritableFolders.insert("C:\\Windows\\Installer");
  fake::AnswerBrowser("D:\\Temp");
  fake::W().faults.afterLastClose = [](const std::string& path) {
    HANDLE other = CreateFileA(path.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE) << path;
    DWORD n = 0;
    WriteFile(other, "EVIL", 4, &n, nullptr);
    CloseHandle(other);
  };
  EXPECT_EQ(Run(), 1006);
  EXPECT_EQ(fake::W().faults.afterLastClose, nullptr);  // the other process did write
  EXPECT_TRUE(fake::W().process.launches.empty());
  EXPECT_FALSE(fake::Exists(In(kChosenFolder, "main.msi")));
  EXPECT_FALSE(fake::Exists(kChosenFolder));
}

// <chosen>\<product code> exists already as a link to another folder that
// holds files of the same names: a junction or symbolic link (a reparse
// point), or a link the system follows without showing it (Wine's Unix
// links: only the final path tells). It is refused like a folder that cannot
// be written, the browser comes again, and nothing in the other folder is
// written or deleted, however the run ends.
TEST_F(LaunchHandOffTest, ProductFolderThatIsALinkIsNeverWrittenThrough) {
  struct Outcome {
    const char* name;
    std::function<void(LaunchHandOffTest*)> arrange;
    int exitCode;
  } const outcomes[] = {
      {"installer succeeds", [](LaunchHandOffTest*) {}, 0},
      {"installer fails",
       [](LaunchHandOffTest*) {
         fake::W().process.installer.exitCode = 1603;
         fake::W().process.installer.registersProduct = "";
       },
       1603},
      {"last block bad",
       [](LaunchHandOffTest* test) {
         std::vector<uint8_t> payload = MakePayload(
             {{1000, std::string("x64\\1033\\") + kProduct + "\\Product", test->package_},
              {1001, "cab\\1000\\data.cab", std::vector<uint8_t>(3 * 262144, 'B')}});
         payload[payload.size() - 28 - 256 - 1] ^= 0xFF;  // the cabinet's Adler-32
         InstallFakeLauncher(payload);
       },
       ERROR_INVALID_DATA},
      {"user cancels while writing",
       [](LaunchHandOffTest*) {
         fake::W().faults.diskSpace = 1;
         fake::W().ui.messageBoxAnswers = {IDCANCEL};
       },
       ERROR_WRITE_FAULT},
  };
  for (bool reparsePoint : {true, false}) {
    for (const Outcome& o : outcomes) {
      SCOPED_TRACE(std::string(reparsePoint ? "reparse point, " : "silent link, ") + o.name);
      SetUp();
      AddVictim();
      fake::W().faults.unwritableFolders.insert("C:\\Windows\\Installer");
      fake::AddLink(kChosenFolder, kVictim, reparsePoint);
      fake::AnswerBrowser("D:\\Temp");
      fake::AnswerBrowser("E:\\Good");
      o.arrange(this);
      EXPECT_EQ(Run(), o.exitCode);
      ExpectVictimUntouched();
      EXPECT_EQ(fake::W().shell.browseCalls.size(), 2u);
      EXPECT_TRUE(fake::IsFolder(kVictim));
      TearDown();
    }
  }
}

// The installer cache's product folder is a link: refused the same way.
TEST_F(LaunchHandOffTest, CacheFolderThatIsALinkLeadsToTheBrowser) {
  AddVictim();
  fake::AddLink(kCacheFolder, kVictim, true);
  fake::AnswerBrowser("E:\\Good");
  EXPECT_EQ(Run(), 0);
  ExpectVictimUntouched();
  EXPECT_EQ(fake::FileData(In(std::string("E:\\Good\\") + kProduct, "main.msi")), package_);
}

// Should the folder ever be moved aside while msiexec runs (here past the
// handles that keep it in place) and a link to another folder be put in its
// place, the clean-up still deletes only through what the run holds: the
// names behind the link lead to other files, which stay.
TEST_F(LaunchHandOffTest, CleanUpNeverDeletesThroughAFolderSwappedForALink) {
  AddVictim();
  fake::W().process.installer.exitCode = 1603;
  fake::W().process.installer.registersProduct = "";
  fake::W().process.installer.onRun = [](const fake::ProcessLaunch&) {
    ASSERT_EQ(fake::Rename(kCacheFolder, kCacheFolder + ".old", true), 0u);
    fake::AddLink(kCacheFolder, kVictim, false);
  };
  EXPECT_EQ(Run(), 1603);
  ExpectVictimUntouched();
  EXPECT_TRUE(fake::IsFolder(kVictim));
}

// Below a chosen folder an elevated launcher gives what it creates a
// protected descriptor: full control for SYSTEM and Administrators, nothing
// inherited, so the user's own processes, which carry the user's SID but not
// the Administrators group, cannot write there. Not elevated, or in the
// installer cache, the default stays.
TEST_F(LaunchHandOffTest, WhatIsCreatedBelowAChosenFolderIsProtected) {
  const std::string folderSddl = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  const std::string fileSddl = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";
  struct Case {
    const char* name;
    bool elevated;
    bool chosen;
    std::string folderDescriptor;
    std::string fileDescriptor;
  } const cases[] = {
      {"elevated, chosen folder", true, true, folderSddl, fileSddl},
      {"not elevated, chosen folder", false, true, "", ""},
      {"elevated, installer cache", true, false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    fake::W().system.elevated = c.elevated;
    if (c.chosen) {
      fake::W().faults.unwritableFolders.insert("C:\\Windows\\Installer");
      fake::AnswerBrowser("D:\\Temp");
    }
    const std::string folder = c.chosen ? kChosenFolder : kCacheFolder;
    std::string seenFolder, seenPackage, seenCabinet;
    fake::W().process.installer.onRun = [&](const fake::ProcessLaunch&) {
      seenFolder = fake::DescriptorOf(folder);
      seenPackage = fake::DescriptorOf(In(folder, "main.msi"));
      seenCabinet = fake::DescriptorOf(In(folder, "data.cab"));
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(seenFolder, c.folderDescriptor);
    EXPECT_EQ(seenPackage, c.fileDescriptor);
    EXPECT_EQ(seenCabinet, c.fileDescriptor);
    TearDown();
  }
}

// The registry names a start folder that does not exist: the elevated
// launcher creates none of it, and the browser opens without a preselection.
TEST_F(LaunchHandOffTest, StartFolderFromTheRegistryIsNeverCreated) {
  fake::W().system.procedures.clear();  // the shell's look-up is unavailable
  fake::SetRegistryString(HKEY_CURRENT_USER, kShellFolders, "Personal",
                          "C:\\Windows\\system32\\made\\deeper", REG_EXPAND_SZ);
  fake::AddFolder("C:\\Windows\\system32");
  fake::W().faults.unwritableFolders.insert("C:\\Windows\\Installer");
  fake::AnswerBrowser("D:\\Temp");
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(fake::Exists("C:\\Windows\\system32\\made"));
  ASSERT_EQ(fake::W().shell.browseCalls.size(), 1u);
  EXPECT_EQ(fake::W().shell.browseCalls[0].selection, "");
}

}  // namespace
