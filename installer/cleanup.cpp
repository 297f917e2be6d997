#include "installer/cleanup.h"

bool IsProductRegistered(const char*) { return false; }

void CleanUpExtraction(ExtractJob* job, const char*, const char*, uint32_t) {
  for (int32_t i = 0; i < job->count; i++) {
    LocalFree(job->items[i].data);
    if (job->items[i].handle) CloseHandle(job->items[i].handle);
  }
  LocalFree(job->items);
  job->items = nullptr;
  job->count = 0;
}
