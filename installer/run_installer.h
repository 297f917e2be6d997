// Running msiexec.exe on the extracted package.
#pragma once

#include <cstdint>

#include "launcher/status.h"
#include "manifest/extract_job.h"

enum : uint32_t { INSTALLER_PATH_SIZE = 1024, MESSAGE_TEXT_SIZE = 2048 };

// Finds msiexec.exe; false when it is not there.
bool FindInstaller(char* installerPath);

// Runs the installer on item 0 with argv[1..] passed on, waits, and stores its
// exit code in *installerExitCode. {0, ...} when it returned 0; {exit code,
// 2349} with *noMessage set when it returned nonzero; {LE/89, 2355} with
// messageText filled when it cannot be started.
Status RunInstaller(const ExtractJob* job, const char* installerPath, WCHAR** argv, int argc,
                    int showCmd, uint32_t* installerExitCode, char* messageText,
                    bool* noMessage);
