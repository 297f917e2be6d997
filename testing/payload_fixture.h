// Payload fixtures for the unit tests: block regions signed with the
// development key that the unit tests' launcher trusts, and a fake launcher
// file that carries one.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

struct TestEntry {
  uint32_t key;                  // manifest key and file block id
  std::string text;              // manifest text, UTF-8
  std::vector<uint8_t> content;  // the file
};

// Manifest block listing the entries, then one file block per entry, each
// compressed and signed with the development key (or with key). Fails the
// running test (and returns an empty region) when the writer refuses the
// entries.
std::vector<uint8_t> MakePayload(const std::vector<TestEntry>& entries);
std::vector<uint8_t> MakePayload(const std::vector<TestEntry>& entries, EVP_PKEY* key);

// Puts a launcher file at *fake::W().system.modulePath (under the name the wide file
// calls find it by, fake::NameOnDisk): a few bytes of a program that is not a
// signed PE image, then the payload up to the end of the file.
void InstallFakeLauncher(const std::vector<uint8_t>& payload);

// Puts bytes in the fake file system at path and opens that file for
// reading, as the launcher opens its own file: a source region read at
// offsets. The caller closes the handle.
HANDLE OpenFakeFile(const std::vector<uint8_t>& bytes, const std::string& path = "C:\\image.exe");

// The development key's private half (keys/dev_private.pem), and an RSA-2048
// key the launcher does not trust; both live for the whole test program.
EVP_PKEY* DevelopmentKey();
EVP_PKEY* StrangerKey();
