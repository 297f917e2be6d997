// Running msiexec.exe on the extracted package.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "manifest/extract_job.h"

enum : uint32_t {
  INSTALLER_PATH_SIZE = 1024,
  MESSAGE_TEXT_SIZE = 2048,
  // Process creation takes at most this many UTF-16 units of command line,
  // the terminating zero included.
  COMMAND_LINE_LIMIT = 32767,
};

// Fills installerPath (INSTALLER_PATH_SIZE bytes) with <system folder>\msiexec.exe
// and returns true when that file exists. Only the system folder counts: the
// launcher's own folder and the current folder are never searched, since a
// msiexec.exe planted there would run with the launcher's administrator
// rights. False (installerPath empty) when the system folder is unavailable or
// holds no msiexec.exe.
bool FindInstaller(char* installerPath);

// Makes the installer's command line in UTF-16, `<installer> /i <package>` and
// every argument from argv[1] on exactly as split, each part in double quotes
// when it holds a space character (a tab does not count), in a LocalAlloc
// buffer of its exact size that the caller frees. Nothing is ever cut or left
// out; instead: {206, 2362} when the line would exceed COMMAND_LINE_LIMIT
// units, LE/8 at 2367 when its buffer cannot be allocated; *commandLine is
// null on failure.
Status BuildInstallerCommandLine(const WCHAR* installerPath, const WCHAR* packagePath, WCHAR** argv,
                                 int argc, WCHAR** commandLine);

// Runs the installer on item 0 (job has at least one item) with argv[1..]
// passed on and the launcher's show command, waits for it and stores its exit
// code in *installerExitCode, which keeps its value when the code cannot be
// read (the launcher starts it at 1601). The ANSI installer and package paths
// are converted to UTF-16 (LE/87 at 2358 when that fails) and the process is
// started with the UTF-16 command line, so no argument passes through the
// ANSI code page. {0, 2349} when it returned 0; {exit code, 2349} with
// *noMessage set when it returned nonzero; LE/89 at 2355 with messageText
// (MESSAGE_TEXT_SIZE bytes) holding the system text and the installer path
// when it cannot be started; the failures above, messageText untouched, when
// it is not started at all.
Status RunInstaller(const ExtractJob* job, const char* installerPath, WCHAR** argv, int argc,
                    int showCmd, uint32_t* installerExitCode, char* messageText, bool* noMessage);
