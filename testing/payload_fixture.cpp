#include "testing/payload_fixture.h"

#include <gtest/gtest.h>

#include "platform/fake/fake.h"
#include "tools/stubpack/payload_writer.h"

EVP_PKEY* DevelopmentKey() {
  static payload_writer::SigningKey key = [] {
    std::string error;
    payload_writer::SigningKey loaded =
        payload_writer::LoadSigningKey(MSISTUB_DEV_PRIVATE_KEY, &error);
    if (!loaded) ADD_FAILURE() << error;
    return loaded;
  }();
  return key.get();
}

EVP_PKEY* StrangerKey() {
  static payload_writer::SigningKey key = payload_writer::GenerateSigningKey();
  return key.get();
}

std::vector<uint8_t> MakePayload(const std::vector<TestEntry>& entries) {
  return MakePayload(entries, DevelopmentKey());
}

std::vector<uint8_t> MakePayload(const std::vector<TestEntry>& entries, EVP_PKEY* key) {
  std::vector<payload_writer::Entry> list;
  for (const TestEntry& entry : entries) list.push_back({entry.key, entry.text, entry.content});
  std::vector<uint8_t> region;
  std::string error;
  if (!payload_writer::WritePayload(list, key, &region, &error))
    ADD_FAILURE() << "MakePayload: " << error;
  return region;
}

HANDLE OpenFakeFile(const std::vector<uint8_t>& bytes, const std::string& path) {
  fake::AddFile(path, bytes);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
  return file;
}

void InstallFakeLauncher(const std::vector<uint8_t>& payload) {
  // "MZ" and filler: e_lfanew reads 0x5A5A5A5A, far past the end of the
  // file, so the image is not a PE file and the whole file is searched.
  std::vector<uint8_t> file(2048, 0x5A);
  file[0] = 'M';
  file.insert(file.end(), payload.begin(), payload.end());
  fake::AddFile(fake::NameOnDisk(fake::Utf16(*fake::W().system.modulePath)), file);
}
