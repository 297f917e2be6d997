// The fake registry must answer like RegOpenKeyExA and RegQueryValueExA do,
// size queries and too-small buffers included, or the code that reads it is
// not tested.
#include <gtest/gtest.h>

#include "platform/fake/fake.h"

namespace {

const char* kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

TEST(FakeRegistry, QueryFollowsTheSizeAndBufferRules) {
  fake::Reset();
  fake::SetRegistryString(HKEY_CURRENT_USER, kShellFolders, "Personal", "%USERPROFILE%\\Documents",
                          REG_EXPAND_SZ);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, KEY_READ, &key), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "personal", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(size, 24u);  // with the terminating zero

  char small[8];
  size = sizeof small;
  EXPECT_EQ(
      RegQueryValueExA(key, "Personal", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, 24u);

  char text[64];
  size = sizeof text;
  EXPECT_EQ(
      RegQueryValueExA(key, "Personal", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(text, "%USERPROFILE%\\Documents");
  EXPECT_EQ(RegQueryValueExA(key, "AppData", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(fake::W().handles.size(), 1u);  // an open key is a live handle
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(fake::W().handles.empty());
}

TEST(FakeRegistry, KeysOpenCaseBlindWithTheirParentsAndRelativeToOpenKeys) {
  fake::Reset();
  fake::AddRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product");
  HKEY software = nullptr, product = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software", 0, KEY_READ, &software), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(software, "VENDOR\\product", 0, KEY_READ, &product), ERROR_SUCCESS);
  EXPECT_EQ(fake::W().registry.opens.back().path, "software\\VENDOR\\product");
  HKEY missing = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Vendor", 0, KEY_READ, &missing),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
  RegCloseKey(product);
  RegCloseKey(software);
}

TEST(FakeRegistry, ViewsAreSeparateAndTheFlagsChooseThem) {
  fake::Reset();
  fake::SetRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Only64", "Value", "x");
  HKEY key = nullptr;
  // A 32-bit process sees the 64-bit view only when it asks for it.
  fake::W().registry.defaultView = fake::RegistryView::Bits32;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Only64", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Only64", 0, KEY_READ | KEY_WOW64_64KEY, &key),
      ERROR_SUCCESS);
  RegCloseKey(key);
  fake::W().registry.defaultView = fake::RegistryView::Bits64;
  EXPECT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Only64", 0, KEY_READ | KEY_WOW64_32KEY, &key),
      ERROR_FILE_NOT_FOUND);
}

}  // namespace
