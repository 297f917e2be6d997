// The CNG calls of platform.h done with OpenSSL, for the parts the launcher
// uses: SHA-256 hashes and the check of an RSA PKCS#1 v1.5 signature over a
// SHA-256 digest. The host platform's calls (host_bcrypt.cpp) and the fake
// platform's (fake_bcrypt.cpp, with its faults) are both made of these.
//
// They keep CNG's rules where the launcher could trip on them: every handle
// is checked against the live ones of its kind (STATUS_INVALID_HANDLE
// otherwise, also after it was closed or destroyed), a hash that was finished
// takes no more data, and sizes are exact. Anything outside the supported
// parts is STATUS_NOT_SUPPORTED, never a silent success.
#pragma once

#include "platform/platform.h"

namespace openssl_bcrypt {

// BCRYPT_SHA256_ALGORITHM or BCRYPT_RSA_ALGORITHM, no implementation name, no
// flags; STATUS_NOT_FOUND for any other algorithm, STATUS_INVALID_PARAMETER
// for a null out-pointer or flags. *algorithm is null after a failure.
NTSTATUS OpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId,
                               LPCWSTR implementation, ULONG flags);
NTSTATUS CloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);

// A SHA-256 hash whose object the system allocates (hashObject null and 0);
// no secret, no flags. STATUS_NOT_SUPPORTED on an RSA provider.
NTSTATUS CreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR hashObject,
                    ULONG hashObjectSize, PUCHAR secret, ULONG secretSize, ULONG flags);
// Adds size bytes (input may be null when size is 0).
NTSTATUS HashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags);
// Writes the 32-byte digest; size must be exactly 32 (STATUS_INVALID_PARAMETER
// otherwise, and the hash stays open for another try). The hash takes nothing
// more afterwards: only BCryptDestroyHash.
NTSTATUS FinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags);
NTSTATUS DestroyHash(BCRYPT_HASH_HANDLE hash);

// Imports a BCRYPT_RSAPUBLIC_BLOB on an RSA provider: the header with
// BCRYPT_RSAPUBLIC_MAGIC, no primes, then exactly cbPublicExp + cbModulus
// bytes; the exponent odd and at least 3, the modulus odd with exactly
// BitLength significant bits (512 to 16384). STATUS_INVALID_PARAMETER for a
// blob that is not such, STATUS_NOT_SUPPORTED for another blob type.
NTSTATUS ImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey,
                       LPCWSTR blobType, BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG size,
                       ULONG flags);
NTSTATUS DestroyKey(BCRYPT_KEY_HANDLE key);

// BCRYPT_PAD_PKCS1 with a BCRYPT_PKCS1_PADDING_INFO naming
// BCRYPT_SHA256_ALGORITHM (anything else STATUS_NOT_SUPPORTED), a 32-byte
// hash (STATUS_INVALID_PARAMETER otherwise). STATUS_SUCCESS only when the
// signature, exactly as long as the modulus, opens to the one encoding
// 00 01 FF..FF 00 DigestInfo(SHA-256, NULL parameter) hash; every other
// signature is STATUS_INVALID_SIGNATURE.
NTSTATUS VerifySignature(BCRYPT_KEY_HANDLE key, void* paddingInfo, PUCHAR hash, ULONG hashSize,
                         PUCHAR signature, ULONG signatureSize, ULONG flags);

}  // namespace openssl_bcrypt
