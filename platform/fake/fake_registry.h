// Fake platform: the registry.
#pragma once

namespace fake {

// State of the simulated registry services; part of fake::World and reset with it.
struct RegistryState {};

}  // namespace fake
