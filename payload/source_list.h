// The list of payload sources: appending a source once its manifest has
// verified, and freeing the list. Both ways of finding sources (certificate
// extensions, the whole file) append through here.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "payload/payload_source.h"

// Decodes and verifies source's manifest block and appends source to
// *sources; the list then owns the manifest and, when source.ownsData, the
// region. On failure nothing is appended and the manifest is freed (the
// region stays with the caller): the lookup's status, or no memory to append
// LE/8 at appendLocation. Returns the manifest lookup's status on success.
Status AddSourceWithManifest(PayloadSources* sources, PayloadSource source,
                             uint32_t appendLocation);

// Copies region into a new source (compressed and signed, checked with key),
// decodes and verifies its manifest block and appends the source to
// *sources. Returns the manifest lookup's status on success. On failure
// nothing is left allocated or appended: no memory for the copy is LE/8 at
// copyLocation, for the source list LE/8 at appendLocation; a failed lookup
// returns its status.
Status AddPayloadSource(PayloadSources* sources, VerificationKey key, const uint8_t* region,
                        uint32_t size, uint32_t copyLocation, uint32_t appendLocation);

// Frees every source's manifest, the regions the list owns and the source
// array and leaves *sources empty; safe to call twice. Borrowed regions (the
// own file's handle, an image in memory) stay with their owner.
void FreePayloadSources(PayloadSources* sources);
