// The launch sequence: every step of the launcher, in order, on one thread.
#pragma once

#include "platform/platform.h"

// Runs the launcher from start to end and returns the process exit code: the
// final status code (0 on success, the installer's exit code, or a Windows
// error code).
int RunLauncher(HINSTANCE hInstance, int showCmd);

// Strings loaded from the resources at step 7; the folder browser uses the
// third as its title.
extern char g_browseTitle[256];
