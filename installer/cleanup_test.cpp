// What stays on disk after the installer: the extracted files are kept when
// the product is registered or the installer succeeded; otherwise every one
// of them goes, and the folder with them.
#include "installer/cleanup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "extraction/output_file.h"
#include "platform/fake/fake.h"

namespace {

const char* kProduct = "{1D8E6291-B0D5-35EC-8441-6616F567A0F7}";
const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kFolder = std::string("C:\\Windows\\Installer\\") + kProduct;

void Register(const std::string& uninstallString,
              fake::RegistryView view = fake::RegistryView::Bits64) {
  fake::SetRegistryString(HKEY_LOCAL_MACHINE, kUninstall + kProduct, "UninstallString",
                          uninstallString, REG_EXPAND_SZ, view);
}

class CleanUpTest : public ::testing::Test {
 protected:
  // The folder as the writer leaves it, made by this run and pinned:
  // main.msi written and held, data.cab created and still open for writing
  // (writing was cancelled), old.cab found there before the run with the
  // right content and held since.
  void Prepare() {
    fake::Reset();
    fake::AddFolder("C:\\Windows\\Installer");
    ASSERT_TRUE(PinProductFolder(kFolder.c_str(), nullptr, &folder));
    fake::AddFile(kFolder + "\\old.cab", {'o', 'l', 'd'});
    job = {};
    job.items = static_cast<ExtractItem*>(LocalAlloc(LPTR, 3 * sizeof(ExtractItem)));
    job.count = 3;
    job.current = 1;
    const char* names[] = {"main.msi", "data.cab", "old.cab"};
    for (int i = 0; i < 3; i++) {
      ExtractItem& item = job.items[i];
      snprintf(item.name, sizeof item.name, "%s", names[i]);
      snprintf(item.path, sizeof item.path, "%s\\%s", kFolder.c_str(), names[i]);
      if (i < 2) ASSERT_TRUE(CreateOutputFile(&item, nullptr));
    }
    job.items[0].written = 16;
    ASSERT_EQ(HoldWrittenFile(&job.items[0]).code, 0u);
    job.items[2].handle = OpenHeldFile(job.items[2].path, &job.items[2]);
    ASSERT_NE(job.items[2].handle, INVALID_HANDLE_VALUE);
    job.items[2].held = true;
    job.items[2].kept = true;
  }

  // Whatever happened, nothing of the job is left in memory or open.
  void TearDown() override {
    EXPECT_EQ(job.items, nullptr);
    EXPECT_EQ(job.count, 0);
    EXPECT_EQ(folder.handle, nullptr);
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_TRUE(fake::W().handles.empty());
  }

  ExtractJob job = {};
  ProductFolder folder = {};
};

TEST_F(CleanUpTest, FilesStayWhenRegisteredOrSucceededAndGoOtherwise) {
  struct Case {
    const char* name;
    uint32_t installerExitCode;
    bool registered;
    bool filesStay;
    bool folderStays;
  } const cases[] = {
      {"succeeded and registered", 0, true, true, true},
      {"failed, not registered", 1603, false, false, false},
      // An administrative install, say: the folder cannot go as it is not empty.
      {"succeeded, not registered", 0, false, true, true},
      // The launch ended before the installer ran (cancel in the progress window).
      {"never ran, not registered", 1601, false, false, false},
      {"never ran, registered already", 1601, true, true, true},
      {"cancelled by the user, registered", 1602, true, true, true},
  };
  for (const Case& c : cases) {
    Prepare();
    if (c.registered) Register("MsiExec.exe /X" + std::string(kProduct));
    CleanUpExtraction(&job, &folder, kProduct, c.installerExitCode);
    for (const char* name : {"main.msi", "data.cab", "old.cab"})
      EXPECT_EQ(fake::Exists(kFolder + "\\" + name), c.filesStay) << c.name << ": " << name;
    EXPECT_EQ(fake::IsFolder(kFolder), c.folderStays) << c.name;
    // Registration is asked per item only when the files may go, and once
    // for the folder.
    EXPECT_EQ(fake::W().registry.opens.size(), c.installerExitCode ? 4u : 1u) << c.name;
    if (c.filesStay) {
      EXPECT_EQ(fake::FileData(kFolder + "\\old.cab").size(), 3u) << c.name;
    }
  }
}

TEST_F(CleanUpTest, BeforeTheFolderWasPreparedNothingIsRemoved) {
  Prepare();
  for (int i = 0; i < job.count; i++) ReleaseItemFile(&job.items[i]);
  ReleaseProductFolder(&folder, false);
  for (int i = 0; i < job.count; i++) memset(&job.items[i], 0, sizeof job.items[i]);
  CleanUpExtraction(&job, &folder, kProduct, 1601);
  EXPECT_TRUE(fake::Exists(kFolder + "\\old.cab"));
  EXPECT_TRUE(fake::Exists(kFolder + "\\main.msi"));
}

// The clean-up deletes through what the run holds, never by the names
// again: a file whose name now leads elsewhere, and a folder the run did not
// make, stay.
TEST_F(CleanUpTest, OnlyWhatThisRunMadeOrHeldGoes) {
  Prepare();
  // The run found its folder there already.
  folder.created = false;
  CleanUpExtraction(&job, &folder, kProduct, 1603);
  EXPECT_TRUE(fake::IsFolder(kFolder));
  EXPECT_FALSE(fake::Exists(kFolder + "\\main.msi"));

  // main.msi's name was taken over by another file after it was written
  // (here by the test, past the share modes that keep others out): that
  // file is not the run's, and stays.
  Prepare();
  ReleaseItemFile(&job.items[0]);
  fake::W().files.nodes.erase(fake::Key(kFolder + "\\main.msi"));
  fake::AddFile(kFolder + "\\main.msi", {'x'});
  CleanUpExtraction(&job, &folder, kProduct, 1603);
  EXPECT_EQ(fake::FileData(kFolder + "\\main.msi"), std::vector<uint8_t>{'x'});
  EXPECT_FALSE(fake::Exists(kFolder + "\\data.cab"));
  EXPECT_TRUE(fake::IsFolder(kFolder));  // not empty
}

TEST(IsProductRegistered, AsksTheUninstallKeyInThe64BitView) {
  struct Case {
    const char* name;
    void (*arrange)();
    bool registered;
  } const cases[] = {
      {"no key", [] {}, false},
      {"key without UninstallString",
       [] { fake::AddRegistryKey(HKEY_LOCAL_MACHINE, kUninstall + kProduct); }, false},
      {"empty value",
       [] {
         fake::SetRegistryValue(HKEY_LOCAL_MACHINE, kUninstall + kProduct, "UninstallString",
                                REG_SZ, {});
       },
       false},
      {"registered", [] { Register("MsiExec.exe /X{...}"); }, true},
      // The launcher asks for the 64-bit view explicitly, so the answer does
      // not depend on the view it would get by default.
      {"registered, process default is the 32-bit view",
       [] {
         Register("x");
         fake::W().registry.defaultView = fake::RegistryView::Bits32;
       },
       true},
      {"registered in the 32-bit view only", [] { Register("x", fake::RegistryView::Bits32); },
       false},
  };
  for (const Case& c : cases) {
    fake::Reset();
    c.arrange();
    EXPECT_EQ(IsProductRegistered(kProduct), c.registered) << c.name;
    ASSERT_EQ(fake::W().registry.opens.size(), 1u) << c.name;
    EXPECT_EQ(fake::W().registry.opens[0].path, kUninstall + kProduct) << c.name;
    EXPECT_EQ(fake::W().registry.opens[0].access, static_cast<REGSAM>(KEY_READ | KEY_WOW64_64KEY));
    EXPECT_TRUE(fake::W().handles.empty()) << c.name;  // the key is closed again
  }
}

}  // namespace
