// The modal progress window that writes the output files.
#pragma once

#include "manifest/extract_job.h"

// Runs the progress window until every file is written (1), the user cancels
// (2), the window cannot hold its job (3), or the window cannot be made (-1).
int RunProgressDialog(ExtractJob* job, const char* className, const char* title,
                      const char* fontName);
