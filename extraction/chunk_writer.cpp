#include "extraction/chunk_writer.h"

#include "platform/platform.h"

namespace {

void Report(int32_t* percent, int32_t value) {
  if (percent) *percent = value;
}

// The quotient first, then the scaling: a share just below 0.29 reports 28.
int32_t Percent(const BlockStream* stream) {
  return static_cast<int32_t>(BlockStreamProgress(stream) * 100.0);
}

uint32_t Fail(ExtractJob* job, ChunkWriter* writer, Status status) {
  job->failure = status;
  CloseBlockStream(&writer->stream);
  job->current = job->count;
  return ERROR_FILE_CORRUPT;
}

// Makes job->current the item being written: opens its block's stream, or
// reports that every item is done.
uint32_t StartItem(ExtractJob* job, ChunkWriter* writer, int32_t* percent) {
  writer->pending = nullptr;
  writer->pendingSize = 0;
  writer->blockEnded = false;
  if (job->current >= job->count) {
    Report(percent, 100);
    return 0;
  }
  const ExtractItem* item = &job->items[job->current];
  Status status =
      OpenBlockStream(&writer->stream, &job->sources->items[item->sourceIndex], item->place);
  if (status.code != 0) return Fail(job, writer, status);
  Report(percent, 0);
  return ERROR_MORE_DATA;
}

}  // namespace

uint32_t WriteNextChunk(ExtractJob* job, ChunkWriter* writer, int32_t* percent) {
  if (job->failure.code != 0) return ERROR_FILE_CORRUPT;
  if (job->current < 0) {
    job->current = 0;
    return StartItem(job, writer, percent);
  }
  if (job->current >= job->count) {
    Report(percent, 100);
    return 0;
  }
  ExtractItem* item = &job->items[job->current];

  if (writer->pendingSize == 0 && !writer->blockEnded) {
    Status status =
        ReadBlockSlice(&writer->stream, &writer->pending, &writer->pendingSize, &writer->blockEnded);
    if (status.code != 0) return Fail(job, writer, status);
    // Its file held this content before the run: the block is verified all
    // the same, and the file is left as it is.
    if (item->kept) writer->pendingSize = 0;
    if (writer->pendingSize == 0) {
      Report(percent, Percent(&writer->stream));
      return ERROR_MORE_DATA;
    }
  }
  if (writer->pendingSize > 0) {
    DWORD done = 0;
    BOOL ok = WriteFile(item->handle, writer->pending, writer->pendingSize, &done, nullptr);
    if (done > writer->pendingSize) done = writer->pendingSize;
    item->written += done;
    writer->pending += done;
    writer->pendingSize -= done;
    Report(percent, Percent(&writer->stream));
    return ok && writer->pendingSize == 0 ? ERROR_MORE_DATA : ERROR_WRITE_FAULT;
  }
  // The item is written and its block verified.
  CloseBlockStream(&writer->stream);
  if (item->handle) {
    CloseHandle(item->handle);
    item->handle = nullptr;
  }
  job->current += 1;
  return StartItem(job, writer, percent);
}

void CloseChunkWriter(ChunkWriter* writer) {
  CloseBlockStream(&writer->stream);
  writer->pending = nullptr;
  writer->pendingSize = 0;
  writer->blockEnded = false;
}
