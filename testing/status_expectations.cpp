#include "testing/status_expectations.h"

#include "platform/fake/fake.h"

std::vector<uint32_t> AllocationFailureLocations(const std::function<Status()>& run,
                                                 const std::function<void()>& cleanUp,
                                                 uint32_t inflateLocation) {
  cleanUp();
  fake::Reset();
  EXPECT_EQ(run().code, 0u) << "the run must succeed without faults";
  const uint32_t calls = fake::W().memory.allocationCalls;
  std::vector<uint32_t> locations;
  for (uint32_t n = 1; n <= calls; n++) {
    cleanUp();
    fake::Reset();
    fake::W().memory.failAllocations = {n};
    const Status status = run();
    EXPECT_EQ(status.code, status.location == inflateLocation
                               ? static_cast<uint32_t>(ERROR_INVALID_DATA)
                               : static_cast<uint32_t>(ERROR_NOT_ENOUGH_MEMORY))
        << "allocation " << n;
    if (locations.empty() || locations.back() != status.location)
      locations.push_back(status.location);
  }
  return locations;
}
