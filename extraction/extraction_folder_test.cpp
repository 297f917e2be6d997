#include "extraction/extraction_folder.h"

#include <gtest/gtest.h>

#include "extraction/chunk_writer.h"
#include "testing/extract_job_fixture.h"

namespace {

const char kBrowseTitle[] = "Select a folder where you want to extract the installation files:";
const char kDocuments[] = "C:\\Users\\Ann\\Documents";
const std::string kFirstFolder = std::string("C:\\Windows\\Installer\\") + kProductCode;

// Fits below D:\T\<product code>\ but not below C:\Windows\Installer\<product code>\.
const std::string kLongName = std::string(206, 'n') + ".cab";

std::string In(const std::string& folder, const char* name) { return folder + "\\" + name; }

class PrepareExtractionFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::AddFolder("C:\\Windows");
    fake::AddFolder("D:\\Temp");
    fake::W().system.procedures["SHGetSpecialFolderPathA"] = fake::SpecialFolderPathProcedure();
    fake::W().shell.documentsFolder = kDocuments;
    fake::AddFolder(kDocuments);
    snprintf(match_.productCode, sizeof match_.productCode, "%s", kProductCode);
    memset(extractDir_, 0x7F, sizeof extractDir_);
  }

  // Every item list the browser handed out was freed with the shell's
  // allocator, which was released again.
  void TearDown() override {
    EXPECT_TRUE(fake::W().shell.itemLists.empty());
    EXPECT_EQ(fake::W().shell.badFrees, 0u);
    EXPECT_EQ(fake::W().shell.allocatorReleases, fake::W().shell.allocatorsGiven);
  }

  Status Prepare(TestJob& files) {
    return PrepareExtractionFolder(&match_, files.job(), kBrowseTitle, extractDir_, &folder_);
  }

  // The items still name their blocks: each decodes to its content.
  void ExpectDataKept(TestJob& files, size_t count) {
    for (size_t i = 0; i < count; i++) {
      uint8_t* content = nullptr;
      uint32_t size = 0;
      ASSERT_EQ(DecodeBlock(files.source(), files.item(i).place, &content, &size).code, 0u) << i;
      EXPECT_EQ(std::vector<uint8_t>(content, content + size), files.content(i)) << i;
      LocalFree(content);
    }
  }

  PackageMatch match_{};
  char extractDir_[EXTRACT_DIR_SIZE];
  ProductFolder folder_ = {};
};

TEST_F(PrepareExtractionFolderTest, FirstFolderIsTheProductFolderInTheInstallerCache) {
  TestJob files({{"main.msi", Content(10, 1)}, {"main.cab", Content(20, 2)}});
  Status status = Prepare(files);
  EXPECT_EQ(status.code, 0u);
  EXPECT_EQ(std::string(extractDir_), kFirstFolder);
  EXPECT_TRUE(fake::IsFolder(kFirstFolder));
  for (size_t i = 0; i < 2; i++) {
    EXPECT_EQ(std::string(files.item(i).path), In(kFirstFolder, files.item(i).name));
    EXPECT_NE(fake::FindHandle(files.item(i).handle), nullptr);
    EXPECT_TRUE(fake::Exists(files.item(i).path));
  }
  EXPECT_TRUE(fake::W().shell.browseCalls.empty());
}

TEST_F(PrepareExtractionFolderTest, PackageThatIsThereAlreadyIsKeptAsItIs) {
  TestJob files({{"main.msi", Content(10, 1)}, {"main.cab", Content(20, 2)}});
  fake::AddFile(In(kFirstFolder, "main.msi"), files.content(0));
  ASSERT_EQ(Prepare(files).code, 0u);
  EXPECT_EQ(std::string(files.item(0).path), In(kFirstFolder, "main.msi"));
  EXPECT_TRUE(files.item(0).kept);
  EXPECT_TRUE(files.item(0).held);
  EXPECT_NE(files.item(1).handle, nullptr);

  while (WriteNextChunk(files.job(), files.writer(), nullptr) == ERROR_MORE_DATA) {
  }
  EXPECT_EQ(fake::FileData(files.item(0).path), files.content(0));
  EXPECT_EQ(fake::FileData(files.item(1).path), files.content(1));
}

// Whatever else is found under an item's name, left by an earlier run that
// failed or put there by someone, is replaced by a new file.
TEST_F(PrepareExtractionFolderTest, AnyOtherFileThereIsReplaced) {
  const std::vector<uint8_t> content = Content(10, 1);
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> found = {
      {"empty", {}},
      {"cut short", std::vector<uint8_t>(content.begin(), content.begin() + 4)},
      {"other bytes", Content(10, 7)},
      {"longer", Content(11, 1)},
  };
  for (const auto& f : found) {
    SetUp();
    fake::AddFile(In(kFirstFolder, "main.msi"), f.second);
    TestJob files({{"main.msi", content}});
    ASSERT_EQ(Prepare(files).code, 0u) << f.first;
    EXPECT_NE(fake::FindHandle(files.item(0).handle), nullptr) << f.first;
    while (WriteNextChunk(files.job(), files.writer(), nullptr) == ERROR_MORE_DATA) {
    }
    EXPECT_EQ(fake::FileData(In(kFirstFolder, "main.msi")), content) << f.first;
  }
}

// A name in the folder may be a second name of a file elsewhere (a hard
// link someone put there): replacing it gives the name a new file of its own
// and never writes into the other one.
TEST_F(PrepareExtractionFolderTest, ReplacingNeverWritesThroughALinkedName) {
  const std::vector<uint8_t> victim = {'V', 'I', 'C', 'T', 'I', 'M'};
  fake::AddFile("C:\\victim.txt", victim);
  fake::AddHardLink("C:\\victim.txt", In(kFirstFolder, "main.msi"));
  TestJob files({{"main.msi", Content(10, 1)}});
  ASSERT_EQ(Prepare(files).code, 0u);
  while (WriteNextChunk(files.job(), files.writer(), nullptr) == ERROR_MORE_DATA) {
  }
  EXPECT_EQ(fake::FileData("C:\\victim.txt"), victim);
  EXPECT_EQ(fake::FileData(In(kFirstFolder, "main.msi")), files.content(0));
}

// A file that cannot be replaced is one that cannot be created: the attempt
// is rolled back and the user asked for a folder.
TEST_F(PrepareExtractionFolderTest, FileThatCannotBeReplacedLeadsToTheBrowser) {
  fake::AddFolder(In(kFirstFolder, "main.msi"));  // a folder of that name
  fake::AnswerBrowser("D:\\Temp");
  TestJob files({{"main.msi", Content(10, 1)}});
  ASSERT_EQ(Prepare(files).code, 0u);
  EXPECT_EQ(std::string(files.item(0).path),
            std::string("D:\\Temp\\") + kProductCode + "\\main.msi");
  EXPECT_EQ(fake::W().shell.browseCalls.size(), 1u);
  EXPECT_TRUE(fake::IsFolder(In(kFirstFolder, "main.msi")));
}

// main.msi was in the first folder with its content and is kept, data.cab
// was there with other bytes and is replaced, main.cab is created there, the
// fourth item's path would be too long there: main.cab and the replaced
// data.cab are rolled back, main.msi stays, and the user's folder takes all four.
TEST_F(PrepareExtractionFolderTest, RollbackDeletesOnlyThisAttemptsFilesThenAsksTheUser) {
  fake::AddFile(In(kFirstFolder, "main.msi"), Content(10, 1));
  fake::AddFile(In(kFirstFolder, "data.cab"), {'o', 'l', 'd'});
  fake::AddFolder("D:\\T");
  fake::AnswerBrowser("D:\\T\\");
  TestJob files({{"main.msi", Content(10, 1)},
                 {"data.cab", Content(40, 4)},
                 {"main.cab", Content(20, 2)},
                 {kLongName, Content(30, 3)}});
  ASSERT_LE(In(std::string("D:\\T\\") + kProductCode, kLongName.c_str()).size(), 260u);

  Status status = Prepare(files);
  EXPECT_EQ(status.code, 0u);
  EXPECT_EQ(fake::FileData(In(kFirstFolder, "main.msi")), Content(10, 1));
  EXPECT_FALSE(fake::Exists(In(kFirstFolder, "data.cab")));
  EXPECT_FALSE(fake::Exists(In(kFirstFolder, "main.cab")));
  EXPECT_TRUE(fake::IsFolder(kFirstFolder));  // not empty: it stays

  const std::string chosen = std::string("D:\\T\\") + kProductCode;
  EXPECT_EQ(std::string(extractDir_), chosen);
  for (size_t i = 0; i < 4; i++) {
    EXPECT_EQ(std::string(files.item(i).path), In(chosen, files.item(i).name)) << i;
    EXPECT_NE(fake::FindHandle(files.item(i).handle), nullptr) << i;
  }
  ExpectDataKept(files, 4);

  ASSERT_EQ(fake::W().shell.browseCalls.size(), 1u);
  const fake::BrowseCall& call = fake::W().shell.browseCalls[0];
  EXPECT_EQ(call.owner, nullptr);
  EXPECT_FALSE(call.hasRoot);
  EXPECT_EQ(call.flags, 0u);
  EXPECT_EQ(call.title, kBrowseTitle);
  EXPECT_TRUE(call.callbackCalled);
  EXPECT_EQ(call.selection, kDocuments);
  ASSERT_EQ(fake::W().shell.specialFolderCalls.size(), 1u);
  EXPECT_EQ(fake::W().shell.specialFolderCalls[0].csidl, CSIDL_PERSONAL);
  EXPECT_EQ(fake::W().shell.specialFolderCalls[0].create, FALSE);
  EXPECT_EQ(fake::W().shell.allocatorFrees, 1u);
}

TEST_F(PrepareExtractionFolderTest, CancelLeavesNothingOfTheAttemptBehind) {
  fake::AnswerBrowserCancel();
  TestJob files({{"main.msi", Content(10, 1)}, {kLongName, Content(30, 3)}});
  Status status = Prepare(files);
  EXPECT_EQ(status.code, 1223u);
  EXPECT_EQ(status.location, 2219u);
  EXPECT_FALSE(fake::Exists(In(kFirstFolder, "main.msi")));
  EXPECT_FALSE(fake::Exists(kFirstFolder));
  EXPECT_TRUE(fake::W().handles.empty());
  for (size_t i = 0; i < 2; i++) {
    EXPECT_EQ(files.item(i).handle, nullptr);
    EXPECT_EQ(files.item(i).written, 0u);
    EXPECT_EQ(files.item(i).path[0], 0);
  }
  ExpectDataKept(files, 2);
  EXPECT_EQ(fake::W().shell.browseCalls.size(), 1u);
}

TEST_F(PrepareExtractionFolderTest, ItemWithoutFileSystemPathOpensTheBrowserAgain) {
  fake::W().faults.unwritableFolders.insert("C:\\Windows\\Installer");
  fake::AnswerBrowserWithoutPath();
  fake::AnswerBrowser("D:\\Temp");
  TestJob files({{"main.msi", Content(10, 1)}});
  ASSERT_EQ(Prepare(files).code, 0u);
  EXPECT_EQ(std::string(files.item(0).path),
            std::string("D:\\Temp\\") + kProductCode + "\\main.msi");
  EXPECT_EQ(fake::W().shell.browseCalls.size(), 2u);
  EXPECT_EQ(fake::W().shell.allocatorFrees, 2u);
}

// The chosen folder loses its trailing backslashes, character by character.
struct ChosenFolder {
  const char* name;
  fake::CodePage codePage;
  std::string answer;
  std::string folder;  // expected extractDir without the product code
};

void PrintTo(const ChosenFolder& value, std::ostream* out) { *out << value.name; }

class ChosenFolderTest : public PrepareExtractionFolderTest,
                         public ::testing::WithParamInterface<ChosenFolder> {};

TEST_P(ChosenFolderTest, ProductFolderGoesBelowIt) {
  fake::W().system.codePage = GetParam().codePage;
  fake::AddFolder(GetParam().folder);
  fake::W().faults.unwritableFolders.insert("C:\\Windows\\Installer");
  fake::AnswerBrowser(GetParam().answer);
  TestJob files({{"main.msi", Content(10, 1)}, {"main.cab", Content(20, 2)}});
  ASSERT_EQ(Prepare(files).code, 0u);
  const std::string expected = GetParam().folder + "\\" + kProductCode;
  EXPECT_EQ(std::string(extractDir_), expected);
  EXPECT_EQ(std::string(files.item(0).path), expected + "\\main.msi");
  EXPECT_EQ(std::string(files.item(1).path), expected + "\\main.cab");
  EXPECT_NE(files.item(0).handle, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ChosenFolderTest,
    ::testing::Values(
        ChosenFolder{"Temp", fake::CodePage::Utf8, "D:\\Temp\\", "D:\\Temp"},
        ChosenFolder{"DriveRoot", fake::CodePage::Utf8, "D:\\", "D:"},
        ChosenFolder{"SeveralBackslashes", fake::CodePage::Utf8, "D:\\Temp\\\\", "D:\\Temp"},
        // 0x95 0x5C is one double-byte character whose trail byte is a backslash.
        ChosenFolder{"DoubleByteTrailByte", fake::CodePage::DoubleByte, "D:\\\x95\x5C\\",
                     "D:\\\x95\x5C"}),
    [](const ::testing::TestParamInfo<ChosenFolder>& info) { return info.param.name; });

// Where the browser starts: the documents folder, then the registry's
// "Personal" folder, then the current directory; offered only when it
// exists, and never created: the registry's path is the user's to set, and
// an elevated process that made its levels would make folders anywhere.
struct StartFolder {
  const char* name;
  void (*arrange)();
  const char* expected;
};

void PrintTo(const StartFolder& value, std::ostream* out) { *out << value.name; }

class DefaultBrowseFolderTest : public ::testing::TestWithParam<StartFolder> {};

TEST_P(DefaultBrowseFolderTest, IsOfferedOnlyWhenItExists) {
  fake::Reset();
  fake::AddFolder("C:\\");
  fake::W().system.procedures["SHGetSpecialFolderPathA"] = fake::SpecialFolderPathProcedure();
  fake::W().shell.documentsFolder = kDocuments;
  fake::W().system.environment["USERPROFILE"] = "C:\\Users\\Bo";
  fake::SetRegistryString(HKEY_CURRENT_USER,
                          "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell "
                          "Folders",
                          "Personal", "%USERPROFILE%\\My Documents", REG_EXPAND_SZ);
  fake::W().files.currentDirectory = "C:\\Work\\Here";
  GetParam().arrange();

  char folder[EXTRACT_DIR_SIZE];
  GetDefaultBrowseFolder(folder, sizeof folder);
  EXPECT_EQ(std::string(folder), "");
  EXPECT_FALSE(fake::Exists(GetParam().expected));
  EXPECT_FALSE(fake::Exists(fake::ParentOf(GetParam().expected)));

  fake::AddFolder(GetParam().expected);
  GetDefaultBrowseFolder(folder, sizeof folder);
  EXPECT_EQ(std::string(folder), GetParam().expected);
  EXPECT_TRUE(fake::W().handles.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Fallbacks, DefaultBrowseFolderTest,
    ::testing::Values(
        StartFolder{"Documents", [] {}, kDocuments},
        StartFolder{"NoShell32", [] { fake::W().system.missingLibraries.insert("SHELL32.DLL"); },
                    "C:\\Users\\Bo\\My Documents"},
        StartFolder{"NoLookUp", [] { fake::W().system.procedures.clear(); },
                    "C:\\Users\\Bo\\My Documents"},
        StartFolder{"LookUpFails", [] { fake::W().shell.documentsFolder.reset(); },
                    "C:\\Users\\Bo\\My Documents"},
        StartFolder{"CurrentDirectory",
                    [] {
                      fake::W().system.procedures.clear();
                      fake::W().registry.keys.clear();
                    },
                    "C:\\Work\\Here"}),
    [](const ::testing::TestParamInfo<StartFolder>& info) { return info.param.name; });

// With no start folder the browser opens without a preselection.
TEST_F(PrepareExtractionFolderTest, BrowserWithoutStartFolderSelectsNothing) {
  fake::W().files.nodes.erase(fake::Key(kDocuments));
  fake::W().faults.unwritableFolders.insert("C:\\Windows\\Installer");
  fake::AnswerBrowser("D:\\Temp");
  TestJob files({{"main.msi", Content(10, 1)}});
  ASSERT_EQ(Prepare(files).code, 0u);
  ASSERT_EQ(fake::W().shell.browseCalls.size(), 1u);
  EXPECT_TRUE(fake::W().shell.browseCalls[0].callbackCalled);
  EXPECT_EQ(fake::W().shell.browseCalls[0].selection, "");
  EXPECT_FALSE(fake::Exists(kDocuments));
}

}  // namespace
