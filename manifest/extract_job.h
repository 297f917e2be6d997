// The files to write: the chosen package first, then its cabinets.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct ExtractItem {
  char name[261];   // file name within the extraction folder
  uint8_t* data;    // owned decoded content (LocalAlloc)
  uint32_t size;    // content size
  HANDLE handle;    // open output file, or null when the file there held this content already
  uint32_t written; // bytes written so far
  char path[261];   // full output path
};

enum : uint32_t { EXTRACT_CHUNK_SIZE = 524288 };

struct ExtractJob {
  ExtractItem* items;  // owned (LocalAlloc), grows by one zeroed item at a time
  int32_t count;
  int32_t current;     // item being written; -1 before the first write step
  uint32_t chunkSize;  // largest slice per write
  UINT_PTR timerId;    // timer of the progress window
};
