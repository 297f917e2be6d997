// Fake platform: the folder browser, the shell allocator and the special-folder lookup.
#pragma once

namespace fake {

// State of the simulated shell services; part of fake::World and reset with it.
struct ShellState {};

}  // namespace fake
