// A region of the launcher's own file that holds payload blocks.
#pragma once

#include <cstdint>

#include "payload/verify_signature.h"
#include "platform/platform.h"

enum : uint32_t {
  SOURCE_COMPRESSED = 1u << 0,  // block data is one zlib stream
  SOURCE_SIGNED = 1u << 1,      // blocks carry an RSA/SHA-256 signature
};

// A region is either the launcher's own file from its first byte, read at
// offsets through file, or bytes in memory at data: a certificate
// extension's value, or a whole image that a tool or a test holds in memory.
struct PayloadSource {
  HANDLE file;            // the own file, not owned (the run holds it open); null: data
  uint8_t* data;          // the region in memory when file is null
  uint32_t size;          // region size
  uint8_t* manifest;      // owned decoded manifest block (LocalAlloc)
  uint32_t manifestSize;  // its size
  uint32_t flags;         // SOURCE_* bits; the launcher always sets both
  VerificationKey key;    // checks the blocks' signatures when SOURCE_SIGNED
  bool ownsData;          // data is the list's own LocalAlloc copy; otherwise it is borrowed
};

// A region in memory that the caller keeps (nothing is owned): how tools and
// tests hand an image held in memory to the code that reads payload sources.
inline PayloadSource MemoryRegion(const uint8_t* data, uint32_t size) {
  PayloadSource region = {};
  region.data = const_cast<uint8_t*>(data);
  region.size = size;
  return region;
}

// The sources of one run, in discovery order: a source's index in items is
// its identity for the manifest walk and the package selection.
struct PayloadSources {
  PayloadSource* items;  // owned (LocalAlloc array), grown by one per source
  uint32_t count;
};
