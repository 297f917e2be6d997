// The compound file and string pool readers on arbitrary files: stubpack
// reads the string pool of every package it is given before any Installer
// library sees it, and writes a code page and "?"s into a copy at the
// offsets found.
// libFuzzer's buffer is exactly sized, so AddressSanitizer sees any read
// outside the file; the promises of the readers are checked as well.
#include <cstdlib>
#include <vector>

#include "tools/stubpack/compound_file.h"
#include "tools/stubpack/msi_string_pool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> file(data, data + size);
  MsiStringPool pool;
  if (!ReadMsiStringPool(file, &pool)) return 0;
  // The code page lies inside the file, and the texts are no longer than it.
  if (pool.codepageOffset + 4 > size || pool.text.size() > size) abort();
  if (pool.codepage > 0x7FFFFFFF) abort();
  HasNonAscii(pool.text);

  // The copy the tools open instead: it is still read, within its bytes.
  std::vector<uint8_t> copy = file;
  copy[pool.codepageOffset] = 1252 & 0xFF;
  copy[pool.codepageOffset + 1] = 1252 >> 8;
  ReplaceBytesUndefinedIn1252(pool, &copy);
  if (copy.size() != size) abort();
  ReadMsiStringPool(copy, &pool);
  return 0;
}
