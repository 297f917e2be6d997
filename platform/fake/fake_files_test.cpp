// The fake file system must behave like Windows where the launcher relies on
// it, or the launcher's tests prove nothing.
#include <gtest/gtest.h>

#include "platform/fake/fake.h"

namespace {

TEST(FakeFiles, CreateWriteFindDelete) {
  fake::Reset();
  fake::AddFolder("C:\\Windows");
  EXPECT_EQ(CreateFileA("C:\\Windows\\Installer\\x", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(CreateDirectoryA("C:\\Windows\\Installer", nullptr));
  HANDLE file = CreateFileA("c:\\windows\\installer\\X", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 3u);
  EXPECT_FALSE(RemoveDirectoryA("C:\\Windows\\Installer"));  // not empty
  EXPECT_FALSE(DeleteFileA("C:\\Windows\\Installer\\x"));    // still open
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(fake::FileData("C:\\WINDOWS\\INSTALLER\\X"), std::vector<uint8_t>({'a', 'b', 'c'}));
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("C:\\Windows\\Installer\\x", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FindClose(find));
  EXPECT_TRUE(DeleteFileA("C:\\Windows\\Installer\\x"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\Windows\\Installer"));
  EXPECT_FALSE(fake::Exists("C:\\Windows\\Installer"));
}

TEST(FakeFiles, RemoveDirectoryRefusesAFolderWithFilesWhateverItsSiblings) {
  fake::Reset();
  fake::AddFile("C:\\Windows\\Installer\\{P}\\main.msi", {1});
  fake::AddFolder("C:\\Windows\\Installer\\{P}.old");  // sorts between {P} and {P}\...
  EXPECT_FALSE(RemoveDirectoryA("C:\\Windows\\Installer\\{P}"));
  EXPECT_TRUE(fake::Exists("C:\\Windows\\Installer\\{P}"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\Windows\\Installer\\{P}.old"));
}

TEST(FakeFiles, DiskFullWritesWhatFits) {
  fake::Reset();
  fake::AddFolder("D:\\");
  fake::W().diskSpace = 5;
  HANDLE file = CreateFileA("D:\\f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  EXPECT_FALSE(WriteFile(file, "defg", 4, &written, nullptr));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  CloseHandle(file);
  EXPECT_EQ(fake::FileData("D:\\f").size(), 5u);
}

}  // namespace
