// The whole program behind the platform's entry: the command line, then the run.
#pragma once

#include "console/exit_status.h"

// argv holds wide strings of UTF-16 code units. Returns the exit status: kExitSuccess or
// kExitFailure.
int ToolMain(int argc, const wchar_t* const* argv);
