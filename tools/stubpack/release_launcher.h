// Where the release launcher lies: installed beside stubpack by the release
// packages, so that `stubpack stamp` needs no --launcher.
#pragma once

#include <string>

// The path of the release launcher for this stubpack program: on Windows
// launcher.exe in stubpack.exe's folder, elsewhere
// ../share/msistub/launcher.exe from the folder of the stubpack program (as
// the Debian package installs them; STUBPACK_RELEASE_LAUNCHER, set by the
// build, names it relative to that folder). Empty when the program cannot
// find its own file. The file itself may be missing.
std::string ReleaseLauncherPath();
