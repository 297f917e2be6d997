// Fake platform: CNG calls with fault injection over the OpenSSL ones.
#include <chrono>
#include <thread>

#include "platform/fake/fake.h"
#include "platform/host/bcrypt_openssl.h"

using fake::NoteCall;
using fake::W;

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId,
                                     LPCWSTR implementation, ULONG flags) {
  NoteCall();
  if (algId) {
    auto it = W().bcrypt.failOpen.find(algId);
    if (it != W().bcrypt.failOpen.end()) {
      if (algorithm) *algorithm = nullptr;
      return it->second;
    }
  }
  NTSTATUS status =
      openssl_bcrypt::OpenAlgorithmProvider(algorithm, algId, implementation, flags);
  if (BCRYPT_SUCCESS(status)) W().bcrypt.openProviders++;
  return status;
}

NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
  NoteCall();
  NTSTATUS status = openssl_bcrypt::CloseAlgorithmProvider(algorithm, flags);
  if (BCRYPT_SUCCESS(status)) W().bcrypt.openProviders--;
  return status;
}

NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                          PUCHAR hashObject, ULONG hashObjectSize, PUCHAR secret,
                          ULONG secretSize, ULONG flags) {
  NoteCall();
  if (W().bcrypt.failCreateHash) {
    if (hash) *hash = nullptr;
    return *W().bcrypt.failCreateHash;
  }
  NTSTATUS status = openssl_bcrypt::CreateHash(algorithm, hash, hashObject, hashObjectSize,
                                               secret, secretSize, flags);
  if (BCRYPT_SUCCESS(status)) W().bcrypt.openHashes++;
  return status;
}

NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags) {
  NoteCall();
  const uint32_t call = W().bcrypt.hashDataCalls++;
  auto it = W().bcrypt.failHashData.find(call);
  if (it != W().bcrypt.failHashData.end()) return it->second;
  auto pause = W().bcrypt.pauseHashDataMs.find(call);
  if (pause != W().bcrypt.pauseHashDataMs.end() && fake::OnCreatedThread())
    std::this_thread::sleep_for(std::chrono::milliseconds(pause->second));
  return openssl_bcrypt::HashData(hash, input, size, flags);
}

NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags) {
  NoteCall();
  if (W().bcrypt.failFinishHash) return *W().bcrypt.failFinishHash;
  return openssl_bcrypt::FinishHash(hash, output, size, flags);
}

NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
  NoteCall();
  NTSTATUS status = openssl_bcrypt::DestroyHash(hash);
  if (BCRYPT_SUCCESS(status)) W().bcrypt.openHashes--;
  return status;
}

NTSTATUS BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey,
                             LPCWSTR blobType, BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG size,
                             ULONG flags) {
  NoteCall();
  W().bcrypt.importCalls++;
  if (W().bcrypt.failImport) {
    if (key) *key = nullptr;
    return *W().bcrypt.failImport;
  }
  NTSTATUS status =
      openssl_bcrypt::ImportKeyPair(algorithm, importKey, blobType, key, input, size, flags);
  if (BCRYPT_SUCCESS(status)) W().bcrypt.openKeys++;
  return status;
}

NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key) {
  NoteCall();
  NTSTATUS status = openssl_bcrypt::DestroyKey(key);
  if (BCRYPT_SUCCESS(status)) W().bcrypt.openKeys--;
  return status;
}

NTSTATUS BCryptVerifySignature(BCRYPT_KEY_HANDLE key, void* paddingInfo, PUCHAR hash,
                               ULONG hashSize, PUCHAR signature, ULONG signatureSize,
                               ULONG flags) {
  NoteCall();
  return openssl_bcrypt::VerifySignature(key, paddingInfo, hash, hashSize, signature,
                                         signatureSize, flags);
}
