// CNG through System32, loaded on first use (see platform.h). Each procedure
// is looked up once and kept: the digest calls run once per slice of every
// block.
#include "platform/platform.h"
#include "platform/win32/system_library.h"

namespace {

// What every call returns when System32's bcrypt.dll or the procedure is
// missing (STATUS_DLL_NOT_FOUND): a failure like any other to the caller.
const NTSTATUS kNoBcrypt = static_cast<NTSTATUS>(0xC0000135L);

template <typename Fn>
Fn Bcrypt(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetSystemProcedure("bcrypt.dll", name)));
}

}  // namespace

#undef BCryptOpenAlgorithmProvider
#undef BCryptCloseAlgorithmProvider
#undef BCryptCreateHash
#undef BCryptHashData
#undef BCryptFinishHash
#undef BCryptDestroyHash
#undef BCryptImportKeyPair
#undef BCryptDestroyKey
#undef BCryptVerifySignature

NTSTATUS WINAPI PlatformBCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId,
                                                    LPCWSTR implementation, ULONG flags) {
  static const auto fn =
      Bcrypt<decltype(&BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
  return fn ? fn(algorithm, algId, implementation, flags) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
  static const auto fn =
      Bcrypt<decltype(&BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider");
  return fn ? fn(algorithm, flags) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                                         PUCHAR hashObject, ULONG hashObjectSize, PUCHAR secret,
                                         ULONG secretSize, ULONG flags) {
  static const auto fn = Bcrypt<decltype(&BCryptCreateHash)>("BCryptCreateHash");
  return fn ? fn(algorithm, hash, hashObject, hashObjectSize, secret, secretSize, flags)
            : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size,
                                       ULONG flags) {
  static const auto fn = Bcrypt<decltype(&BCryptHashData)>("BCryptHashData");
  return fn ? fn(hash, input, size, flags) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size,
                                         ULONG flags) {
  static const auto fn = Bcrypt<decltype(&BCryptFinishHash)>("BCryptFinishHash");
  return fn ? fn(hash, output, size, flags) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
  static const auto fn = Bcrypt<decltype(&BCryptDestroyHash)>("BCryptDestroyHash");
  return fn ? fn(hash) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm,
                                            BCRYPT_KEY_HANDLE importKey, LPCWSTR blobType,
                                            BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG size,
                                            ULONG flags) {
  static const auto fn = Bcrypt<decltype(&BCryptImportKeyPair)>("BCryptImportKeyPair");
  return fn ? fn(algorithm, importKey, blobType, key, input, size, flags) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptDestroyKey(BCRYPT_KEY_HANDLE key) {
  static const auto fn = Bcrypt<decltype(&BCryptDestroyKey)>("BCryptDestroyKey");
  return fn ? fn(key) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* paddingInfo,
                                              PUCHAR hash, ULONG hashSize, PUCHAR signature,
                                              ULONG signatureSize, ULONG flags) {
  static const auto fn = Bcrypt<decltype(&BCryptVerifySignature)>("BCryptVerifySignature");
  return fn ? fn(key, paddingInfo, hash, hashSize, signature, signatureSize, flags) : kNoBcrypt;
}
