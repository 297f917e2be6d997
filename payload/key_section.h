// The section of launcher.exe that holds its verification key: a wire format
// shared by the launcher (which reads it from its own image), stubpack (which
// writes a key into a release launcher and leaves it out of the image digest)
// and the tests. All integers little-endian.
//
// The section is named ".msikey" and holds exactly KEY_SECTION_SIZE bytes
// (one file-alignment unit, so its raw data has that size too):
//
//   offset  size  field
//   0       4     magic "MKEY"
//   4       2     format version, 1
//   6       2     key size: 0 (no key) or 276
//   8       276   the key as a PUBLICKEYBLOB (zeros when there is none)
//   284     228   zeros
#pragma once

#include <cstdint>
#include <cstring>

#include "payload/verify_signature.h"

#define KEY_SECTION_NAME ".msikey"  // 7 characters: fits the 8 bytes of a section name

enum : uint32_t {
  KEY_SECTION_SIZE = 512,
  KEY_SECTION_MAGIC = 0x59454B4D,  // "MKEY" as a u32
  KEY_SECTION_VERSION = 1,
  KEY_SECTION_MAGIC_AT = 0,     // u32
  KEY_SECTION_VERSION_AT = 4,   // u16
  KEY_SECTION_KEY_SIZE_AT = 6,  // u16
  KEY_SECTION_BLOB_AT = 8,
  KEY_BLOB_SIZE = 276,
};

// The key in a section's content (KEY_SECTION_SIZE bytes at section), copied
// into blob: {blob, 276} when the header names this format and version and a
// 276-byte key; {nullptr, 0} (a key the signature check calls unusable)
// otherwise. Every byte is read through a volatile pointer, so that the
// compiler never replaces the launcher's read of its own section with the
// bytes it was built with: a key written into the file later is the one used.
inline VerificationKey ReadKeySection(const uint8_t* section, uint8_t blob[KEY_BLOB_SIZE]) {
  const volatile uint8_t* bytes = section;
  uint8_t header[KEY_SECTION_BLOB_AT];
  for (uint32_t i = 0; i < KEY_SECTION_BLOB_AT; i++) header[i] = bytes[i];
  const uint32_t magic = static_cast<uint32_t>(header[0]) | header[1] << 8 | header[2] << 16 |
                         static_cast<uint32_t>(header[3]) << 24;
  const uint32_t version = static_cast<uint32_t>(header[4] | header[5] << 8);
  const uint32_t size = static_cast<uint32_t>(header[6] | header[7] << 8);
  if (magic != KEY_SECTION_MAGIC || version != KEY_SECTION_VERSION || size != KEY_BLOB_SIZE)
    return VerificationKey{nullptr, 0};
  for (uint32_t i = 0; i < KEY_BLOB_SIZE; i++) blob[i] = bytes[KEY_SECTION_BLOB_AT + i];
  return VerificationKey{blob, KEY_BLOB_SIZE};
}

// Writes a whole section's content: the header and blob (276 bytes), or the
// header of a section without a key when blob is null; the rest zeros.
inline void FillKeySection(uint8_t section[KEY_SECTION_SIZE], const uint8_t* blob) {
  memset(section, 0, KEY_SECTION_SIZE);
  const uint32_t size = blob ? uint32_t{KEY_BLOB_SIZE} : 0u;
  const uint32_t magic = KEY_SECTION_MAGIC;
  for (int i = 0; i < 4; i++)
    section[KEY_SECTION_MAGIC_AT + i] = static_cast<uint8_t>(magic >> (8 * i));
  section[KEY_SECTION_VERSION_AT] = KEY_SECTION_VERSION;
  section[KEY_SECTION_KEY_SIZE_AT] = static_cast<uint8_t>(size);
  section[KEY_SECTION_KEY_SIZE_AT + 1] = static_cast<uint8_t>(size >> 8);
  if (blob) memcpy(section + KEY_SECTION_BLOB_AT, blob, KEY_BLOB_SIZE);
}
