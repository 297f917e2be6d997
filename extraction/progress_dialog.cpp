#include "extraction/progress_dialog.h"

int RunProgressDialog(ExtractJob*, const char*, const char*, const char*) { return -1; }
