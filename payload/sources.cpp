#include "payload/sources.h"

#include "launcher/launcher_state.h"

Status LoadPayloadSources(const uint8_t*, uint32_t) {
  return Status{ERROR_NOT_FOUND, LOC_BLOCK_NOT_FOUND};
}

void FreePayloadSources() {
  for (uint32_t i = 0; i < g_launcher.sourceCount; i++) {
    LocalFree(g_launcher.sources[i].data);
    LocalFree(g_launcher.sources[i].manifest);
  }
  LocalFree(g_launcher.sources);
  g_launcher.sources = nullptr;
  g_launcher.sourceCount = 0;
}
