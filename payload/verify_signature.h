// Checking a block's RSA-2048 PKCS#1 v1.5 signature over the SHA-256 of its
// decoded content, with the verification key compiled into the launcher.
#pragma once

#include <cstdint>

enum class SignatureCheck { Verified, KeyUnusable, Mismatch, DigestFailed };

// The compiled-in key: a 276-byte PUBLICKEYBLOB generated at build time from
// the public key named by the MSISTUB_PUBLIC_KEY CMake option.
extern const uint8_t kVerificationKeyBlob[276];

// The 276 bytes VerifyBlockSignature decodes; kVerificationKeyBlob unless a
// test points it elsewhere.
extern const uint8_t* g_verificationKey;

// Verified when signature[0..signatureSize) is the signature of
// SHA-256(content) by the verification key; KeyUnusable when the key blob
// cannot be decoded; DigestFailed when libcrypto cannot compute the SHA-256
// (it fails only for lack of memory, or when it has no SHA-256 to offer):
// nothing was compared; Mismatch otherwise (also for a signature that is not
// exactly 256 bytes). Allocates nothing that outlives the call.
SignatureCheck VerifyBlockSignature(const uint8_t* content, uint32_t contentSize,
                                    const uint8_t* signature, uint32_t signatureSize);
