// Test hives: built from a .reg store, as the end-to-end cases and the unit tests spell their
// registries, into an empty hive of our own making; and read back whole with hivex.
#pragma once

#include <cstdint>
#include <string>

struct HiveBuildOptions {
    bool select;           // give the hive the dword Select\Current (and ControlSet001)
    std::uint32_t current; // its value
};

const HiveBuildOptions kStandardHive = {true, 1};

// Writes a hive file at hivePath holding the keys and values that the .reg file at regPath has
// below HKEY_LOCAL_MACHINE\SYSTEM, with CurrentControlSet stored as ControlSet001 (other keys
// are left out), and Select\Current as options say; with Select, ControlSet001 is there even
// when the store has no CurrentControlSet. On failure error says why.
bool BuildHiveFromRegFile(const std::string& regPath, const std::string& hivePath,
                          const HiveBuildOptions& options, std::string* error);

// Every key and value of the hive at path as hivex reads them: a line `key "PATH"` for each key
// (the root is "", its subkeys "\\NAME"), followed by a line `value "PATH" "NAME" TYPE HEX` for
// each of its values; names in JSON string syntax with every UTF-16 unit beyond ASCII as
// \uXXXX, keys sorted by path and values by name (as UTF-16 units), data in lower-case hex.
bool DumpHive(const std::string& path, std::string* dump, std::string* error);
