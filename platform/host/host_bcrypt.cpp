// The CNG calls of platform.h for the host platform: the OpenSSL ones as they
// are. The fake platform defines the same calls over the same code, with its
// faults, in fake_bcrypt.cpp.
#include "platform/host/bcrypt_openssl.h"

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId,
                                     LPCWSTR implementation, ULONG flags) {
  return openssl_bcrypt::OpenAlgorithmProvider(algorithm, algId, implementation, flags);
}
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
  return openssl_bcrypt::CloseAlgorithmProvider(algorithm, flags);
}
NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                          PUCHAR hashObject, ULONG hashObjectSize, PUCHAR secret,
                          ULONG secretSize, ULONG flags) {
  return openssl_bcrypt::CreateHash(algorithm, hash, hashObject, hashObjectSize, secret,
                                    secretSize, flags);
}
NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags) {
  return openssl_bcrypt::HashData(hash, input, size, flags);
}
NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags) {
  return openssl_bcrypt::FinishHash(hash, output, size, flags);
}
NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) { return openssl_bcrypt::DestroyHash(hash); }
NTSTATUS BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey,
                             LPCWSTR blobType, BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG size,
                             ULONG flags) {
  return openssl_bcrypt::ImportKeyPair(algorithm, importKey, blobType, key, input, size, flags);
}
NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key) { return openssl_bcrypt::DestroyKey(key); }
NTSTATUS BCryptVerifySignature(BCRYPT_KEY_HANDLE key, void* paddingInfo, PUCHAR hash,
                               ULONG hashSize, PUCHAR signature, ULONG signatureSize,
                               ULONG flags) {
  return openssl_bcrypt::VerifySignature(key, paddingInfo, hash, hashSize, signature,
                                         signatureSize, flags);
}
