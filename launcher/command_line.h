// Splitting the launcher's own command line, and its own file's path.
#pragma once

#include "platform/platform.h"

// Splits commandLine into arguments. Whitespace (space, tab, CR, LF) outside
// quotes separates them; a double quote opens or closes a quoted stretch
// anywhere in an argument and is dropped; there are no escapes. Returns one
// LocalAlloc block holding the null-terminated pointer array followed by the
// characters, and the count in *argc; the caller frees the block with
// LocalFree. Null (last error set) only when the block cannot be allocated.
WCHAR** SplitCommandLine(const WCHAR* commandLine, int* argc);

// The full ANSI path of the launcher's own file, in a LocalAlloc buffer the
// caller frees: the name its message boxes show. Grows its buffer past
// MAX_PATH as needed. Null when the allocation fails or the system cannot give
// the path.
char* GetModulePath();

// The same path in UTF-16, whole even where the ANSI code page cannot hold its
// characters: the path that opens the own file. Grows its buffer past MAX_PATH
// as needed. Null when the allocation fails or the system cannot give the path.
WCHAR* GetModulePathW();
