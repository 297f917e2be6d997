// Writing the output files as their blocks decode, one slice per call.
#pragma once

#include <cstdint>

#include "manifest/extract_job.h"
#include "payload/block_stream.h"

// The writer's running state over a job: the current item's block stream and
// the content it decoded that is not written yet. Zeroed before the first
// step; it must stay where it is while a stream is open (the stream points
// into itself).
struct ChunkWriter {
  BlockStream stream;      // decoding the current item's block
  const uint8_t* pending;  // decoded content of the current item not yet written
  uint32_t pendingSize;
  bool blockEnded;         // the current block has ended and verified
};

// One step of writer over job->items: moves to the next item (opening its
// block's stream), or decodes the next slice of the current item's block and
// writes it with a single WriteFile (an item whose file held the content
// already is decoded and verified but never written). Returns
// ERROR_MORE_DATA (234) when there is more to do, 0 when every item is done
// and verified, ERROR_WRITE_FAULT (29) when the write failed or was short
// (written then counts the bytes that reached the file; calling again writes
// the rest of the same slice), ERROR_FILE_CORRUPT (1392) when a block cannot
// be decoded or verified, or when a written file cannot be held
// (HoldWrittenFile) or, read again through its hold, does not verify
// ({1006, LOC_OUTPUT_HOLD}): job->failure says why and the job ends there.
// *percent (when percent is not null) receives the share of the current
// item's block read so far, 0 to 100. A completed item's writer handle is
// traded for a read-only hold of its file (HoldWrittenFile).
uint32_t WriteNextChunk(ExtractJob* job, ChunkWriter* writer, int32_t* percent);

// Closes the writer's block stream (stopping its hashing worker) and zeroes
// it; safe on a zeroed or closed writer.
void CloseChunkWriter(ChunkWriter* writer);
