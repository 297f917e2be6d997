// Hashing a block's content on a second thread while the main thread reads,
// inflates and writes the next slice. The main thread hands slices over in
// order; the worker adds them to the block's digest in the same order. At
// most HASH_SLICES slices are handed over and not yet hashed, so the caller
// needs no more than HASH_SLICES content buffers, used in turn: the slot
// NextHashSlot names is free to be filled again.
#pragma once

#include <cstdint>

#include "payload/verify_signature.h"
#include "platform/platform.h"

enum : uint32_t { HASH_SLICES = 3 };

// The worker and what it shares with the main thread. Everything but thread
// and digest is guarded by lock; changed is signalled whenever queued,
// hashed, failed or stopping changes. It must stay where it was started.
struct HashWorker {
  HANDLE thread;          // null when not running
  ContentDigest* digest;  // not owned: the worker adds to it while running
  SRWLOCK lock;
  CONDITION_VARIABLE changed;
  const uint8_t* slices[HASH_SLICES];  // handed-over slice n is at n % HASH_SLICES
  uint32_t sizes[HASH_SLICES];
  uint32_t queued;  // slices handed over
  uint32_t hashed;  // of those, added to the digest
  bool failed;      // the system could not add a slice: nothing more is added
  bool stopping;    // the worker is to end after the slice in hand
};

// Starts the thread on *worker (zeroed or stopped), adding to *digest (begun,
// and left alone by the caller until the worker stops or WaitForHashes says
// all is added). False when the thread cannot start: last error set, nothing
// left running.
bool StartHashWorker(HashWorker* worker, ContentDigest* digest);

// Waits until fewer than HASH_SLICES slices wait for the worker, and returns
// the slot (0 to HASH_SLICES - 1) the next slice handed over will take: its
// buffer is no longer read by the worker. HASH_SLICES when the worker has
// failed.
uint32_t NextHashSlot(HashWorker* worker);

// Hands size bytes at data over to be hashed after the slices before it; the
// bytes must stay unchanged until the worker has hashed them (until
// NextHashSlot names this slot again, or WaitForHashes returns). Call after
// NextHashSlot. False when the worker has failed.
bool QueueForHash(HashWorker* worker, const uint8_t* data, uint32_t size);

// Waits until every slice handed over has been hashed. False when the worker
// failed: the digest must then be ended and its result not used.
bool WaitForHashes(HashWorker* worker);

// Ends the thread (after the slice it is adding, if any; slices still waiting
// are dropped), waits for it, closes its handle and zeroes *worker. Safe on a
// zeroed or stopped worker.
void StopHashWorker(HashWorker* worker);
