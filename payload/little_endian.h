// Little-endian reads and writes on byte buffers: the payload's trailers and
// manifest entries, the PE headers. Callers check bounds before calling.
#pragma once

#include <cstdint>
#include <vector>

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  PutU32(b, v);
  out.insert(out.end(), b, b + 4);
}
