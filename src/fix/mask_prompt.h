// The prompt for a mask, for an adapter whose port GUID has no predefined mask.
#pragma once

#include "fix/pass_state.h"
#include "registry/registry_api.h"

enum ReplyKind {
    kReplyNumber,
    kReplyNotANumber,
    kReplyEndOfInput,
};

struct MaskReply {
    ReplyKind kind;
    std::uint32_t number; // kReplyNumber: the low 32 bits of what was typed
};

// Reads one hexadecimal number from standard input as "%x" does. A reply that converts
// nothing is dropped up to the end of its line, so the next prompt reads fresh input.
MaskReply ReadMaskReply();

// Completes the line the caller opened with the port GUID, then asks for a mask and writes
// a valid one.
void RunMaskPrompt(HKEY classKey, const wchar_t* adapterName, PassState* state);
