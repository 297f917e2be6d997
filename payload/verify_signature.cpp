// Hashes and signature checks with the system's CNG (bcrypt), which Windows
// keeps patched and which uses the CPU's SHA instructions where it has them.
#include "payload/verify_signature.h"

#include <cstring>

#include "payload/little_endian.h"
#include "platform/platform.h"

namespace {

const uint32_t kModulusSize = 256;  // RSA-2048
const uint32_t kSignatureSize = kModulusSize;

// The PUBLICKEYBLOB the key carries: BLOBHEADER, RSAPUBKEY, modulus.
const uint8_t kPublicKeyBlob = 0x06;
const uint8_t kBlobVersion = 0x02;
const uint32_t kCalgRsaKeyx = 0x0000A400;
const uint32_t kCalgRsaSign = 0x00002400;
const uint32_t kRsa1 = 0x31415352;  // "RSA1"
const uint32_t kHeaderSize = 8 + 12;
const uint32_t kBlobSize = kHeaderSize + kModulusSize;  // 276

// The same key as a BCRYPT_RSAPUBLIC_BLOB: header, exponent and modulus, both
// big-endian, the exponent without leading zeros.
struct RsaPublicBlob {
  uint8_t bytes[sizeof(BCRYPT_RSAKEY_BLOB) + 4 + kModulusSize];
  ULONG size;
};

// Converts key's PUBLICKEYBLOB into *out; false when the blob is anything
// but what VerificationKey describes. Every field is checked here, not left
// to the system's import: a key the launcher cannot vouch for is never used.
bool ToRsaPublicBlob(VerificationKey key, RsaPublicBlob* out) {
  if (!key.blob || key.size != kBlobSize) return false;
  const uint8_t* b = key.blob;
  const uint32_t algorithm = GetU32(b + 4), exponent = GetU32(b + 16);
  const uint8_t* modulus = b + kHeaderSize;  // least significant byte first
  if (b[0] != kPublicKeyBlob || b[1] != kBlobVersion || GetU16(b + 2) != 0 ||
      (algorithm != kCalgRsaKeyx && algorithm != kCalgRsaSign) || GetU32(b + 8) != kRsa1 ||
      GetU32(b + 12) != kModulusSize * 8 || exponent < 3 || (exponent & 1) == 0 ||
      (modulus[kModulusSize - 1] & 0x80) == 0 || (modulus[0] & 1) == 0)
    return false;

  uint32_t exponentSize = 4;
  while ((exponent >> (8 * (exponentSize - 1))) == 0) exponentSize--;
  BCRYPT_RSAKEY_BLOB header = {};
  header.Magic = BCRYPT_RSAPUBLIC_MAGIC;
  header.BitLength = kModulusSize * 8;
  header.cbPublicExp = exponentSize;
  header.cbModulus = kModulusSize;
  memcpy(out->bytes, &header, sizeof header);
  uint8_t* p = out->bytes + sizeof header;
  for (uint32_t i = 0; i < exponentSize; i++)
    *p++ = static_cast<uint8_t>(exponent >> (8 * (exponentSize - 1 - i)));
  for (uint32_t i = 0; i < kModulusSize; i++) *p++ = modulus[kModulusSize - 1 - i];
  out->size = static_cast<ULONG>(p - out->bytes);
  return true;
}

// The key imported into CNG, released when it goes.
class ImportedKey {
 public:
  ImportedKey() = default;
  ImportedKey(const ImportedKey&) = delete;
  ImportedKey& operator=(const ImportedKey&) = delete;
  ~ImportedKey() {
    if (key_) BCryptDestroyKey(key_);
    if (provider_) BCryptCloseAlgorithmProvider(provider_, 0);
  }

  // False when the system cannot take the key.
  bool Import(RsaPublicBlob* blob) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider_, BCRYPT_RSA_ALGORITHM, nullptr, 0)))
      return false;
    return BCRYPT_SUCCESS(BCryptImportKeyPair(provider_, nullptr, BCRYPT_RSAPUBLIC_BLOB, &key_,
                                              blob->bytes, blob->size, 0));
  }

  SignatureCheck Verify(const uint8_t digest[CONTENT_DIGEST_SIZE], const uint8_t* signature,
                        uint32_t signatureSize) {
    if (signatureSize != kSignatureSize) return SignatureCheck::Mismatch;
    BCRYPT_PKCS1_PADDING_INFO padding = {BCRYPT_SHA256_ALGORITHM};
    // CNG takes the input buffers as non-const; it does not write them.
    NTSTATUS status = BCryptVerifySignature(key_, &padding, const_cast<uint8_t*>(digest),
                                            CONTENT_DIGEST_SIZE, const_cast<uint8_t*>(signature),
                                            signatureSize, BCRYPT_PAD_PKCS1);
    return BCRYPT_SUCCESS(status) ? SignatureCheck::Verified : SignatureCheck::Mismatch;
  }

 private:
  BCRYPT_ALG_HANDLE provider_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
};

}  // namespace

bool BeginContentDigest(ContentDigest* digest) {
  *digest = ContentDigest{};
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) {
    BCryptCloseAlgorithmProvider(provider, 0);
    return false;
  }
  digest->state = hash;
  digest->provider = provider;
  return true;
}

bool AddToContentDigest(ContentDigest* digest, const uint8_t* data, uint32_t size) {
  // CNG takes the input as non-const; it does not write it.
  return digest->state &&
         BCRYPT_SUCCESS(BCryptHashData(digest->state, const_cast<uint8_t*>(data), size, 0));
}

bool FinishContentDigest(ContentDigest* digest, uint8_t out[CONTENT_DIGEST_SIZE]) {
  bool ok = digest->state &&
            BCRYPT_SUCCESS(BCryptFinishHash(digest->state, out, CONTENT_DIGEST_SIZE, 0));
  EndContentDigest(digest);
  return ok;
}

void EndContentDigest(ContentDigest* digest) {
  if (digest->state) BCryptDestroyHash(digest->state);
  if (digest->provider) BCryptCloseAlgorithmProvider(digest->provider, 0);
  *digest = ContentDigest{};
}

SignatureCheck VerifyDigestSignature(VerificationKey key, const uint8_t digest[CONTENT_DIGEST_SIZE],
                                     const uint8_t* signature, uint32_t signatureSize) {
  RsaPublicBlob blob;
  ImportedKey imported;
  if (!ToRsaPublicBlob(key, &blob) || !imported.Import(&blob)) return SignatureCheck::KeyUnusable;
  return imported.Verify(digest, signature, signatureSize);
}

SignatureCheck VerifyBlockSignature(VerificationKey key, const uint8_t* content,
                                    uint32_t contentSize, const uint8_t* signature,
                                    uint32_t signatureSize) {
  // The key's form first: a key the launcher cannot vouch for is the
  // finding, whatever else fails. Then the digest, as a stream of slices has
  // it before its signature is checked.
  RsaPublicBlob blob;
  if (!ToRsaPublicBlob(key, &blob)) return SignatureCheck::KeyUnusable;
  // A digest that could not be computed is never compared, nor taken for a
  // mismatch: the block may be perfectly sound.
  ContentDigest digest = {};
  uint8_t value[CONTENT_DIGEST_SIZE];
  if (!BeginContentDigest(&digest) || !AddToContentDigest(&digest, content, contentSize) ||
      !FinishContentDigest(&digest, value)) {
    EndContentDigest(&digest);
    return SignatureCheck::DigestFailed;
  }
  ImportedKey imported;
  if (!imported.Import(&blob)) return SignatureCheck::KeyUnusable;
  return imported.Verify(value, signature, signatureSize);
}
