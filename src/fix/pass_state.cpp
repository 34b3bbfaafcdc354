#include "fix/pass_state.h"

void NoteFailedWrite(LSTATUS status, PassState* state) {
    ++state->counters.failedWrites;
    TellWriteFailure(status, &state->failuresTold);
}
