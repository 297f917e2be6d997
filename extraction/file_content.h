// Comparing a file on disk with a file block's verified content.
#pragma once

#include "payload/block.h"
#include "payload/payload_source.h"
#include "platform/platform.h"

// True when the file open for reading at file (from its start) can be read
// whole and its SHA-256 verifies against the signature of the block at place
// in source: it holds the content that block decodes to. The file is read in
// slices, never whole, through the caller's handle, which stays open: the
// caller holds it so that the bytes compared are the bytes used. False when
// it differs, cannot be read, reads short, or is 4 GiB or more; a source that
// is not signed has no content to compare by, so no file holds it.
bool FileHoldsBlockContent(HANDLE file, const PayloadSource* source, const BlockPlace& place);
