#include "launcher/launch.h"

#include "base/status.h"
#include "base/text_format.h"
#include "extraction/extraction_folder.h"
#include "extraction/output_file.h"
#include "extraction/progress_dialog.h"
#include "extraction/taskbar_progress.h"
#include "installer/cleanup.h"
#include "installer/run_installer.h"
#include "launcher/command_line.h"
#include "launcher/final_message.h"
#include "launcher/launcher_state.h"
#include "launcher/own_image.h"
#include "manifest/extraction_list.h"
#include "manifest/package_select.h"
#include "payload/sources.h"
#include "resources/resource.h"

namespace {

// What the launch sequence owns for the length of the run.
struct Run {
  LauncherState state = {};
  Status status{0, 0};
  char messageText[MESSAGE_TEXT_SIZE] = {};
  bool noMessage = false;
  PackageMatch match = {};
  ExtractJob job = {};
  char extractDir[EXTRACT_DIR_SIZE] = {};
  ProductFolder folder = {};  // pinned from the extraction to the clean-up
  char installerPath[INSTALLER_PATH_SIZE] = {};
  uint32_t installerExitCode = ERROR_INSTALL_SERVICE_FAILURE;  // 1601 until it has run
  char installerRequired[512] = {};
  char badPayload[256] = {};
  char browseTitle[256] = {};  // the folder browser's title
};

// Steps 5 and 6: the own file opened for the whole run, then the payload
// read out of it where it lies into state->sources, checked with key.
Status LoadPayload(LauncherState* state, VerificationKey key) {
  Status status = OpenOwnImage(state->modulePathW, &state->ownFile, &state->ownFileSize);
  if (status.code != 0) return status;
  PayloadSource image = {};
  image.file = state->ownFile;
  image.size = state->ownFileSize;
  return LoadPayloadSources(&image, key, &state->sources);
}

// The run's status when a block of the chosen package fails while it is
// written: the own file that cannot be read is that, anything else is the
// package that cannot be extracted, as when it fails before.
Status PackageFailure(Status block) {
  if (block.location == LOC_FILE_READ) return Status{ERROR_READ_FAULT, LOC_IMAGE_READ};
  if (block.location == LOC_OUTPUT_HOLD) return block;
  return Status{ERROR_INVALID_DATA, LOC_NO_PACKAGE};
}

// Steps 9 to 14: from the verified payload to the installer's exit code.
void InstallFromPayload(Run& run) {
  LauncherState& state = run.state;
  state.taskbar = TaskbarProgress_Create();
  run.job.count = 0;
  run.job.current = -1;

  if (!SelectPackage(&state.sources, state.lcid, &run.match) ||
      !BuildExtractionList(&state.sources, &run.match, &run.job)) {
    run.status = Status{ERROR_INVALID_DATA, LOC_NO_PACKAGE};
    FormatText(run.messageText, sizeof run.messageText, "%s", run.badPayload);
  } else if (!FindInstaller(run.installerPath)) {
    run.status = Status{ERROR_NO_ASSOCIATION, LOC_NO_INSTALLER};
    FormatText(run.messageText, sizeof run.messageText, "%s", run.installerRequired);
  } else {
    run.status = PrepareExtractionFolder(&run.match, &run.job, run.browseTitle, run.extractDir,
                                         &run.folder);
    if (run.status.code == ERROR_CANCELLED && run.status.location == LOC_BROWSE_CANCELLED)
      run.noMessage = true;
    if (run.status.code == 0) {
      int written = RunProgressDialog(&run.job, state.hInstance, state.taskbar,
                                      "MSI_STUB_WINDOW_CLASS_NAME", run.match.productName,
                                      "MS Sans Serif");
      if (written == PROGRESS_BAD_BLOCK) {
        // A block of the package did not decode or verify while it was
        // written: the payload is as unusable as if it had failed before, and
        // nothing this run wrote may stay for anyone to install.
        // A written file that cannot be held is not the payload's fault: the
        // message then names the system's error.
        run.status = PackageFailure(run.job.failure);
        if (run.status.location != LOC_OUTPUT_HOLD)
          FormatText(run.messageText, sizeof run.messageText, "%s", run.badPayload);
        RollBackExtraction(&run.job, &run.folder);
      } else if (written != PROGRESS_WRITTEN) {
        run.status = Status{ERROR_WRITE_FAULT, LOC_PROGRESS_FAILED};
        run.noMessage = true;
        // A file cut short was never verified: it goes even where the
        // clean-up keeps the files of a registered product.
        RemoveUnfinishedFiles(&run.job);
      }
    }
    if (run.status.code == 0) {
      run.status = RunInstaller(&run.job, run.installerPath, state.argv, state.argc,
                                state.showCmd, &run.installerExitCode, run.messageText,
                                &run.noMessage);
    }
  }

  CleanUpExtraction(&run.job, &run.folder, run.match.productCode, run.installerExitCode);
  TaskbarProgress_Destroy(state.taskbar);
  state.taskbar = nullptr;
}

}  // namespace

int RunLauncher(HINSTANCE hInstance, int showCmd, VerificationKey key) {
  // Before anything can load a DLL: an elevated setup program must never pick
  // one up from the folder it was downloaded to.
  RestrictDllSearchToSystem32();

  Run run;
  LauncherState& state = run.state;
  InitCommonControls();
  CoInitialize(nullptr);

  state.hInstance = hInstance;
  state.showCmd = showCmd;
  state.lcid = GetUserDefaultLCID();

  state.argv = SplitCommandLine(GetCommandLineW(), &state.argc);
  if (!state.argv) {
    run.status = MakeStatus(GetLastError, ERROR_NOT_ENOUGH_MEMORY, LOC_COMMAND_LINE);
  } else if (!(state.modulePath = GetModulePath())) {
    run.status = Status{ERROR_CANT_RESOLVE_FILENAME, LOC_MODULE_PATH};
  } else if (!(state.modulePathW = GetModulePathW())) {
    run.status = Status{ERROR_CANT_RESOLVE_FILENAME, LOC_MODULE_PATH_UTF16};
  } else {
    run.status = LoadPayload(&state, key);
    LoadStringA(hInstance, IDS_INSTALLER_REQUIRED, run.installerRequired,
                sizeof run.installerRequired);
    LoadStringA(hInstance, IDS_BAD_PAYLOAD, run.badPayload, sizeof run.badPayload);
    LoadStringA(hInstance, IDS_BROWSE_TITLE, run.browseTitle, sizeof run.browseTitle);
    if (run.status.code != 0)
      FormatText(run.messageText, sizeof run.messageText, "%s", run.badPayload);
    else
      InstallFromPayload(run);
  }

  if (HasQuietSwitch(state.argv, state.argc)) run.noMessage = true;
  ShowFinalMessage(run.status, run.messageText, run.noMessage, state.modulePath);

  FreePayloadSources(&state.sources);
  if (state.ownFile) CloseHandle(state.ownFile);
  LocalFree(state.modulePath);
  LocalFree(state.modulePathW);
  LocalFree(state.argv);
  CoUninitialize();
  return static_cast<int>(run.status.code);
}
