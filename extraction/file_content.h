// Comparing a file on disk with content held in memory.
#pragma once

#include <cstdint>

// True when the file at path can be read and holds exactly the size bytes at
// data. The file is read in slices, never whole. False when it differs in size
// or content, cannot be opened or read (a folder of that name, say, or a file
// another program holds open for writing), or reads short before its end.
// Leaves no handle open.
bool FileHoldsContent(const char* path, const uint8_t* data, uint32_t size);
