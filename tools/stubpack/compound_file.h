// Reading streams of a compound file (the container format of Windows
// Installer packages) held in memory: enough to look at a package's string
// pool the same way on every platform, whatever the Installer library does
// with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// True when data starts with the compound file signature.
bool IsCompoundFile(const std::vector<uint8_t>& data);

// Where a stream's bytes lie in the file: one file offset per piece, in
// order, each piece `pieceSize` bytes long (the last one may be shorter,
// as far as `size` goes).
struct StreamPlace {
  std::vector<size_t> pieces;
  size_t pieceSize = 0;
  size_t size = 0;
};

// Finds the stream named `name` (UTF-16 units, as stored in the directory)
// among the root storage's children. False with a reason when the file is
// malformed or has no such stream; every offset found lies inside data.
bool FindRootStream(const std::vector<uint8_t>& data, const std::u16string& name,
                    StreamPlace* place, std::string* error);

// The bytes of a found stream.
std::vector<uint8_t> StreamBytes(const std::vector<uint8_t>& data, const StreamPlace& place);
