// The state of one launcher run: created at its start by the launch sequence,
// which owns it, passes each step what that step needs and releases it at
// the end.
#pragma once

#include <cstdint>

#include "extraction/taskbar_progress.h"
#include "payload/payload_source.h"
#include "platform/platform.h"

struct LauncherState {
  uint32_t lcid;              // locale to match packages against
  PayloadSources sources;     // owned, in discovery order
  HINSTANCE hInstance;        // for resources, icons and windows
  int showCmd;                // passed on to the installer
  int argc;
  WCHAR** argv;               // owned block from SplitCommandLine; argv[0] is the program
  char* modulePath;           // owned, full ANSI path of the launcher's own file
  WCHAR* modulePathW;         // owned, the same in UTF-16: the path that opens it
  TaskbarProgress* taskbar;   // may be null
  HANDLE ownFile;             // owned: the own file, open for reading all run long; or null
  uint32_t ownFileSize;       // its size, below 4 GiB
};
