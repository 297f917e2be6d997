// Writing payload block regions: the manifest block first, then one file block
// per entry, each zlib-compressed, signed over its decoded content with
// RSA-2048 PKCS#1 v1.5 / SHA-256, and closed by its trailer (block_format.h).
// This is exactly what the launcher's FindBlock reads from the end of its file.
//
// The keys and signatures are crypto.h's (OpenSSL on Linux, CNG on Windows),
// the compression zlib's. The low-level pieces are public so that tests can
// forge and tamper with single blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "payload/block_format.h"
#include "tools/stubpack/crypto.h"

namespace payload_writer {

enum : uint32_t { kSignatureSize = 256 };

using SigningKey = crypto::RsaKeyPtr;

// An RSA private key from a PEM file or PEM text; null with *error set when it
// cannot be read or is not a 2048-bit RSA key.
SigningKey LoadSigningKey(const std::string& pemPath, std::string* error);
SigningKey SigningKeyFromPem(const std::string& pem, std::string* error);
// A fresh RSA-2048 key (e = 65537); null on failure.
SigningKey GenerateSigningKey();

// The 276-byte PUBLICKEYBLOB of a key's public half, as the launcher carries
// it; empty on failure.
std::vector<uint8_t> PublicKeyBlob(crypto::RsaKey* key);

// UTF-8 to UTF-16LE bytes; false on malformed UTF-8 (overlong forms,
// surrogates, values above U+10FFFF, cut sequences; out then holds a partial
// result).
bool Utf8ToUtf16Le(const std::string& utf8, std::vector<uint8_t>* out);

// Appends one manifest entry: u32 key, u32 text byte count, the text as
// UTF-16LE with a terminating zero character. False on malformed UTF-8.
bool AppendManifestEntry(uint32_t key, const std::string& textUtf8, std::vector<uint8_t>* out);

// One zlib stream (RFC 1950) of data at the best compression level; empty on
// failure (inputs of 2 GiB and more are refused). level is zlib's 0 to 9.
std::vector<uint8_t> Compress(const uint8_t* data, size_t size, int level = 9);
inline std::vector<uint8_t> Compress(const std::vector<uint8_t>& data, int level = 9) {
  return Compress(data.data(), data.size(), level);
}

// The PKCS#1 v1.5 RSA signature of SHA-256(content), big-endian as OpenSSL
// and CNG write it (256 bytes for a 2048-bit key); empty on failure.
std::vector<uint8_t> Sign(crypto::RsaKey* key, const uint8_t* content, size_t size);
inline std::vector<uint8_t> Sign(crypto::RsaKey* key, const std::vector<uint8_t>& content) {
  return Sign(key, content.data(), content.size());
}

// A trailer with the given fields (which need not match anything). kind is
// the 16 stored kind bytes: MANIFEST_BLOCK_KIND_BYTES, FILE_BLOCK_KIND_BYTES
// or any others.
std::vector<uint8_t> MakeTrailer(const uint8_t kind[16], uint32_t id, uint32_t signatureSize,
                                 uint32_t dataSize);
// data, signature, then the trailer that describes them.
std::vector<uint8_t> MakeBlock(const uint8_t kind[16], uint32_t id,
                               const std::vector<uint8_t>& data,
                               const std::vector<uint8_t>& signature);
// The block of content as the launcher expects it: compressed data, signature
// over the uncompressed content. False with *error set when signing fails or
// the block does not fit the 32-bit sizes.
bool MakeSignedBlock(const uint8_t kind[16], uint32_t id, const std::vector<uint8_t>& content,
                     crypto::RsaKey* key, std::vector<uint8_t>* block, std::string* error);

struct Entry {
  uint32_t key;                  // manifest key and file block id
  std::string text;              // manifest text, UTF-8 (stored as UTF-16LE)
  std::vector<uint8_t> content;  // the file
};

// A whole block region: the manifest block (id 0) listing every entry in
// order, then one file block per entry in the same order. False with *error
// set on malformed text, duplicate keys, signing failure, or a region that
// would not fit in 32 bits.
bool WritePayload(const std::vector<Entry>& entries, crypto::RsaKey* key,
                  std::vector<uint8_t>* region, std::string* error);

}  // namespace payload_writer
