// Fake platform: threads. CreateThread runs the routine on a host thread;
// the lock and condition variable are POSIX ones (platform/host/host_sync).
// The fake counts what is left running, so that a test can check that every
// thread it caused has ended.
#pragma once

#include <cstdint>
#include <optional>
#include <thread>

#include "platform/platform.h"

namespace fake {

// State of the simulated threads; part of fake::World and reset with it.
struct ThreadState {
  std::optional<DWORD> failCreate;  // CreateThread fails with this last error
  uint32_t created = 0;             // threads started
  int openHandles = 0;              // thread handles not yet closed
};

// Threads started by CreateThread whose routine has not returned yet, over
// every world (a thread left running outlives the reset of its world).
int RunningThreads();

// True on a thread started by CreateThread, false on the test's own.
bool OnCreatedThread();

}  // namespace fake
