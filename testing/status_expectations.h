// Checks on Status values shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "base/status.h"

#define EXPECT_STATUS(actual, code_, location_)               \
  do {                                                        \
    Status s_ = (actual);                                     \
    EXPECT_EQ(s_.code, static_cast<uint32_t>(code_));         \
    EXPECT_EQ(s_.location, static_cast<uint32_t>(location_)); \
  } while (0)

// Runs `run` once to count its allocations, then once more for each of them
// with just that allocation failing (fake::Reset() before every run, after
// `cleanUp`). Every failing run must report ERROR_NOT_ENOUGH_MEMORY, or
// ERROR_INVALID_DATA where the failure falls inside decompression at
// `inflateLocation`. Returns the distinct failure locations in the order the
// allocations happen.
std::vector<uint32_t> AllocationFailureLocations(const std::function<Status()>& run,
                                                 const std::function<void()>& cleanUp,
                                                 uint32_t inflateLocation);
