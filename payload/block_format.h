// The wire format of a block chain, shared by the launcher that reads it and
// stubpack that writes it. Each block is its data, its signature and a 28-byte
// trailer that describes both, so a chain is read from its end backwards:
//
//   offset  size  field
//        0    16  kind           the block kind, as stored (below)
//       16     4  id             u32 block id within its kind
//       20     4  signatureSize  u32 size of the signature in front of the trailer
//       24     4  dataSize       u32 size of the data in front of the signature
//
// All integers are little-endian. Header only and free of platform types, so
// that the payload writer can use it on any build machine.
#pragma once

#include <cstdint>
#include <cstring>

#include "payload/little_endian.h"

// Block kinds: GUIDs, stored in the Windows GUID byte layout (the first three
// groups little-endian, the last eight bytes as written).
// {EED5BBF7-1284-4619-918C-F0CB8EE28B55}: the manifest block, id 0.
inline constexpr uint8_t MANIFEST_BLOCK_KIND_BYTES[16] = {
    0xF7, 0xBB, 0xD5, 0xEE, 0x84, 0x12, 0x19, 0x46, 0x91, 0x8C, 0xF0, 0xCB, 0x8E, 0xE2, 0x8B, 0x55};
// {A1248CD9-EF96-436B-92BF-C00BAD727E63}: a file block, id = its manifest entry's key.
inline constexpr uint8_t FILE_BLOCK_KIND_BYTES[16] = {
    0xD9, 0x8C, 0x24, 0xA1, 0x96, 0xEF, 0x6B, 0x43, 0x92, 0xBF, 0xC0, 0x0B, 0xAD, 0x72, 0x7E, 0x63};

// Offsets of the trailer's fields, and its size.
enum : uint32_t {
  TRAILER_KIND = 0,
  TRAILER_ID = 16,
  TRAILER_SIGNATURE_SIZE = 20,
  TRAILER_DATA_SIZE = 24,
  BLOCK_TRAILER_SIZE = 28,
};

struct BlockTrailer {
  uint8_t kind[16];
  uint32_t id;
  uint32_t signatureSize;
  uint32_t dataSize;
};

// The trailer stored in the BLOCK_TRAILER_SIZE bytes at p.
inline BlockTrailer ReadBlockTrailer(const uint8_t* p) {
  BlockTrailer trailer;
  memcpy(trailer.kind, p + TRAILER_KIND, sizeof trailer.kind);
  trailer.id = GetU32(p + TRAILER_ID);
  trailer.signatureSize = GetU32(p + TRAILER_SIGNATURE_SIZE);
  trailer.dataSize = GetU32(p + TRAILER_DATA_SIZE);
  return trailer;
}

// Stores trailer in the BLOCK_TRAILER_SIZE bytes at p.
inline void WriteBlockTrailer(const BlockTrailer& trailer, uint8_t* p) {
  memcpy(p + TRAILER_KIND, trailer.kind, sizeof trailer.kind);
  PutU32(p + TRAILER_ID, trailer.id);
  PutU32(p + TRAILER_SIGNATURE_SIZE, trailer.signatureSize);
  PutU32(p + TRAILER_DATA_SIZE, trailer.dataSize);
}

// True when the 16 stored kind bytes at kind are those of expected.
inline bool IsBlockKind(const uint8_t* kind, const uint8_t (&expected)[16]) {
  return memcmp(kind, expected, sizeof expected) == 0;
}
