// Finding the payload in the launcher's own file.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "payload/payload_source.h"

// Fills *sources (empty or holding earlier sources) from the in-memory image
// of the launcher's own file: from private certificate extensions of its
// Authenticode signature when there are any (LoadCertificateSources),
// otherwise from the whole file. Each source keeps its own copy of its
// region, its decoded manifest verified with key, and key for its file
// blocks. Returns the certificate scan's failure, or for the whole file: no
// memory for the copy LE/8 at 2016, the manifest lookup's failure (e.g.
// {1168, 509} without payload), no memory to append LE/8 at 2001; on success
// the manifest lookup's status ({0, 547}). A nonzero code means the payload
// cannot be used.
Status LoadPayloadSources(const uint8_t* image, uint32_t imageSize, VerificationKey key,
                          PayloadSources* sources);

// Copies region into a new source (compressed and signed, checked with key),
// decodes and verifies its manifest block and appends the source to
// *sources. Returns the manifest lookup's status on success. On failure
// nothing is left allocated or appended: no memory for the copy is LE/8 at
// copyLocation, for the source list LE/8 at appendLocation; a failed lookup
// returns its status.
Status AddPayloadSource(PayloadSources* sources, VerificationKey key, const uint8_t* region,
                        uint32_t size, uint32_t copyLocation, uint32_t appendLocation);

// Frees every source's buffers and the source array and leaves *sources
// empty; safe to call twice.
void FreePayloadSources(PayloadSources* sources);
