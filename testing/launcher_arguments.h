// The arguments as the launcher gets them, for tests of the steps that take
// them: a command line split by the launcher's own SplitCommandLine.
#pragma once

#include <string>

#include "launcher/command_line.h"
#include "platform/fake/fake.h"

struct LauncherArguments {
  // arguments: what follows "setup.exe " on the command line, in UTF-8.
  explicit LauncherArguments(const std::string& arguments) {
    std::u16string line = u"setup.exe " + fake::Utf16(arguments);
    argv = SplitCommandLine(line.c_str(), &argc);
  }
  ~LauncherArguments() { LocalFree(argv); }
  LauncherArguments(const LauncherArguments&) = delete;
  LauncherArguments& operator=(const LauncherArguments&) = delete;
  WCHAR** argv = nullptr;
  int argc = 0;
};
