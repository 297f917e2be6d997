// Decompressing one block's data: a zlib stream (RFC 1950) of unknown
// decompressed size.
#pragma once

#include <cstdint>

// Inflates the zlib stream in data[0..dataSize) into a new LocalAlloc buffer
// (*content, freed by the caller) of *contentSize bytes. The input is fed in
// slices of step bytes (256 below 256 bytes of input, else dataSize / 8) and
// each inflate call gets step bytes of output room; bytes after the end of
// the stream are ignored. Returns 0 (Z_OK) on success; on failure the outputs
// are null and 0 and nothing is left allocated: Z_MEM_ERROR (-4) when memory
// runs out (or the content would reach 4 GiB), Z_DATA_ERROR (-3) for a bad
// stream, a stream that needs a dictionary, or one that ends before its end,
// or the result of a failed inflateInit_.
int InflateBlock(uint8_t** content, uint32_t* contentSize, const uint8_t* data, uint32_t dataSize);
