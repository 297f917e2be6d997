// Blocks of a payload and their pieces for the payload tests, made by
// stubpack's payload writer: the bytes a publisher ships, and the pieces to
// forge or damage them with. Whole payloads: testing/payload_fixture.h.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "payload/block_format.h"

// One zlib stream (RFC 1950) of content at the best compression level.
std::vector<uint8_t> ZlibStream(const std::vector<uint8_t>& content);

// The signature a block carries over its decoded content: RSA PKCS#1 v1.5
// over SHA-256 with key, big-endian (256 bytes for a 2048-bit key).
std::vector<uint8_t> BlockSignature(EVP_PKEY* key, const std::vector<uint8_t>& content);

// A trailer with the given fields, which need not match anything. kind points
// at 16 stored kind bytes (MANIFEST_BLOCK_KIND_BYTES, FILE_BLOCK_KIND_BYTES or
// any others).
std::vector<uint8_t> TrailerBytes(const uint8_t* kind, uint32_t id, uint32_t signatureSize,
                                  uint32_t dataSize);

// data, signature, then the trailer that describes them, taken as given.
std::vector<uint8_t> RawBlock(const uint8_t* kind, uint32_t id, const std::vector<uint8_t>& data,
                              const std::vector<uint8_t>& signature);

// The block of content as the launcher accepts it: the data compressed, the
// signature over content with the development key. Fails the running test
// when the writer refuses.
std::vector<uint8_t> SignedBlock(const uint8_t* kind, uint32_t id,
                                 const std::vector<uint8_t>& content);

// One manifest entry: u32 key, u32 text byte count, the text as UTF-16LE with
// a terminating zero character. Fails the running test on malformed UTF-8.
std::vector<uint8_t> ManifestEntry(uint32_t key, const std::string& textUtf8);

// The 276-byte PUBLICKEYBLOB of key's public half, as the launcher carries it.
std::vector<uint8_t> PublicKeyBlob(EVP_PKEY* key);
