#include "fix/mask_prompt.h"

#include "console/console.h"
#include "fix/guid_mask_write.h"
#include "guid/hex_conversion.h"

namespace {

const wchar_t kPromptText[] =
    L".\nThere is no predefined GUID mask to fix the problem.\n\n"
    L"A GUID mask is an 8-bit number that indicates which byte of a port GUID\n"
    L"should be used in MAC address generation. Since a MAC address has a fixed 6-byte length,\n"
    L"the mask must contain exactly 6 non-zero bits. A good choice is to throw the 2 constant\n"
    L"bytes in the GUIDs series (usually the middle bytes which are 0xFFFF) and set the mask to "
    L"0xe7.\n"
    L"Enter your GUID mask (in hex format):\n";

void DiscardRestOfLine() {
    int character;
    do {
        character = ReadInputCharacter();
    } while (character != -1 && character != '\n');
}

void ApplyReply(const MaskReply& reply, HKEY classKey, const wchar_t* adapterName,
                PassState* state) {
    if (reply.kind == kReplyEndOfInput) {
        PrintText(L"No GUID mask has been entered (end of input). Nothing has been written.\n");
        return;
    }
    if (reply.kind == kReplyNotANumber) {
        PrintText(L"The reply is not a hexadecimal number. Nothing has been written.\n");
        return;
    }
    const unsigned mask = reply.number & 0xFFu;
    if (IsValidGuidMask(reply.number) != 0) {
        PrintMessage(L"Invalid GUID mask 0x%02x. GUID mask must contain exactly 6 non-zero bits.\n",
                     mask);
        return;
    }
    const LSTATUS status = WriteGuidMask(classKey, adapterName, static_cast<GuidMask>(mask));
    if (status != ERROR_SUCCESS) {
        PrintMessage(L"Failed to add GUID mask 0x%02x to the registry.\n", mask);
        NoteFailedWrite(status, state);
        return;
    }
    ++state->counters.changesMade;
    PrintMessage(L"Added GUID mask 0x%02x to the registry.\n", mask);
}

} // namespace

MaskReply ReadMaskReply() {
    HexScan scan;
    BeginHexScan(&scan);
    int character = ReadInputCharacter();
    while (character != -1 && TakeHexCharacter(&scan, static_cast<unsigned>(character))) {
        character = ReadInputCharacter();
    }
    UnreadInputCharacter(character);
    std::uint64_t number = 0;
    if (FinishHexScan(&scan, &number)) {
        return MaskReply{kReplyNumber, static_cast<std::uint32_t>(number)};
    }
    if (character == -1) {
        return MaskReply{kReplyEndOfInput, 0};
    }
    DiscardRestOfLine();
    return MaskReply{kReplyNotANumber, 0};
}

void RunMaskPrompt(HKEY classKey, const wchar_t* adapterName, PassState* state) {
    PrintText(kPromptText);
    FlushConsole();
    MaskReply reply = {kReplyEndOfInput, 0};
    if (!state->inputEnded) {
        reply = ReadMaskReply();
    }
    state->inputEnded = reply.kind == kReplyEndOfInput;
    ApplyReply(reply, classKey, adapterName, state);
}
