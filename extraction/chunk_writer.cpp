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

// Where the writer stands when a step begins.
enum class WriterState {
  Stopped,     // a block failed; the job ended there
  NotStarted,  // no step yet: no item is current
  Finished,    // every item is written and verified
  Decoding,    // the current block has content left to decode
  Writing,     // decoded content waits to be written (after a failed write, the rest)
  ItemDone,    // the current item is written and its block verified
};

bool InRange(const ExtractJob* job) { return job->current >= 0 && job->current < job->count; }

WriterState StateOf(const ExtractJob* job, const ChunkWriter* writer) {
  if (job->failure.code != 0) return WriterState::Stopped;
  if (job->current < 0) return WriterState::NotStarted;
  if (job->current >= job->count) return WriterState::Finished;
  if (writer->pendingSize > 0) return WriterState::Writing;
  if (!writer->blockEnded) return WriterState::Decoding;
  return WriterState::ItemDone;
}

}  // namespace

uint32_t WriteNextChunk(ExtractJob* job, ChunkWriter* writer, int32_t* percent) {
  ExtractItem* item = InRange(job) ? &job->items[job->current] : nullptr;
  switch (StateOf(job, writer)) {
    case WriterState::Stopped:
      // A block failed: the job stays ended, job->failure says why.
      return ERROR_FILE_CORRUPT;

    case WriterState::NotStarted:
      // The first step opens the first item's block and writes nothing.
      job->current = 0;
      return StartItem(job, writer, percent);

    case WriterState::Finished:
      // Every item is written and verified; asking again says so again.
      Report(percent, 100);
      return 0;

    case WriterState::Decoding: {
      // The next slice of the block, written in this same step when there is
      // something to write.
      Status status = ReadBlockSlice(&writer->stream, &writer->pending, &writer->pendingSize,
                                     &writer->blockEnded);
      if (status.code != 0) return Fail(job, writer, status);
      // Its file held this content before the run: the block is verified all
      // the same, and the file is left as it is.
      if (item->kept) writer->pendingSize = 0;
      if (writer->pendingSize == 0) {
        Report(percent, Percent(&writer->stream));
        return ERROR_MORE_DATA;
      }
      [[fallthrough]];
    }

    case WriterState::Writing: {
      // One WriteFile of what waits; what a failed or short write left is
      // what the next step (a retry) writes.
      DWORD done = 0;
      BOOL ok = WriteFile(item->handle, writer->pending, writer->pendingSize, &done, nullptr);
      if (done > writer->pendingSize) done = writer->pendingSize;
      item->written += done;
      writer->pending += done;
      writer->pendingSize -= done;
      Report(percent, Percent(&writer->stream));
      return ok && writer->pendingSize == 0 ? ERROR_MORE_DATA : ERROR_WRITE_FAULT;
    }

    case WriterState::ItemDone:
      // The item is written and its block verified: from now on its file is
      // held read-only until the installer has ended, and the next item's
      // block is opened.
      CloseBlockStream(&writer->stream);
      if (!item->held) {
        Status held = HoldWrittenFile(item);
        // Between the writer's close and the hold only the file's descriptor
        // keeps others out, and a volume without ACLs keeps none: there the
        // file is read again through the hold, so that only bytes that verify
        // are handed on.
        const PayloadSource* source = &job->sources->items[item->sourceIndex];
        if (held.code == 0 && (source->flags & SOURCE_SIGNED) && !VolumeKeepsAcls(item->handle) &&
            !FileHoldsBlockContent(item->handle, source, item->place)) {
          ReleaseItemFile(item);
          held = Status{ERROR_FILE_INVALID, LOC_OUTPUT_HOLD};
        }
        if (held.code != 0) return Fail(job, writer, held);
      }
      job->current += 1;
      return StartItem(job, writer, percent);
  }
  return ERROR_FILE_CORRUPT;  // not reached: every state is handled above
}

void CloseChunkWriter(ChunkWriter* writer) {
  CloseBlockStream(&writer->stream);
  writer->pending = nullptr;
  writer->pendingSize = 0;
  writer->blockEnded = false;
}
