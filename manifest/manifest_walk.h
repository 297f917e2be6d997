// Walking the entries of every payload source's decoded manifest.
#pragma once

#include <cstdint>

#include "payload/payload_source.h"

// Called once per manifest entry with the entry's text in the ANSI code page
// (valid only during the call). Returning 0 stops the whole walk.
typedef int (*ManifestEntryCallback)(uint32_t sourceIndex, uint32_t key, const char* text,
                                     void* context);

// Hands every entry of sources->items[0..count) to callback, in
// source order and then manifest order; sources without a manifest are
// skipped. False when an entry runs past the end of its manifest or its text
// cannot be converted for lack of memory: the walk ends there, over every
// source, after the entries before it were delivered. True otherwise, also
// when the callback stopped the walk.
bool ForEachManifestEntry(const PayloadSources* sources, ManifestEntryCallback callback,
                          void* context);
