#include "extraction/chunk_writer.h"

#include "platform/platform.h"

static void Report(int32_t* percent, int32_t value) {
  if (percent) *percent = value;
}

uint32_t WriteNextChunk(ExtractJob* job, int32_t* percent) {
  if (job->current < 0) {
    job->current = 0;
  } else if (job->current < job->count) {
    ExtractItem* item = &job->items[job->current];
    if (item->written < item->size) {
      uint32_t n = item->size - item->written;
      if (n > job->chunkSize) n = job->chunkSize;
      DWORD done = 0;
      BOOL ok = WriteFile(item->handle, item->data + item->written, n, &done, nullptr);
      if (done > n) done = n;
      item->written += done;
      // The quotient first, then the scaling: 15204352 / 52428800 is just
      // below 0.29, so that item reports 28 after its 29th slice.
      double fraction = static_cast<double>(item->written) / static_cast<double>(item->size);
      Report(percent, static_cast<int32_t>(fraction * 100.0));
      return ok && done == n ? ERROR_MORE_DATA : ERROR_WRITE_FAULT;
    }
    if (item->handle) {
      CloseHandle(item->handle);
      item->handle = nullptr;
    }
    job->current += 1;
  }

  if (job->current < job->count) {
    ExtractItem* item = &job->items[job->current];
    // Its file held this content before the run: it is left as it is.
    if (!item->handle) item->written = item->size;
    Report(percent, 0);
    return ERROR_MORE_DATA;
  }
  Report(percent, 100);
  return 0;
}
