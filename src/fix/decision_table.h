// What the pass does with an adapter whose instance it found: one row per kind of port GUID,
// operation and mode.
#pragma once

#include "fix/pass_state.h"
#include "registry/instance_table.h"
#include "registry/registry_api.h"

enum GuidStanding {
    kKnownNothingToWrite, // known, predefined mask 0x00
    kKnownWithMask,       // known, predefined mask to write
    kWorkaround,          // unrecognized, with a work-around mask
    kUnrecognized,        // unrecognized, no predefined mask at all
};

enum MaskSource {
    kNoMask,
    kKnownMask,
    kWorkaroundMask,
    kSilentMask,
    kPromptedMask,
};

struct DecisionRow {
    GuidStanding standing;
    bool fix;
    bool interactive;
    MaskSource mask; // the mask the row names in its message or writes
    bool writes;
    const wchar_t* opening; // the line opening printed before the GUID, or nullptr
    const wchar_t* report;  // completes the line; after a write, its success message
    const wchar_t* failure; // completes the line after a failed write
};

GuidStanding StandingOf(const IpoibInstance& instance);

// The mask a row with this source names for the instance; 0x00 for kNoMask and kPromptedMask,
// whose mask is typed.
GuidMask MaskOfSource(MaskSource source, const IpoibInstance& instance,
                      const RunSettings& settings);

const DecisionRow* SelectDecisionRow(GuidStanding standing, bool fix, bool interactive);

// Carries out the row that fits the instance, the operation and the mode.
void CarryOutDecision(HKEY classKey, const wchar_t* adapterName, const IpoibInstance& instance,
                      PassState* state);
