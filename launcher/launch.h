// The launch sequence: every step of the launcher, in order, on one thread.
#pragma once

#include "payload/verify_signature.h"
#include "platform/platform.h"

// Runs the launcher from start to end and returns the process exit code: the
// final status code (0 on success, the installer's exit code, or a Windows
// error code). The run's state lives only for the call; the payload's blocks
// are checked with key (launcher.exe passes the one in its key section; a key
// without a blob makes every payload block fail as unusable).
int RunLauncher(HINSTANCE hInstance, int showCmd, VerificationKey key);
