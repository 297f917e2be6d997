// The string pool of a Windows Installer package read straight from its
// compound file: its code page and the bytes of its texts, as stored,
// before any Installer library decodes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/stubpack/compound_file.h"

struct MsiStringPool {
  uint32_t codepage = 0;      // 0: none, the reading system's own
  size_t codepageOffset = 0;  // file offset of the pool header's code page (16 bits)
  std::vector<uint8_t> text;  // every string's bytes, one after another
  StreamPlace textPlace;      // where those bytes lie in the file
};

// Reads the pool of the package in data; false when data is not a compound
// file or has no pool.
bool ReadMsiStringPool(const std::vector<uint8_t>& data, MsiStringPool* pool);

// True when text holds a byte outside ASCII.
bool HasNonAscii(const std::vector<uint8_t>& text);

// True when text holds a byte that code page 1252 leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D): Windows reads each as the control character of
// that number, libmsi drops the whole string.
bool HasBytesUndefinedIn1252(const std::vector<uint8_t>& text);

// Writes "?" over every such byte of the pool's texts in data, the file the
// pool was read from.
void ReplaceBytesUndefinedIn1252(const MsiStringPool& pool, std::vector<uint8_t>* data);
