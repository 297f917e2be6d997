// Finding the payload in the launcher's own file.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "payload/payload_source.h"
#include "payload/source_list.h"

// Fills *sources (empty or holding earlier sources) from image, the
// launcher's whole file: open (image->file, read at offsets) or in memory
// (image->data; tools and tests). Sources come from private certificate
// extensions of its Authenticode signature when there are any
// (LoadCertificateSources; each keeps its own copy of the extension value);
// otherwise the whole file is the one source, which borrows image's handle or
// bytes and copies nothing: its block chain is read where it lies. Each
// source keeps its decoded manifest, verified with key, and key for its file
// blocks. Returns the certificate scan's failure, or for the whole file: the
// manifest lookup's failure (e.g. {1168, 509} without payload, {30, 512} when
// a trailer cannot be read), no memory to append LE/8 at 2001; on success the
// manifest lookup's status ({0, 547}). A nonzero code means the payload
// cannot be used.
Status LoadPayloadSources(const PayloadSource* image, VerificationKey key,
                          PayloadSources* sources);
