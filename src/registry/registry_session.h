// Makes the registry available to the run. On Windows the registry is always there; on POSIX
// hosts it is a store file, named by the environment variable IPOIB_GUIDMASK_REGISTRY and
// loaded once, after the command line has been accepted and before the run. What opening came
// to is handed back as facts, which each program puts in its own words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum RegistryProblem {
    kRegistryOpened,   // no problem
    kStoreNotNamed,    // POSIX: no store was named
    kStoreUnreadable,  // the store file cannot be read as a registry: line and what say why
    kStoreNotUpToDate, // to be written, but a hive Windows did not finish writing whose logs
                       // cannot be replayed: incomplete says why
};

struct RegistryOpening {
    bool opened = false;
    RegistryProblem problem = kRegistryOpened;
    std::string path;       // the store file as named (UTF-8); empty: the machine's registry
    std::uint64_t line = 0; // the line of a store file that does not parse; 0: none
    std::string what;       // what was found in the store file, and what to do
    // A hive Windows did not finish writing, whose logs cannot be replayed: why. Opened for
    // reading, the registry may then lack what only the logs hold.
    std::string incomplete;
    std::vector<std::u16string> areas;        // the areas asked for, as given
    std::vector<std::u16string> missingAreas; // those of them the registry does not hold
    // Where a .reg store's keys lie instead: the first few (root key and names; four at most).
    std::vector<std::u16string> keysOutside;
};

// areas are the keys below HKEY_LOCAL_MACHINE that the run reads: a store needs to hold only
// them, what lies below them and the keys above them. forWrites: the run may write. A registry
// that may be incomplete (a hive Windows did not finish writing, whose logs cannot be replayed)
// is refused for writes, and opened else.
RegistryOpening OpenRegistry(const wchar_t* const* areas, std::size_t areaCount, bool forWrites);

// The same for the store file at path, whatever the environment names. POSIX builds only: on
// Windows the registry is the machine's.
RegistryOpening OpenRegistryStore(const char* path, const wchar_t* const* areas,
                                  std::size_t areaCount, bool forWrites);

void CloseRegistry();
