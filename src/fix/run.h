// The run: the instance table, then the adapter pass.
#pragma once

#include "cli/command_line.h"

// 0 when every "GUIDMask" write succeeded (or none was due), -1 when any write failed.
int RunChecks(const RunSettings& settings);
