// Fake platform: PKCS#7 and certificate decoding. The decoding is real
// (OpenSSL, platform/host/crypt_openssl); the fake adds faults and counts
// what is left open.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "platform/platform.h"

namespace fake {

// State of the simulated crypt services; part of fake::World and reset with it.
// A fault makes the call fail with the given value as last error (0 leaves
// the last error 0, so that callers fall back to their default code).
struct CryptState {
  std::optional<DWORD> failOpen;    // CryptMsgOpenToDecode
  std::optional<DWORD> failUpdate;  // CryptMsgUpdate
  std::optional<DWORD> failCount;   // CryptMsgGetParam(CMSG_CERT_COUNT_PARAM)
  // CryptMsgGetParam(CMSG_CERT_PARAM) by certificate index: asking for the
  // size (no buffer), and fetching the bytes (with a buffer).
  std::map<DWORD, DWORD> failSize;
  std::map<DWORD, DWORD> failFetch;
  // CertCreateCertificateContext, by its call number counted from 0.
  std::map<uint32_t, DWORD> failParse;
  uint32_t parseCalls = 0;

  // What was fed to the decoder, and what is still open.
  DWORD lastUpdateSize = 0;
  int openMessages = 0;
  int openCertificates = 0;
};

}  // namespace fake
