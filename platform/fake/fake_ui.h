// Fake platform: the progress window, its dialog pump, timers, icons and the progress bar.
#pragma once

namespace fake {

// State of the simulated ui services; part of fake::World and reset with it.
struct UiState {};

}  // namespace fake
