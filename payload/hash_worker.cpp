#include "payload/hash_worker.h"

#include <cstring>

namespace {

// The worker: adds each slice handed over to the digest, in order, until it
// is told to stop or the system fails.
DWORD WINAPI HashSlices(LPVOID context) {
  HashWorker* worker = static_cast<HashWorker*>(context);
  AcquireSRWLockExclusive(&worker->lock);
  for (;;) {
    while (!worker->stopping && worker->hashed == worker->queued)
      SleepConditionVariableSRW(&worker->changed, &worker->lock, INFINITE, 0);
    if (worker->stopping) break;
    const uint32_t slot = worker->hashed % HASH_SLICES;
    const uint8_t* data = worker->slices[slot];
    const uint32_t size = worker->sizes[slot];
    // The slice is read outside the lock: the main thread fills other slots
    // meanwhile and leaves this one alone until hashed moves past it.
    ReleaseSRWLockExclusive(&worker->lock);
    const bool added = AddToContentDigest(worker->digest, data, size);
    AcquireSRWLockExclusive(&worker->lock);
    if (added)
      worker->hashed += 1;
    else
      worker->failed = true;
    WakeAllConditionVariable(&worker->changed);
    if (!added) break;
  }
  ReleaseSRWLockExclusive(&worker->lock);
  return 0;
}

}  // namespace

bool StartHashWorker(HashWorker* worker, ContentDigest* digest) {
  memset(worker, 0, sizeof *worker);
  worker->digest = digest;
  InitializeSRWLock(&worker->lock);
  InitializeConditionVariable(&worker->changed);
  worker->thread = CreateThread(nullptr, 0, HashSlices, worker, 0, nullptr);
  return worker->thread != nullptr;
}

uint32_t NextHashSlot(HashWorker* worker) {
  AcquireSRWLockExclusive(&worker->lock);
  while (!worker->failed && worker->queued - worker->hashed >= HASH_SLICES)
    SleepConditionVariableSRW(&worker->changed, &worker->lock, INFINITE, 0);
  const uint32_t slot = worker->failed ? uint32_t{HASH_SLICES} : worker->queued % HASH_SLICES;
  ReleaseSRWLockExclusive(&worker->lock);
  return slot;
}

bool QueueForHash(HashWorker* worker, const uint8_t* data, uint32_t size) {
  AcquireSRWLockExclusive(&worker->lock);
  const bool ok = !worker->failed;
  if (ok) {
    const uint32_t slot = worker->queued % HASH_SLICES;
    worker->slices[slot] = data;
    worker->sizes[slot] = size;
    worker->queued += 1;
    WakeAllConditionVariable(&worker->changed);
  }
  ReleaseSRWLockExclusive(&worker->lock);
  return ok;
}

bool WaitForHashes(HashWorker* worker) {
  AcquireSRWLockExclusive(&worker->lock);
  while (!worker->failed && worker->hashed != worker->queued)
    SleepConditionVariableSRW(&worker->changed, &worker->lock, INFINITE, 0);
  const bool ok = !worker->failed;
  ReleaseSRWLockExclusive(&worker->lock);
  return ok;
}

void StopHashWorker(HashWorker* worker) {
  if (worker->thread) {
    AcquireSRWLockExclusive(&worker->lock);
    worker->stopping = true;
    WakeAllConditionVariable(&worker->changed);
    ReleaseSRWLockExclusive(&worker->lock);
    WaitForSingleObject(worker->thread, INFINITE);
    CloseHandle(worker->thread);
  }
  memset(worker, 0, sizeof *worker);
}
