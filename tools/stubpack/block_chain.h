// Reading the structure of a block chain without decoding it: which blocks a
// region ends with, where they lie, and where the chain starts.
#pragma once

#include <cstdint>
#include <vector>

struct ChainBlock {
  bool manifest;           // manifest block (otherwise a file block)
  uint32_t id;             // block id
  uint32_t dataPos;        // offset of the data in the region
  uint32_t dataSize;       // size of the (compressed) data
  uint32_t signatureSize;  // size of the signature after the data
};

// Walks the trailers from the end of the region backwards, as the launcher
// does, until the manifest block. Fills blocks in the order they stand in the
// region (manifest first) and returns true when a manifest block was reached;
// *chainStart is then the offset of its data. False when the region does not
// end in a complete chain (no trailer of a known kind at the end, sizes that do
// not fit, or no manifest block); blocks then holds what was walked, last
// block first.
bool WalkBlockChain(const uint8_t* region, uint32_t size, std::vector<ChainBlock>* blocks,
                    uint32_t* chainStart);

// True when the last 28 bytes of the region are a trailer of either block
// kind: the region ends in (possibly broken) payload data.
bool EndsWithTrailer(const uint8_t* region, uint32_t size);
