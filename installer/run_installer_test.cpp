// Finding msiexec.exe, its command line, and running it on the fake platform,
// where msiexec.exe is a scripted installer that records how it was started.
#include "installer/run_installer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/fake/fake.h"
#include "testing/launcher_arguments.h"

namespace {

const char* kMsiexec = "C:\\Windows\\system32\\msiexec.exe";
const char* kPackage = "C:\\Windows\\Installer\\{1D8E6291-B0D5-35EC-8441-6616F567A0F7}\\main.msi";

// The installer's command line for the given paths and launcher arguments
// (all UTF-8 here), in UTF-8, or "<none>".
std::string Build(const std::string& installer, const std::string& package,
                  const std::string& arguments, Status* status = nullptr) {
  LauncherArguments args(arguments);
  WCHAR* line = nullptr;
  Status result = BuildInstallerCommandLine(
      fake::Utf16(installer).c_str(), fake::Utf16(package).c_str(), args.argv, args.argc, &line);
  if (status) *status = result;
  std::string text = line ? fake::Utf8(line) : "<none>";
  LocalFree(line);
  return text;
}

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::AddFile(kMsiexec, {});
    fake::AddFile(kPackage, {'M', 'S', 'I'});
    fake::W().texts.systemMessages[2] = "The system cannot find the file specified.\r\n";
    fake::W().texts.systemMessages[5] = "Access is denied.\r\n";
    snprintf(job.items[0].path, sizeof job.items[0].path, "%s", kPackage);
  }
  void TearDown() override {
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_TRUE(fake::W().handles.empty());
  }

  Status Run(const std::string& arguments, int showCmd = 1) {
    LauncherArguments args(arguments);
    return RunInstaller(&job, kMsiexec, args.argv, args.argc, showCmd, &exitCode, messageText,
                        &noMessage);
  }

  ExtractItem item = {};
  ExtractJob job = {&item, 1, -1};
  uint32_t exitCode = 1601;
  char messageText[MESSAGE_TEXT_SIZE] = {};
  bool noMessage = false;
};

// ---------------------------------------------------------------- finding it

TEST_F(InstallerTest, FindsMsiexecInTheSystemFolder) {
  char path[INSTALLER_PATH_SIZE];
  ASSERT_TRUE(FindInstaller(path));
  EXPECT_STREQ(path, kMsiexec);
}

// A msiexec.exe beside the launcher (the downloads folder) or in the current
// folder would run elevated; only the system folder's own counts.
TEST_F(InstallerTest, NeverTakesMsiexecFromOutsideTheSystemFolder) {
  fake::W().files.nodes.erase(fake::Key(kMsiexec));
  fake::AddFile("C:\\Users\\Ann\\Downloads\\msiexec.exe", {'M', 'Z'});
  fake::AddFile("C:\\Windows\\msiexec.exe", {'M', 'Z'});
  char path[INSTALLER_PATH_SIZE] = "stale";
  EXPECT_FALSE(FindInstaller(path));
  EXPECT_STREQ(path, "");

  fake::AddFile(kMsiexec, {});
  fake::W().files.systemDirectory.clear();
  EXPECT_FALSE(FindInstaller(path));
}

// ---------------------------------------------------------------- the command line

struct QuotingCase {
  const char* arguments;  // the launcher's command line after its program name
  const char* passed;     // what follows the package on the installer's line
};

TEST_F(InstallerTest, ArgumentsAreQuotedOnlyWhenTheyHoldASpace) {
  const QuotingCase cases[] = {
      {"", ""},
      {"/qn", " /qn"},
      {"/qn INSTALLDIR=\"C:\\Program Files\\X\"", " /qn \"INSTALLDIR=C:\\Program Files\\X\""},
      {"\"a b\"", " \"a b\""},
      {"\"a\tb\"", " a\tb"},                          // a tab does not count
      {"x \"\" y", " x  y"},                          // an empty argument is a lone space
      {"/l*v C:\\log.txt", " /l*v C:\\log.txt"},      // no escaping of any kind
      {"\"C:\\My Dir\\\"", " \"C:\\My Dir\\\""},      // nor a backslash before a quote
      {"NAME=M\xC3\xBCller", " NAME=M\xC3\xBCller"},  // as typed
  };
  for (const QuotingCase& c : cases) {
    EXPECT_EQ(Build(kMsiexec, kPackage, c.arguments),
              std::string(kMsiexec) + " /i " + kPackage + c.passed)
        << c.arguments;
  }
}

TEST_F(InstallerTest, InstallerAndPackagePathsAreQuotedWhenTheyHoldASpace) {
  EXPECT_EQ(Build("C:\\Win dows\\msiexec.exe", "D:\\My Files\\{P}\\main.msi", "/qn"),
            "\"C:\\Win dows\\msiexec.exe\" /i \"D:\\My Files\\{P}\\main.msi\" /qn");
}

// Arguments reach msiexec exactly as typed, whatever the ANSI code page can
// hold: a full-width quotation mark (which the page maps to '"' by best fit)
// cannot end a quoted stretch and smuggle in a switch, and letters outside the
// page do not become '?'. The ANSI package path converts without loss.
TEST_F(InstallerTest, ArgumentsReachTheInstallerExactlyAsTypedOnASingleByteCodePage) {
  fake::W().system.codePage = fake::CodePage::SingleByte;
  const std::string package = "C:\\M\xFCller\\{P}\\main.msi";  // in the code page: Müller
  snprintf(job.items[0].path, sizeof job.items[0].path, "%s", package.c_str());
  const QuotingCase cases[] = {
      {"/qn \"P=＂ /l*v C:\\x.log ＂\"", " /qn \"P=＂ /l*v C:\\x.log ＂\""},  // U+FF02
      {"INSTALLDIR=C:\\Про\\Demo", " INSTALLDIR=C:\\Про\\Demo"},
      {"NAME=Müller 😀", " NAME=Müller 😀"},
  };
  for (const QuotingCase& c : cases) {
    fake::W().process.launches.clear();
    EXPECT_EQ(Run(c.arguments).code, 0u) << c.arguments;
    ASSERT_EQ(fake::W().process.launches.size(), 1u);
    EXPECT_EQ(fake::W().process.launches[0].wideCommandLine,
              fake::Utf16(std::string(kMsiexec) + " /i C:\\Müller\\{P}\\main.msi" + c.passed))
        << c.arguments;
  }
}

// The line may take every character process creation allows, and not one more;
// nothing is ever cut.
TEST_F(InstallerTest, CommandLineUpToTheSystemLimitAndNotBeyond) {
  const size_t prefix = strlen(kMsiexec) + 4 + strlen(kPackage) + 1;  // up to the argument
  std::string fits(COMMAND_LINE_LIMIT - 1 - prefix, 'x');
  Status status{};
  std::string line = Build(kMsiexec, kPackage, fits, &status);
  EXPECT_EQ(status.code, 0u);
  EXPECT_EQ(line.size(), COMMAND_LINE_LIMIT - 1u);
  EXPECT_EQ(line.substr(line.size() - fits.size()), fits);

  EXPECT_EQ(Build(kMsiexec, kPackage, fits + "x", &status), "<none>");
  EXPECT_EQ(status.code, static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_INSTALLER_COMMAND_LINE_TOO_LONG));

  // The quotes an argument needs count too: unquoted this argument would fit; with its quotes it
  // does not.
  std::string spaced = fits.substr(3) + " x";
  EXPECT_EQ(Build(kMsiexec, kPackage, "\"" + spaced + "\"", &status), "<none>");
  EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_INSTALLER_COMMAND_LINE_TOO_LONG));

  // The limit counts UTF-16 units, not bytes of any code page: a letter of two
  // UTF-8 bytes counts one, a character beyond the basic plane counts two.
  std::string cyrillic;
  for (size_t i = 0; i < fits.size(); i++) cyrillic += "Ж";
  line = Build(kMsiexec, kPackage, cyrillic, &status);
  EXPECT_EQ(status.code, 0u);
  EXPECT_EQ(fake::Utf16(line).size(), COMMAND_LINE_LIMIT - 1u);
  std::string emoji = fits.substr(1) + "😀";  // one unit too many
  EXPECT_EQ(Build(kMsiexec, kPackage, emoji, &status), "<none>");
  EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_INSTALLER_COMMAND_LINE_TOO_LONG));
}

TEST_F(InstallerTest, CommandLineWithoutMemoryStopsInsteadOfDroppingArguments) {
  LauncherArguments args("/qn \"INSTALLDIR=C:\\Program Files\\X\"");
  fake::W().memory.failAllocations = {fake::W().memory.allocationCalls + 1};  // the line, the only allocation
  WCHAR* line = reinterpret_cast<WCHAR*>(1);
  Status status =
      BuildInstallerCommandLine(u"C:\\msiexec.exe", u"C:\\main.msi", args.argv, args.argc, &line);
  EXPECT_EQ(status.code, static_cast<uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_INSTALLER_COMMAND_LINE_NO_MEMORY));
  EXPECT_EQ(line, nullptr);
}

// ---------------------------------------------------------------- running it

TEST_F(InstallerTest, RunsMsiexecOnThePackageWithTheLauncherShowCommand) {
  Status status = Run("/qn INSTALLDIR=\"C:\\Program Files\\X\"", 3);
  EXPECT_EQ(status.code, 0u);
  EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_INSTALLER_EXIT));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_FALSE(noMessage);
  EXPECT_EQ(fake::W().process.installerRuns, 1u);  // waited for to its end
  ASSERT_EQ(fake::W().process.launches.size(), 1u);
  const fake::ProcessLaunch& launch = fake::W().process.launches[0];
  EXPECT_EQ(launch.application, kMsiexec);
  EXPECT_EQ(launch.commandLine,
            std::string(kMsiexec) + " /i " + kPackage + " /qn \"INSTALLDIR=C:\\Program Files\\X\"");
  EXPECT_EQ(launch.startupSize, 104u);
  EXPECT_EQ(launch.startupFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
  EXPECT_EQ(launch.showWindow, 3);
  EXPECT_EQ(launch.creationFlags, 0u);
  EXPECT_FALSE(launch.inheritHandles);
  EXPECT_FALSE(launch.processSecurity || launch.threadSecurity || launch.environment ||
               launch.currentDirectory);
}

TEST_F(InstallerTest, NonzeroExitCodeBecomesTheSilentStatus) {
  for (DWORD code : {1602u, 1603u, 3010u}) {
    exitCode = 1601;
    noMessage = false;
    fake::W().process.installer.exitCode = code;
    Status status = Run("/passive");
    EXPECT_EQ(status.code, code);
    EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_INSTALLER_EXIT));
    EXPECT_EQ(exitCode, code);
    EXPECT_TRUE(noMessage);
    EXPECT_STREQ(messageText, "");
  }
}

TEST_F(InstallerTest, UnreadableExitCodeCountsAs1601) {
  fake::W().process.installer.exitCodeUnreadable = true;
  Status status = Run("");
  EXPECT_EQ(status.code, 1601u);
  EXPECT_EQ(exitCode, 1601u);
  EXPECT_TRUE(noMessage);
}

TEST_F(InstallerTest, ProcessThatCannotStartGivesTheSystemTextWithTheInstallerPath) {
  fake::W().process.installer.startError = ERROR_ACCESS_DENIED;
  Status status = Run("/qn");
  EXPECT_EQ(status.code, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_INSTALLER_START));
  EXPECT_STREQ(messageText, "Access is denied (C:\\Windows\\system32\\msiexec.exe).");
  EXPECT_FALSE(noMessage);
  EXPECT_EQ(exitCode, 1601u);

  // Gone between the search and the start.
  fake::W().process.installer.startError = 0;
  fake::W().files.nodes.erase(fake::Key(kMsiexec));
  status = Run("/qn");
  EXPECT_EQ(status.code, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_STREQ(messageText,
               "The system cannot find the file specified (C:\\Windows\\system32\\msiexec.exe).");
}

TEST_F(InstallerTest, OverlongCommandLineRunsNothing) {
  Status status = Run(std::string(COMMAND_LINE_LIMIT, 'x'));
  EXPECT_EQ(status.code, static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(status.location, static_cast<uint32_t>(LOC_INSTALLER_COMMAND_LINE_TOO_LONG));
  EXPECT_TRUE(fake::W().process.launches.empty());
  EXPECT_STREQ(messageText, "");  // the final message is composed from the status
  EXPECT_FALSE(noMessage);
  EXPECT_EQ(exitCode, 1601u);
}

}  // namespace
