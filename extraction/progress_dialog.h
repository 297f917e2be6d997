// The modal progress window that writes the output files.
#pragma once

#include <cstdint>

#include "extraction/chunk_writer.h"
#include "extraction/taskbar_progress.h"
#include "manifest/extract_job.h"
#include "platform/platform.h"

// Room of each text of the dialog template, in UTF-16 units, terminator
// included.
enum : uint32_t { TEMPLATE_TEXT_ROOM = 50 };

// What the progress window works with for as long as it runs.
struct ProgressWindow {
  ExtractJob* job;           // the files it writes
  HINSTANCE instance;        // module of the window class, the bar and the icons
  TaskbarProgress* taskbar;  // mirrors the bar on the taskbar button; may be null
  DWORD shownAt;             // GetTickCount when the window was about to show
  bool written;              // every file is written: the next timer message ends it
  UINT_PTR timerId;          // the timer that drives the writer
  ChunkWriter writer;        // the writer's state between steps; closed when the window ends
};

// How the progress window ends: its dialog result.
enum : int {
  PROGRESS_WRITTEN = 1,    // every file is written and verified
  PROGRESS_CANCELLED = 2,  // the user cancelled in a Retry/Cancel question
  PROGRESS_NO_JOB = 3,     // the window could not hold its job
  PROGRESS_BAD_BLOCK = 4,  // a block could not be decoded or verified
  PROGRESS_NO_WINDOW = -1  // no template memory, or the window could not be made
};

// Registers the window class className of module instance (its failure is
// ignored: an earlier registration serves), builds the dialog template and
// runs the progress window modally over job, showing the progress on taskbar
// too (null: on the bar only), until every file is written and verified
// (PROGRESS_WRITTEN), the user cancels (PROGRESS_CANCELLED), the window cannot
// hold its job (PROGRESS_NO_JOB) or a block cannot be decoded or verified
// (PROGRESS_BAD_BLOCK, job->failure says why); PROGRESS_NO_WINDOW when the
// template memory cannot be had or the window cannot be made. The template is
// freed on every path.
int RunProgressDialog(ExtractJob* job, HINSTANCE instance, TaskbarProgress* taskbar,
                      const char* className, const char* title, const char* fontName);

// The in-memory dialog template of the progress window, in zeroed global
// memory (GlobalFree it), *size set to its size: a 180 x 40 dialog without
// controls or menu, of the window class className, titled title, in fontName
// at 10 points. Each text is converted from the ANSI code page and cut at a
// character boundary to TEMPLATE_TEXT_ROOM - 1 units, so that the template
// stays well formed; its size is rounded up to whole DWORDs. Null, with the
// last error set, when the memory cannot be had.
void* BuildProgressTemplate(const char* className, const char* title, const char* fontName,
                            uint32_t* size);

// The window's dialog procedure; returns 0 for every message. WM_INITDIALOG
// (lParam a ProgressWindow that outlives the dialog) stores it, creates the
// progress bar, sets the icons, shows progress on the taskbar, writes for up
// to 100 ms before the window shows and starts the timer; every WM_TIMER,
// and every WM_APP + 1 the window posts itself to go on at once while no
// input or painting waits, writes for about 25 ms (always at least one
// step); WM_PAINT only validates. A timer that cannot be started and a failed write ask
// Retry/Cancel; Cancel ends the dialog with PROGRESS_CANCELLED. Once every file
// is written the window stays until it has been up for 250 ms, then ends with
// PROGRESS_WRITTEN.
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
