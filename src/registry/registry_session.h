// Makes the registry available to the run. On Windows the registry is always there; on POSIX
// hosts it is a store file, named by the environment variable IPOIB_GUIDMASK_REGISTRY and
// loaded once, after the command line has been accepted and before the run.
#pragma once

#include <cstddef>
#include <string>

// areas are the keys below HKEY_LOCAL_MACHINE that the run reads: a store needs to hold only
// them, what lies below them and the keys above them. forWrites: the run may write. False when
// there is no registry to run on; report then holds the line that says why, for the caller to
// print on standard error before it ends with kExitFailure. A registry that may be incomplete
// (a hive Windows did not finish writing, whose logs cannot be replayed) is refused for writes,
// and opened else, with a warning line in report. The lines are UTF-8, each with its line feed.
bool OpenRegistry(const wchar_t* const* areas, std::size_t areaCount, bool forWrites,
                  std::string* report);

// The same for the store file at path, whatever the environment names, with programName at
// the head of each line of report. POSIX builds only: on Windows the registry is the
// machine's, and this fails with a line that says so.
bool OpenRegistryStore(const char* path, const char* programName, const wchar_t* const* areas,
                       std::size_t areaCount, bool forWrites, std::string* report);

void CloseRegistry();
