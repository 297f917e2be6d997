// The development key under keys/ as a verification key, for tests and test
// helpers that check what the development key signed. Never part of
// launcher.exe: its key lives in its key section (payload/key_section.h).
#pragma once

#include <cstdint>

#include "payload/verify_signature.h"

extern const uint8_t kDevelopmentKeyBlob[276];
inline constexpr VerificationKey kDevelopmentKey = {kDevelopmentKeyBlob,
                                                    sizeof kDevelopmentKeyBlob};
