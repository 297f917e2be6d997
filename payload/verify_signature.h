// Checking a block's RSA-2048 PKCS#1 v1.5 signature over the SHA-256 of its
// decoded content, with a verification key (the launcher's lies in a section
// of its own image: payload/key_section.h).
#pragma once

#include <cstdint>

enum class SignatureCheck { Verified, KeyUnusable, Mismatch, DigestFailed };

// A verification key: size bytes of PUBLICKEYBLOB at blob, which the key only
// points to (the bytes must outlive every use of it). Only a blob of 276
// bytes is usable: BLOBHEADER (type 6, version 2, reserved 0, CALG_RSA_KEYX
// or CALG_RSA_SIGN), RSAPUBKEY ("RSA1", 2048 bits, an odd public exponent of
// at least 3), then the odd 2048-bit modulus least significant byte first.
struct VerificationKey {
  const uint8_t* blob;
  uint32_t size;
};

enum : uint32_t { CONTENT_DIGEST_SIZE = 32 };

// A SHA-256 computed over content that arrives in slices, by the system's
// CNG. It owns the system objects behind it (the hash in state, the SHA-256
// provider it was made from in provider) from BeginContentDigest until
// FinishContentDigest or EndContentDigest; a zeroed ContentDigest owns
// nothing. It allocates no memory of the process's own.
struct ContentDigest {
  void* state;
  void* provider;
};

// Starts a digest in *digest (zeroed or ended before). False when the system
// cannot compute SHA-256 (lack of memory, no SHA-256 provider, a hash that
// cannot be made); *digest then owns nothing.
bool BeginContentDigest(ContentDigest* digest);

// Adds size bytes at data to a begun digest. False when the system fails; the
// digest must then be ended and its result not used.
bool AddToContentDigest(ContentDigest* digest, const uint8_t* data, uint32_t size);

// Writes the SHA-256 of everything added to out and ends the digest (it owns
// nothing afterwards, also on failure). False when the system fails.
bool FinishContentDigest(ContentDigest* digest, uint8_t out[CONTENT_DIGEST_SIZE]);

// Releases whatever *digest owns and zeroes it; safe on a zeroed or finished
// digest and when called twice.
void EndContentDigest(ContentDigest* digest);

// Verified when signature[0..signatureSize) is key's signature of content
// whose SHA-256 is digest; KeyUnusable and Mismatch as for
// VerifyBlockSignature (never DigestFailed). Allocates nothing that outlives
// the call.
SignatureCheck VerifyDigestSignature(VerificationKey key, const uint8_t digest[CONTENT_DIGEST_SIZE],
                                     const uint8_t* signature, uint32_t signatureSize);

// Verified when signature[0..signatureSize) is the signature of
// SHA-256(content) by key: RSA PKCS#1 v1.5 over the DigestInfo of SHA-256
// with its NULL parameter, big-endian, exactly 256 bytes (checked by CNG's
// BCryptVerifySignature with BCRYPT_PAD_PKCS1 and SHA-256 named).
// KeyUnusable when key has no blob, its blob is not a 276-byte PUBLICKEYBLOB
// of an RSA-2048 key (see VerificationKey), or the system cannot take the key
// (no RSA provider, the import fails); DigestFailed when the system cannot
// compute the SHA-256 (see BeginContentDigest): nothing was compared;
// Mismatch otherwise, also for a signature that is not exactly 256 bytes and
// when the system fails in the check itself. Allocates nothing that outlives
// the call.
SignatureCheck VerifyBlockSignature(VerificationKey key, const uint8_t* content,
                                    uint32_t contentSize, const uint8_t* signature,
                                    uint32_t signatureSize);
