// Fake platform: COM objects: the taskbar list.
#pragma once

namespace fake {

// State of the simulated com services; part of fake::World and reset with it.
struct ComState {};

}  // namespace fake
