// Checking a block's RSA-2048 PKCS#1 v1.5 signature over the SHA-256 of its
// decoded content, with a verification key (the launcher's is compiled in).
#pragma once

#include <cstdint>

enum class SignatureCheck { Verified, KeyUnusable, Mismatch, DigestFailed };

// A verification key: size bytes of PUBLICKEYBLOB at blob, which the key only
// points to (the bytes must outlive every use of it).
struct VerificationKey {
  const uint8_t* blob;
  uint32_t size;
};

// The compiled-in key: a 276-byte PUBLICKEYBLOB generated at build time from
// the public key named by the MSISTUB_PUBLIC_KEY CMake option.
extern const uint8_t kVerificationKeyBlob[276];
inline constexpr VerificationKey kCompiledVerificationKey = {kVerificationKeyBlob,
                                                             sizeof kVerificationKeyBlob};

// Verified when signature[0..signatureSize) is the signature of
// SHA-256(content) by key; KeyUnusable when key has no blob or its blob
// cannot be decoded; DigestFailed when libcrypto cannot compute the SHA-256
// (it fails only for lack of memory, or when it has no SHA-256 to offer):
// nothing was compared; Mismatch otherwise (also for a signature that is not
// exactly 256 bytes). Allocates nothing that outlives the call.
SignatureCheck VerifyBlockSignature(VerificationKey key, const uint8_t* content,
                                    uint32_t contentSize, const uint8_t* signature,
                                    uint32_t signatureSize);
