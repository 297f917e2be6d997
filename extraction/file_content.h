// Comparing a file on disk with a file block's verified content.
#pragma once

#include "payload/block.h"
#include "payload/payload_source.h"

// True when the file at path can be read whole and its SHA-256 verifies
// against the signature of the block at place in source: it holds the
// content that block decodes to. The file is read in slices, never whole.
// False when it differs, cannot be opened or read (a folder of that name, say,
// or a file another program holds open for writing), reads short, or is 4 GiB
// or more; a source that is not signed has no content to compare by, so no
// file holds it. Leaves no handle open.
bool FileHoldsBlockContent(const char* path, const PayloadSource* source, const BlockPlace& place);
