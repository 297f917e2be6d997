#include "extraction/chunk_writer.h"

#include "extraction/file_content.h"
#include "extraction/output_file.h"
#include "platform/platform.h"

namespace {

void Report(int32_t* percent, int32_t value) {
  if (percent) *percent = value;
}

// The quotient first, then the scaling: a share just below 0.29 reports 28.
int32_t Percent(const BlockStream* stream) {
  return static_cast<int32_t>(BlockStreamProgress(stream) * 100.0);
}

uint32_t Fail(ExtractJob* job, Status status) {
  job->failure = status;
  CloseBlockStream(&job->stream);
  job->current = job->count;
  return ERROR_FILE_CORRUPT;
}

// Makes job->current the item being written: opens its block's stream, or
// reports that every item is done.
uint32_t StartItem(ExtractJob* job, int32_t* percent) {
  job->pending = nullptr;
  job->pendingSize = 0;
  job->blockEnded = false;
  if (job->current >= job->count) {
    Report(percent, 100);
    return 0;
  }
  const ExtractItem* item = &job->items[job->current];
  Status status =
      OpenBlockStream(&job->stream, &job->sources->items[item->sourceIndex], item->place);
  if (status.code != 0) return Fail(job, status);
  Report(percent, 0);
  return ERROR_MORE_DATA;
}

}  // namespace

uint32_t WriteNextChunk(ExtractJob* job, int32_t* percent) {
  if (job->failure.code != 0) return ERROR_FILE_CORRUPT;
  if (job->current < 0) {
    job->current = 0;
    return StartItem(job, percent);
  }
  if (job->current >= job->count) {
    Report(percent, 100);
    return 0;
  }
  ExtractItem* item = &job->items[job->current];

  if (job->pendingSize == 0 && !job->blockEnded) {
    Status status =
        ReadBlockSlice(&job->stream, &job->pending, &job->pendingSize, &job->blockEnded);
    if (status.code != 0) return Fail(job, status);
    // Its file held this content before the run: the block is verified all
    // the same, and the file is left as it is.
    if (item->kept) job->pendingSize = 0;
    if (job->pendingSize == 0) {
      Report(percent, Percent(&job->stream));
      return ERROR_MORE_DATA;
    }
  }
  if (job->pendingSize > 0) {
    DWORD done = 0;
    BOOL ok = WriteFile(item->handle, job->pending, job->pendingSize, &done, nullptr);
    if (done > job->pendingSize) done = job->pendingSize;
    item->written += done;
    job->pending += done;
    job->pendingSize -= done;
    Report(percent, Percent(&job->stream));
    return ok && job->pendingSize == 0 ? ERROR_MORE_DATA : ERROR_WRITE_FAULT;
  }
  // The item is written and its block verified: from now on its file is
  // held read-only until the installer has ended.
  CloseBlockStream(&job->stream);
  if (!item->held) {
    Status held = HoldWrittenFile(item);
    // Between the writer's close and the hold nothing but the file's
    // descriptor keeps others out, and a volume without ACLs has none: the
    // file is read again through the hold, so that only bytes that verify
    // are handed on.
    const PayloadSource* source = &job->sources->items[item->sourceIndex];
    if (held.code == 0 && (source->flags & SOURCE_SIGNED) &&
        !FileHoldsBlockContent(item->handle, source, item->place)) {
      ReleaseItemFile(item);
      held = Status{ERROR_FILE_INVALID, LOC_OUTPUT_HOLD};
    }
    if (held.code != 0) return Fail(job, held);
  }
  job->current += 1;
  return StartItem(job, percent);
}
