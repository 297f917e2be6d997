// The scoped holders: what they hold is released when they go out of scope,
// unless it was handed on with release().
#include "base/holders.h"

#include <gtest/gtest.h>

#include "platform/fake/fake.h"

namespace {

class HoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::AddFolder("C:\\T");
    fake::AddRegistryKey(HKEY_LOCAL_MACHINE, "Software\\Demo");
  }
  void TearDown() override {
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_TRUE(fake::W().handles.empty());
  }

  static HANDLE NewFile() {
    return CreateFileA("C:\\T\\a.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static HKEY OpenKey() {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Demo", 0, KEY_READ, &key), 0);
    return key;
  }
};

TEST_F(HoldersTest, ReleaseOnLeavingTheScope) {
  {
    LocalPtr<uint8_t> buffer(static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, 16)));
    HandlePtr file(NewFile());
    RegKeyPtr key(OpenKey());
    ASSERT_NE(buffer, nullptr);
    ASSERT_NE(file.get(), INVALID_HANDLE_VALUE);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(fake::W().memory.liveAllocations, 1u);
    EXPECT_EQ(fake::W().handles.size(), 2u);
  }
}

TEST_F(HoldersTest, ReleasedObjectsAreTheCallersToFree) {
  uint8_t* buffer = nullptr;
  HANDLE file = nullptr;
  HKEY key = nullptr;
  {
    LocalPtr<uint8_t> heldBuffer(static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, 16)));
    HandlePtr heldFile(NewFile());
    RegKeyPtr heldKey(OpenKey());
    buffer = heldBuffer.release();
    file = heldFile.release();
    key = heldKey.release();
  }
  EXPECT_EQ(fake::W().memory.liveAllocations, 1u);
  EXPECT_EQ(fake::W().handles.size(), 2u);
  LocalFree(buffer);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(RegCloseKey(key), 0);
}

// A failed CreateFile (INVALID_HANDLE_VALUE) and an empty holder release
// nothing: no call that could change the last error a failure path reports.
TEST_F(HoldersTest, NothingToReleaseCallsNothing) {
  SetLastError(ERROR_ACCESS_DENIED);
  {
    HandlePtr noFile(INVALID_HANDLE_VALUE);
    HandlePtr empty;
    LocalPtr<uint8_t> noBuffer;
    RegKeyPtr noKey;
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
