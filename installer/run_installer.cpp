#include "installer/run_installer.h"

bool FindInstaller(char*) { return false; }

Status RunInstaller(const ExtractJob*, const char*, WCHAR**, int, int, uint32_t*, char*, bool*) {
  return Status{ERROR_NO_PROC_SLOTS, LOC_INSTALLER_START};
}
