// Opening the launcher's own file, which the run reads at offsets.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "platform/platform.h"

// Opens the file at path (UTF-16, so that a folder name the ANSI code page
// cannot hold still opens) for reading, shared with other readers, and gives
// its size. The caller closes *file. Failures, with nothing left open (*file
// null, *size 0): cannot open LE/110 at 2042; size unavailable, or 4 GiB or
// more (the payload's offsets are 32-bit, and a cut size would read the
// wrong end of the file) {132, 2035}.
Status OpenOwnImage(const WCHAR* path, HANDLE* file, uint32_t* size);
