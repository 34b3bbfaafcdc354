// What the adapter pass carries from one adapter to the next: the settings, the counts and
// what it has told so far.
#pragma once

#include "fix/run_settings.h"
#include "fix/write_failure.h"

struct PassCounters {
    unsigned ipoibAdaptersSeen; // adapters whose ComponentId matched
    unsigned changesMade;       // writes reported to the user as successful
    unsigned failedWrites;      // every failed "GUIDMask" write, in either mode
};

struct PassState {
    RunSettings settings;
    PassCounters counters;
    bool inputEnded; // the mask prompt met the end of input: no further prompt reads
    WriteFailureLog failuresTold;
};

// Counts a failed write and says why on standard error, once for each cause in the pass.
void NoteFailedWrite(LSTATUS status, PassState* state);
