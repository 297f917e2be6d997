// Process-wide state of the launcher, created at start and released at exit.
#pragma once

#include <cstdint>

#include "extraction/taskbar_progress.h"
#include "payload/payload_source.h"
#include "platform/platform.h"

struct LauncherState {
  uint32_t lcid;              // locale to match packages against
  PayloadSource* sources;     // owned, in discovery order (LocalAlloc array)
  uint32_t sourceCount;
  HINSTANCE hInstance;        // for resources, icons and windows
  int showCmd;                // passed on to the installer
  int argc;
  WCHAR** argv;               // owned block from SplitCommandLine; argv[0] is the program
  char* modulePath;           // owned, full ANSI path of the launcher's own file
  WCHAR* modulePathW;         // owned, the same in UTF-16: the path that opens it
  TaskbarProgress* taskbar;   // may be null
};

extern LauncherState g_launcher;
