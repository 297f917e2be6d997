// Fake platform: CNG hashes and signature checks. The cryptography is real
// (OpenSSL, platform/host/bcrypt_openssl); the fake adds faults and counts
// what is left open.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace fake {

// State of the simulated CNG; part of fake::World and reset with it. A fault
// makes the call return the given status (and create nothing).
struct BcryptState {
  // BCryptOpenAlgorithmProvider, by algorithm name (u"SHA256", u"RSA").
  std::map<std::u16string, NTSTATUS> failOpen;
  std::optional<NTSTATUS> failCreateHash;
  // BCryptHashData, by its call number counted from 0.
  std::map<uint32_t, NTSTATUS> failHashData;
  uint32_t hashDataCalls = 0;
  // BCryptHashData, by its call number, made on a thread of CreateThread
  // waits this long before it reads its input: a slice its caller hands over
  // and then changes too early is hashed as changed.
  std::map<uint32_t, uint32_t> pauseHashDataMs;
  std::optional<NTSTATUS> failFinishHash;
  std::optional<NTSTATUS> failImport;  // BCryptImportKeyPair
  uint32_t importCalls = 0;

  // Handles made and not yet closed or destroyed.
  int openProviders = 0;
  int openHashes = 0;
  int openKeys = 0;
};

}  // namespace fake
