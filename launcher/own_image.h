// Reading the launcher's own file into memory.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "platform/platform.h"

// Reads the whole file at path (UTF-16, so that a folder name the ANSI code
// page cannot hold still opens) into a new LocalAlloc buffer (*image, freed by
// the caller) of *imageSize bytes. Only the low 32 bits of the size count.
// Failures, with nothing left allocated or open: cannot open LE/110 at 2042;
// size unavailable {132, 2035}; no memory LE/8 at 2030; read failed or short
// {30, 2023}.
Status ReadOwnImage(const WCHAR* path, uint8_t** image, uint32_t* imageSize);
