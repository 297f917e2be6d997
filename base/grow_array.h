// Growing a LocalAlloc array by one element, as every list of the launcher
// grows (the payload sources, the items to extract).
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Grows *array, which holds count elements (null when count is 0), to count
// + 1 elements; the new one is zeroed. False without memory: *array is then
// unchanged and still valid.
template <typename T>
bool GrowArrayByOne(T** array, size_t count) {
  const SIZE_T bytes = (static_cast<SIZE_T>(count) + 1) * sizeof(T);
  void* grown = *array ? LocalReAlloc(*array, bytes, LMEM_MOVEABLE | LMEM_ZEROINIT)
                       : LocalAlloc(LPTR, bytes);
  if (!grown) return false;
  *array = static_cast<T*>(grown);
  return true;
}
