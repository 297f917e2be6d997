// CNG through System32, loaded on first use (see platform.h). Every
// procedure is looked up at the first call of any of them and kept: the
// digest calls run once per slice of every block. That first call is always
// made on the launcher's main thread (a digest's provider is opened there
// before a hashing worker may start), so the table is complete and no longer
// written by the time a second thread reads it.
#include "platform/platform.h"
#include "platform/win32/system_library.h"

#undef BCryptOpenAlgorithmProvider
#undef BCryptCloseAlgorithmProvider
#undef BCryptCreateHash
#undef BCryptHashData
#undef BCryptFinishHash
#undef BCryptDestroyHash
#undef BCryptImportKeyPair
#undef BCryptDestroyKey
#undef BCryptVerifySignature

namespace {

// What every call returns when System32's bcrypt.dll or the procedure is
// missing (STATUS_DLL_NOT_FOUND): a failure like any other to the caller.
const NTSTATUS kNoBcrypt = static_cast<NTSTATUS>(0xC0000135L);

struct BcryptProcedures {
  bool resolved;
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider;
  decltype(&BCryptCreateHash) createHash;
  decltype(&BCryptHashData) hashData;
  decltype(&BCryptFinishHash) finishHash;
  decltype(&BCryptDestroyHash) destroyHash;
  decltype(&BCryptImportKeyPair) importKeyPair;
  decltype(&BCryptDestroyKey) destroyKey;
  decltype(&BCryptVerifySignature) verifySignature;
};

// Zero-initialised data: no constructor, no guard.
BcryptProcedures procedures;

template <typename Fn>
void Resolve(Fn* slot, const char* name) {
  *slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetSystemProcedure("bcrypt.dll", name)));
}

// The table, filled at the first call.
const BcryptProcedures& Bcrypt() {
  BcryptProcedures& p = procedures;
  if (!p.resolved) {
    Resolve(&p.openAlgorithmProvider, "BCryptOpenAlgorithmProvider");
    Resolve(&p.closeAlgorithmProvider, "BCryptCloseAlgorithmProvider");
    Resolve(&p.createHash, "BCryptCreateHash");
    Resolve(&p.hashData, "BCryptHashData");
    Resolve(&p.finishHash, "BCryptFinishHash");
    Resolve(&p.destroyHash, "BCryptDestroyHash");
    Resolve(&p.importKeyPair, "BCryptImportKeyPair");
    Resolve(&p.destroyKey, "BCryptDestroyKey");
    Resolve(&p.verifySignature, "BCryptVerifySignature");
    p.resolved = true;
  }
  return p;
}

}  // namespace

NTSTATUS WINAPI PlatformBCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId,
                                                    LPCWSTR implementation, ULONG flags) {
  auto fn = Bcrypt().openAlgorithmProvider;
  return fn ? fn(algorithm, algId, implementation, flags) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
  auto fn = Bcrypt().closeAlgorithmProvider;
  return fn ? fn(algorithm, flags) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                                         PUCHAR hashObject, ULONG hashObjectSize, PUCHAR secret,
                                         ULONG secretSize, ULONG flags) {
  auto fn = Bcrypt().createHash;
  return fn ? fn(algorithm, hash, hashObject, hashObjectSize, secret, secretSize, flags)
            : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size,
                                       ULONG flags) {
  auto fn = Bcrypt().hashData;
  return fn ? fn(hash, input, size, flags) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size,
                                         ULONG flags) {
  auto fn = Bcrypt().finishHash;
  return fn ? fn(hash, output, size, flags) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
  auto fn = Bcrypt().destroyHash;
  return fn ? fn(hash) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm,
                                            BCRYPT_KEY_HANDLE importKey, LPCWSTR blobType,
                                            BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG size,
                                            ULONG flags) {
  auto fn = Bcrypt().importKeyPair;
  return fn ? fn(algorithm, importKey, blobType, key, input, size, flags) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptDestroyKey(BCRYPT_KEY_HANDLE key) {
  auto fn = Bcrypt().destroyKey;
  return fn ? fn(key) : kNoBcrypt;
}

NTSTATUS WINAPI PlatformBCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* paddingInfo,
                                              PUCHAR hash, ULONG hashSize, PUCHAR signature,
                                              ULONG signatureSize, ULONG flags) {
  auto fn = Bcrypt().verifySignature;
  return fn ? fn(key, paddingInfo, hash, hashSize, signature, signatureSize, flags) : kNoBcrypt;
}
