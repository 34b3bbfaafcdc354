// Makes the registry available to the run. On Windows the registry is always there; on POSIX
// hosts it is a store file, named by the environment variable IPOIB_GUIDMASK_REGISTRY and
// loaded once, after the command line has been accepted and before the run.
#pragma once

#include <cstddef>

// areas are the keys below HKEY_LOCAL_MACHINE that the run reads: a store needs to hold only
// them, what lies below them and the keys above them. forWrites: the run may write. False when
// there is no registry to run on; a line on standard error has said why, and the caller ends
// with status -1. A registry that may be incomplete (a hive Windows did not finish writing,
// whose logs cannot be replayed) is refused for writes, and opened after a warning line else.
bool OpenRegistry(const wchar_t* const* areas, std::size_t areaCount, bool forWrites);

void CloseRegistry();
