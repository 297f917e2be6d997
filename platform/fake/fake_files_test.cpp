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
  fake::W().faults.diskSpace = 5;
  HANDLE file = CreateFileA("D:\\f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  EXPECT_FALSE(WriteFile(file, "defg", 4, &written, nullptr));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  CloseHandle(file);
  EXPECT_EQ(fake::FileData("D:\\f").size(), 5u);
}

// Two names of one file, as a hard link makes them: opening either one for
// writing, CREATE_ALWAYS included, changes the content both show; deleting
// one name leaves the other with its content.
TEST(FakeFiles, HardLinkSharesTheContentUntilOneNameIsDeleted) {
  fake::Reset();
  fake::AddFile("C:\\victim.txt", {'v'});
  fake::AddHardLink("C:\\victim.txt", "C:\\T\\main.msi");
  HANDLE file = CreateFileA("C:\\T\\main.msi", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "ab", 2, &written, nullptr));
  CloseHandle(file);
  EXPECT_EQ(fake::FileData("C:\\victim.txt"), std::vector<uint8_t>({'a', 'b'}));

  EXPECT_TRUE(DeleteFileA("C:\\T\\main.msi"));
  EXPECT_EQ(fake::FileData("C:\\victim.txt"), std::vector<uint8_t>({'a', 'b'}));
  file = CreateFileA("C:\\T\\main.msi", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(WriteFile(file, "c", 1, &written, nullptr));
  CloseHandle(file);
  EXPECT_EQ(fake::FileData("C:\\victim.txt"), std::vector<uint8_t>({'a', 'b'}));
  EXPECT_EQ(fake::FileData("C:\\T\\main.msi"), std::vector<uint8_t>({'c'}));
}

// Windows resolves "." and ".." in a path before it reaches the file system,
// and a path rooted without a drive letter names the current drive: a name
// such as ..\..\x.txt joined to a folder reaches outside it.
TEST(FakeFiles, PathsResolveDotsAndTheCurrentDrive) {
  fake::Reset();
  fake::W().files.currentDirectory = "C:\\Users\\Ann";
  fake::AddFolder("C:\\Windows\\Installer\\{P}");
  fake::AddFile("C:\\victim.txt", {'v'});
  struct Case {
    const char* path;
    const char* key;
  } const cases[] = {
      {"C:\\Windows\\Installer\\{P}\\../../../victim.txt", "C:\\VICTIM.TXT"},
      {"C:\\Windows\\Installer\\{P}\\..\\..\\..\\..\\..\\victim.txt", "C:\\VICTIM.TXT"},
      {"C:\\Windows\\.\\Installer\\\\{P}\\", "C:\\WINDOWS\\INSTALLER\\{P}"},
      {"C:\\Windows\\Installer\\{P}\\..", "C:\\WINDOWS\\INSTALLER"},
      {"C:\\victim.txt. .", "C:\\VICTIM.TXT"},
      {"\\victim.txt", "C:\\VICTIM.TXT"},
      {"/Windows/Installer", "C:\\WINDOWS\\INSTALLER"},
      {"C:\\..", "C:\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(fake::Key(c.path), c.key) << c.path;

  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("\\Windows\\Installer\\{P}\\..\\..\\..\\victim.txt", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "VICTIM.TXT");
  FindClose(find);
  EXPECT_TRUE(DeleteFileA("C:\\Windows\\Installer\\{P}\\../../../victim.txt"));
  EXPECT_FALSE(fake::Exists("C:\\victim.txt"));
  HANDLE file = CreateFileA("\\Windows\\Installer\\{P}\\..\\new.txt", GENERIC_WRITE, 0,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(fake::Exists("C:\\Windows\\Installer\\new.txt"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\Windows\\Installer\\{P}\\."));
  EXPECT_FALSE(fake::Exists("C:\\Windows\\Installer\\{P}"));
}

// In the double-byte page a trail byte 0x5C is part of its character: the
// characters 0x95 0x5C name one file, not a folder 0x95 holding another. The
// page converts such characters both ways.
TEST(FakeFiles, TrailByteBackslashIsNoSeparator) {
  fake::Reset();
  fake::W().system.codePage = fake::CodePage::DoubleByte;
  fake::AddFolder("C:\\T");
  HANDLE file = CreateFileA("C:\\T\\\x95\x5C.cab", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(fake::ParentOf("C:\\T\\\x95\x5C.cab"), "C:\\T");
  EXPECT_FALSE(fake::Exists("C:\\T\\\x95"));
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("C:\\T\\\x95\x5C.cab", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "\x95\x5C.CAB");
  FindClose(find);

  WCHAR wide[4] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x95\x5C\x83\x7C", 4, wide, 4), 2);
  char back[8] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 2, back, sizeof back, nullptr, nullptr), 4);
  EXPECT_STREQ(back, "\x95\x5C\x83\x7C");
  const WCHAR missing[] = {0x9FFF};  // no character of the page
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, missing, 1, back, sizeof back, nullptr, nullptr), 1);
  EXPECT_EQ(back[0], '?');
}

// Share modes between handles as Windows keeps them, in the cases the
// launcher relies on: what an open asks for against what the handles already
// open allow, and the other way round.
TEST(FakeFiles, ShareModesBetweenHandles) {
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  struct Case {
    const char* name;
    DWORD heldAccess, heldShare, access, share;
    bool opens;
  } const cases[] = {
      {"reader beside a read-only hold", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ,
       FILE_SHARE_READ, true},
      {"writer beside a read-only hold", GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, all, false},
      {"delete beside a read-only hold", GENERIC_READ, FILE_SHARE_READ, DELETE, all, false},
      // A handle with write (or delete) access refuses a reader that does
      // not share writing (or deletion): msiexec's way of opening a package.
      {"deny-write reader beside a writer", GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ,
       FILE_SHARE_READ, false},
      {"deny-delete reader beside delete access", GENERIC_READ | DELETE, all, GENERIC_READ,
       FILE_SHARE_READ | FILE_SHARE_WRITE, false},
      {"attributes only take no part", GENERIC_WRITE, 0, FILE_READ_ATTRIBUTES, 0, true},
  };
  for (const Case& c : cases) {
    fake::Reset();
    fake::AddFile("C:\\f", {1});
    HANDLE held =
        CreateFileA("C:\\f", c.heldAccess, c.heldShare, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << c.name;
    HANDLE second = CreateFileA("C:\\f", c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.opens) << c.name;
    if (second != INVALID_HANDLE_VALUE)
      CloseHandle(second);
    else
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << c.name;
    CloseHandle(held);
  }
}

// A link of either kind leads paths to its target; a reparse point is seen
// as one and can be opened itself, a silent link only shows in the final
// path of a handle. Identity follows the object, not the name.
TEST(FakeFiles, LinksFinalPathsAndIdentity) {
  fake::Reset();
  fake::AddFolder("C:\\other");
  fake::AddFile("C:\\other\\f", {7});
  fake::AddLink("C:\\junction", "C:\\other", true);
  fake::AddLink("C:\\unix", "C:\\other", false);
  EXPECT_EQ(fake::FileData("C:\\junction\\f"), std::vector<uint8_t>{7});
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("C:\\unix", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  FindClose(find);

  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  char final[MAX_PATH];
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE junction = CreateFileA("C:\\junction", FILE_LIST_DIRECTORY, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, flags, nullptr);
  ASSERT_TRUE(GetFileInformationByHandle(junction, &info));
  EXPECT_TRUE(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  HANDLE unix = CreateFileA("C:\\unix", FILE_LIST_DIRECTORY, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, flags, nullptr);
  ASSERT_TRUE(GetFileInformationByHandle(unix, &info));
  EXPECT_FALSE(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  ASSERT_GT(GetFinalPathNameByHandleA(unix, final, sizeof final, 0), 0u);
  EXPECT_EQ(std::string(final), "\\\\?\\C:\\other");
  CloseHandle(junction);
  CloseHandle(unix);

  // A hard link is the same file; a file made again under the name is not.
  fake::AddHardLink("C:\\other\\f", "C:\\other\\g");
  BY_HANDLE_FILE_INFORMATION f, g;
  HANDLE a = CreateFileA("C:\\other\\f", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  HANDLE b = CreateFileA("C:\\other\\g", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  ASSERT_TRUE(GetFileInformationByHandle(a, &f));
  ASSERT_TRUE(GetFileInformationByHandle(b, &g));
  EXPECT_EQ(f.nFileIndexLow, g.nFileIndexLow);
  CloseHandle(a);
  CloseHandle(b);
  fake::AddFile("C:\\other\\g", {8});
  b = CreateFileA("C:\\other\\g", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                  nullptr);
  ASSERT_TRUE(GetFileInformationByHandle(b, &g));
  EXPECT_NE(f.nFileIndexLow, g.nFileIndexLow);
  CloseHandle(b);
}

// Delete disposition needs delete access, refuses a folder that is not
// empty, and removes the object when its last handle closes; until then the
// name cannot be opened again.
TEST(FakeFiles, DeleteDisposition) {
  fake::Reset();
  fake::AddFile("C:\\d\\f", {1});
  FILE_DISPOSITION_INFO remove = {TRUE};
  HANDLE reader = CreateFileA("C:\\d\\f", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(SetFileInformationByHandle(reader, FileDispositionInfo, &remove, sizeof remove));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE file =
      CreateFileA("C:\\d\\f", DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE folder = CreateFileA("C:\\d", DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(SetFileInformationByHandle(folder, FileDispositionInfo, &remove, sizeof remove));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove));
  CloseHandle(file);
  EXPECT_TRUE(fake::Exists("C:\\d\\f"));  // the reader still has it
  EXPECT_EQ(CreateFileA("C:\\d\\f", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  EXPECT_FALSE(fake::Exists("C:\\d\\f"));
  EXPECT_TRUE(SetFileInformationByHandle(folder, FileDispositionInfo, &remove, sizeof remove));
  CloseHandle(folder);
  EXPECT_FALSE(fake::Exists("C:\\d"));
}

}  // namespace
