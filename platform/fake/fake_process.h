// Fake platform: processes: the scripted msiexec.exe.
#pragma once

namespace fake {

// State of the simulated process services; part of fake::World and reset with it.
struct ProcessState {};

}  // namespace fake
