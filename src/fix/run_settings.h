// What one run is asked to do: the command line fills it, the run and the pass read it.
#pragma once

#include <cstdint>

struct RunSettings {
    bool fix;                 // false: check (report only); true: fix (write masks)
    bool interactive;         // false: silent mode
    std::uint32_t silentMask; // low 8 bits: the mask silent fix mode writes for unknown GUIDs
};

// Check, interactive, 0xE7.
inline RunSettings DefaultRunSettings() {
    return RunSettings{false, true, 0xE7};
}
