// The run: the instance table, then the adapter pass.
#pragma once

#include "fix/run_settings.h"

#include <cstddef>

// The keys below HKEY_LOCAL_MACHINE that the run reads: the network instances and the network
// adapter class.
extern const wchar_t* const kRunRegistryAreas[];
extern const std::size_t kRunRegistryAreaCount;

// kExitSuccess when every "GUIDMask" write succeeded (or none was due), kExitFailure when any
// write failed.
int RunChecks(const RunSettings& settings);
