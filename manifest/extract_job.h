// The files to write: the chosen package first, then its cabinets, each
// decoded from its file block while it is written.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "payload/block.h"
#include "payload/payload_source.h"
#include "platform/platform.h"

struct ExtractItem {
  char name[261];        // file name within the extraction folder
  uint32_t sourceIndex;  // the payload source that holds its file block
  BlockPlace place;      // where that block lies in the source
  HANDLE handle;         // output file: written through, then held read-only; else null
  bool held;             // handle is the read-only hold of the verified or kept file
  bool kept;             // the file there held the block's verified content already
  uint32_t written;      // content bytes written so far
  char path[261];        // full output path
  // Identity (volume, file index) of the file this run created or kept, so
  // that a name found again is only trusted when it leads to that file.
  bool identified;
  uint32_t fileVolume;
  uint32_t fileIndexHigh;
  uint32_t fileIndexLow;
};

struct ExtractJob {
  ExtractItem* items;              // owned (LocalAlloc), grows by one zeroed item at a time
  int32_t count;
  int32_t current;                 // item being written; -1 before the first write step
  const PayloadSources* sources;   // where the items' blocks lie; not owned
  Status failure;                  // why a block could not be decoded or verified, else {0, 0}
};
