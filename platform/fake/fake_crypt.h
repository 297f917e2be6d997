// Fake platform: PKCS#7 and certificate decoding.
#pragma once

namespace fake {

// State of the simulated crypt services; part of fake::World and reset with it.
struct CryptState {};

}  // namespace fake
