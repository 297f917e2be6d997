// Reading bytes of a payload source's region, wherever the region lies.
#pragma once

#include <cstdint>

#include "payload/payload_source.h"

// Copies size bytes from offset pos of source's region into buffer: from
// memory, or read from the own file at that offset (one positioned ReadFile
// per call, never a mapped view: a failed read must be a result, not an
// exception). False, with buffer's content unspecified, when the region does
// not hold them or the file cannot be read or reads short.
bool ReadSourceBytes(const PayloadSource* source, uint32_t pos, void* buffer, uint32_t size);
