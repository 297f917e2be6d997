// Reading the launcher's own file into memory.
#pragma once

#include <cstdint>

#include "launcher/status.h"

// Reads the whole file at path into a new LocalAlloc buffer (*image, freed by
// the caller) of *imageSize bytes. Only the low 32 bits of the size count.
// Failures, with nothing left allocated or open: cannot open LE/110 at 2042;
// size unavailable {132, 2035}; no memory LE/8 at 2030; read failed or short
// {30, 2023}.
Status ReadOwnImage(const char* path, uint8_t** image, uint32_t* imageSize);
