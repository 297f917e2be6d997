// Finding the payload in the launcher's own file.
#pragma once

#include <cstdint>

#include "launcher/status.h"
#include "payload/payload_source.h"

// Fills g_launcher.sources from the in-memory image of the launcher's own
// file: from private certificate extensions of its Authenticode signature
// when there are any (LoadCertificateSources), otherwise from the whole file.
// Each source keeps its own copy of its region and its decoded, verified
// manifest. Returns the certificate scan's failure, or for the whole file:
// no memory for the copy LE/8 at 2016, the manifest lookup's failure (e.g.
// {1168, 509} without payload), no memory to append LE/8 at 2001; on success
// the manifest lookup's status ({0, 547}). A nonzero code means the payload
// cannot be used.
Status LoadPayloadSources(const uint8_t* image, uint32_t imageSize);

// Appends a copy of source to g_launcher.sources, growing the array by one
// zeroed element; false with the last error set when memory runs out (the
// list is then unchanged and source still belongs to the caller).
bool AppendPayloadSource(const PayloadSource& source);

// Frees every source's buffers and the source array; safe to call twice.
void FreePayloadSources();
