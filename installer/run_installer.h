// Running msiexec.exe on the extracted package.
#pragma once

#include <cstdint>

#include "launcher/status.h"
#include "manifest/extract_job.h"

enum : uint32_t {
  INSTALLER_PATH_SIZE = 1024,
  MESSAGE_TEXT_SIZE = 2048,
  // Process creation takes at most this many characters of command line,
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

// Makes the installer's command line, `<installer> /i <package>` and every
// argument from argv[1] on, each part in double quotes when it holds a space
// character (a tab does not count), in a LocalAlloc buffer of its exact size
// that the caller frees. Nothing is ever cut or left out; instead:
// LE/8 at 2358 when the arguments cannot be converted to the ANSI code page,
// {206, 2362} when the line would exceed COMMAND_LINE_LIMIT, LE/8 at 2367
// when its buffer cannot be allocated; *commandLine is null on failure.
Status BuildInstallerCommandLine(const char* installerPath, const char* packagePath, WCHAR** argv,
                                 int argc, char** commandLine);

// Runs the installer on item 0 (job has at least one item) with argv[1..]
// passed on and the launcher's show command, waits for it and stores its exit
// code in *installerExitCode, which keeps its value when the code cannot be
// read (the launcher starts it at 1601). {0, 2349} when it returned 0;
// {exit code, 2349} with *noMessage set when it returned nonzero; LE/89 at 2355
// with messageText (MESSAGE_TEXT_SIZE bytes) holding the system text and the
// installer path when it cannot be started; the command-line failures above,
// messageText untouched, when it is not started at all.
Status RunInstaller(const ExtractJob* job, const char* installerPath, WCHAR** argv, int argc,
                    int showCmd, uint32_t* installerExitCode, char* messageText, bool* noMessage);
