// Scoped holders of system objects: each releases what it holds when it goes
// out of scope, so that every return path of a function frees it. get() lends
// the object; release() hands it on, after which the holder frees nothing.
// An empty holder (null) releases nothing.
#pragma once

#include <memory>
#include <type_traits>

#include "platform/platform.h"

struct LocalFreeDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};

// A LocalAlloc buffer of T, freed with LocalFree.
template <typename T>
using LocalPtr = std::unique_ptr<T, LocalFreeDeleter>;

// A kernel handle. INVALID_HANDLE_VALUE, which CreateFile returns for no
// file, is not closed either.
struct HandleDeleter {
  void operator()(HANDLE handle) const {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};
using HandlePtr = std::unique_ptr<void, HandleDeleter>;

// An opened registry key (never one of the predefined roots).
struct RegKeyDeleter {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using RegKeyPtr = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyDeleter>;

// A cryptographic message from CryptMsgOpenToDecode.
struct CryptMsgDeleter {
  void operator()(HCRYPTMSG message) const { CryptMsgClose(message); }
};
using CryptMsgPtr = std::unique_ptr<void, CryptMsgDeleter>;

// A certificate context from CertCreateCertificateContext.
struct CertContextDeleter {
  void operator()(PCCERT_CONTEXT cert) const { CertFreeCertificateContext(cert); }
};
using CertContextPtr = std::unique_ptr<const CERT_CONTEXT, CertContextDeleter>;
