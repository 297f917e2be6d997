// Writing the decoded files to their open handles, one slice per call.
#pragma once

#include <cstdint>

#include "manifest/extract_job.h"

// One step of the writer over job->items: moves to the next item, or writes
// at most job->chunkSize bytes of the current one with a single WriteFile.
// Returns ERROR_MORE_DATA (234) when there is more to do, 0 when every item is
// done, ERROR_WRITE_FAULT (29) when the write failed or was short (written
// then counts the bytes that reached the file; calling again continues with
// the rest of the same item). *percent (when percent is not null) receives
// the progress of the current item, 0 to 100. A completed item's handle is
// closed; an item without a handle (its file held this content already) is
// never written and counts as done.
uint32_t WriteNextChunk(ExtractJob* job, int32_t* percent);
