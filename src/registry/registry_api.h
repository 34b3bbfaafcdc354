// The registry operations the tool relies on, by their Windows names and contract.
// Windows builds get the real API; POSIX builds get our own layer over a store file.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "registry/registry_api-posix.h"
#endif
