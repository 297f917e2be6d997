// Loading a system DLL from System32 by its full path, never from the
// launcher's folder or the current directory.
#pragma once

#include "platform/platform.h"

// The module of System32\<name>, loaded on first use; null with the last
// error set when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

// The address of procedure in System32\<library>; null with the last error
// set when the library or the procedure is missing.
FARPROC GetSystemProcedure(const char* library, const char* procedure);
