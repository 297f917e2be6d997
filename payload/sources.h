// Finding the payload in the launcher's own file.
#pragma once

#include <cstdint>

#include "launcher/status.h"

// Fills g_launcher.sources from the in-memory image of the launcher's own
// file: from private certificate extensions of its Authenticode signature
// when there are any, otherwise from the whole file. Each source keeps its own
// copy of its region and its decoded, verified manifest. A nonzero status code
// means the payload cannot be used.
Status LoadPayloadSources(const uint8_t* image, uint32_t imageSize);

// Frees every source's buffers and the source array; safe to call twice.
void FreePayloadSources();
