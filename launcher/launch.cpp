#include "launcher/launch.h"

#include <cstdio>
#include <cstring>

#include "extraction/extraction_folder.h"
#include "extraction/progress_dialog.h"
#include "extraction/taskbar_progress.h"
#include "installer/cleanup.h"
#include "installer/run_installer.h"
#include "launcher/command_line.h"
#include "launcher/final_message.h"
#include "launcher/launcher_state.h"
#include "launcher/own_image.h"
#include "launcher/status.h"
#include "manifest/extraction_list.h"
#include "manifest/package_select.h"
#include "payload/sources.h"
#include "resources/resource.h"

char g_browseTitle[256];

namespace {

// What the launch sequence owns for the length of the run.
struct Run {
  Status status{0, 0};
  char messageText[MESSAGE_TEXT_SIZE] = {};
  bool noMessage = false;
  PackageMatch match = {};
  ExtractJob job = {};
  char extractDir[EXTRACT_DIR_SIZE] = {};
  char installerPath[INSTALLER_PATH_SIZE] = {};
  uint32_t installerExitCode = ERROR_INSTALL_SERVICE_FAILURE;  // 1601 until it has run
  char installerRequired[512] = {};
  char badPayload[256] = {};
};

// Steps 5 and 6: the own file into memory, then the payload out of it.
Status LoadPayload() {
  uint8_t* image = nullptr;
  uint32_t imageSize = 0;
  Status status = ReadOwnImage(g_launcher.modulePathW, &image, &imageSize);
  if (status.code == 0) {
    status = LoadPayloadSources(image, imageSize);
    LocalFree(image);
  }
  return status;
}

// Steps 9 to 14: from the verified payload to the installer's exit code.
void InstallFromPayload(Run& run) {
  g_launcher.taskbar = TaskbarProgress_Create();
  run.job.count = 0;
  run.job.current = -1;
  run.job.chunkSize = EXTRACT_CHUNK_SIZE;

  if (!SelectPackage(&run.match) || !BuildExtractionList(&run.match, &run.job)) {
    run.status = Status{ERROR_INVALID_DATA, LOC_NO_PACKAGE};
    snprintf(run.messageText, sizeof run.messageText, "%s", run.badPayload);
  } else if (!FindInstaller(run.installerPath)) {
    run.status = Status{1155, LOC_NO_INSTALLER};
    snprintf(run.messageText, sizeof run.messageText, "%s", run.installerRequired);
  } else {
    run.status = PrepareExtractionFolder(&run.match, &run.job, run.extractDir);
    if (run.status.code == ERROR_CANCELLED && run.status.location == LOC_BROWSE_CANCELLED)
      run.noMessage = true;
    if (run.status.code == 0 &&
        RunProgressDialog(&run.job, "MSI_STUB_WINDOW_CLASS_NAME", run.match.productName,
                          "MS Sans Serif") != 1) {
      run.status = Status{ERROR_WRITE_FAULT, LOC_PROGRESS_FAILED};
      run.noMessage = true;
    }
    if (run.status.code == 0) {
      run.status = RunInstaller(&run.job, run.installerPath, g_launcher.argv, g_launcher.argc,
                                g_launcher.showCmd, &run.installerExitCode, run.messageText,
                                &run.noMessage);
    }
  }

  CleanUpExtraction(&run.job, run.extractDir, run.match.productCode, run.installerExitCode);
  TaskbarProgress_Destroy(g_launcher.taskbar);
  g_launcher.taskbar = nullptr;
}

}  // namespace

int RunLauncher(HINSTANCE hInstance, int showCmd) {
  // Before anything can load a DLL: an elevated setup program must never pick
  // one up from the folder it was downloaded to.
  RestrictDllSearchToSystem32();

  Run run;
  InitCommonControls();
  CoInitialize(nullptr);

  memset(&g_launcher, 0, sizeof g_launcher);
  g_launcher.hInstance = hInstance;
  g_launcher.showCmd = showCmd;
  g_launcher.lcid = GetUserDefaultLCID();

  g_launcher.argv = SplitCommandLine(GetCommandLineW(), &g_launcher.argc);
  if (!g_launcher.argv) {
    run.status = MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_COMMAND_LINE);
  } else if (!(g_launcher.modulePath = GetModulePath())) {
    run.status = Status{1921, LOC_MODULE_PATH};
  } else if (!(g_launcher.modulePathW = GetModulePathW())) {
    run.status = Status{1921, LOC_MODULE_PATH_UTF16};
  } else {
    run.status = LoadPayload();
    LoadStringA(hInstance, IDS_INSTALLER_REQUIRED, run.installerRequired,
                sizeof run.installerRequired);
    LoadStringA(hInstance, IDS_BAD_PAYLOAD, run.badPayload, sizeof run.badPayload);
    LoadStringA(hInstance, IDS_BROWSE_TITLE, g_browseTitle, sizeof g_browseTitle);
    if (run.status.code != 0)
      snprintf(run.messageText, sizeof run.messageText, "%s", run.badPayload);
    else
      InstallFromPayload(run);
  }

  if (HasQuietSwitch(g_launcher.argv, g_launcher.argc)) run.noMessage = true;
  ShowFinalMessage(run.status, run.messageText, run.noMessage, g_launcher.modulePath);

  FreePayloadSources();
  LocalFree(g_launcher.modulePath);
  LocalFree(g_launcher.modulePathW);
  LocalFree(g_launcher.argv);
  g_launcher.modulePath = nullptr;
  g_launcher.modulePathW = nullptr;
  g_launcher.argv = nullptr;
  g_launcher.argc = 0;
  CoUninitialize();
  return static_cast<int>(run.status.code);
}
