#include "fix/decision_table.h"

#include "console/console.h"
#include "fix/guid_mask_write.h"
#include "fix/mask_prompt.h"

namespace {

const wchar_t kKnownOpening[] =
    L"A port GUID that is known to Tarnwick 2.0.0 driver has been found: ";
const wchar_t kUnrecognizedOpening[] = L"An unrecognized port GUID has been found: ";

const wchar_t kRerunForOtherDriver[] =
    L".\nIn case a different driver version is installed, re-run the utility with \"-f\".\n";
const wchar_t kNothingToFix[] = L".\nNothing to fix.\n";
const wchar_t kPredefinedAdded[] =
    L".\nA predefined GUID mask 0x%02x has been added to the registry.\n";
const wchar_t kPredefinedFailed[] =
    L".\nA predefined GUID mask 0x%02x is available, but adding it to the registry has failed.\n";
const wchar_t kWorkaroundAvailable[] = L".\nA predefined GUID mask %#x is available to "
                                       L"work-around the problem. Re-run the utility with "
                                       L"\"-f\".\n";
const wchar_t kWorkaroundFailed[] =
    L".\nA predefined GUID mask 0x%02x is available to work-around the problem, but adding it "
    L"to the registry has failed.\n";
const wchar_t kNoWorkaround[] = L".\nThere is no predefined GUID mask to work-around the "
                                L"problem. Re-run the utility with \"-f\" to obtain a mask.\n";

const DecisionRow kDecisionTable[] = {
    {kKnownNothingToWrite, false, true, kNoMask, false, kKnownOpening, kRerunForOtherDriver,
     nullptr},
    {kKnownNothingToWrite, false, false, kNoMask, false, nullptr, nullptr, nullptr},
    {kKnownWithMask, false, true, kKnownMask, false, kKnownOpening, kRerunForOtherDriver, nullptr},
    {kKnownWithMask, false, false, kKnownMask, false, nullptr, nullptr, nullptr},
    {kKnownNothingToWrite, true, true, kNoMask, false, kKnownOpening, kNothingToFix, nullptr},
    {kKnownNothingToWrite, true, false, kNoMask, false, nullptr, nullptr, nullptr},
    {kKnownWithMask, true, true, kKnownMask, true, kKnownOpening, kPredefinedAdded,
     kPredefinedFailed},
    {kKnownWithMask, true, false, kKnownMask, true, nullptr, nullptr, nullptr},
    {kWorkaround, false, true, kWorkaroundMask, false, kUnrecognizedOpening, kWorkaroundAvailable,
     nullptr},
    {kWorkaround, false, false, kWorkaroundMask, false, nullptr, nullptr, nullptr},
    {kWorkaround, true, true, kWorkaroundMask, true, kUnrecognizedOpening, kPredefinedAdded,
     kWorkaroundFailed},
    {kWorkaround, true, false, kWorkaroundMask, true, nullptr, nullptr, nullptr},
    {kUnrecognized, false, true, kNoMask, false, kUnrecognizedOpening, kNoWorkaround, nullptr},
    {kUnrecognized, false, false, kNoMask, false, nullptr, nullptr, nullptr},
    {kUnrecognized, true, true, kPromptedMask, true, kUnrecognizedOpening, nullptr, nullptr},
    {kUnrecognized, true, false, kSilentMask, true, nullptr, nullptr, nullptr},
};

} // namespace

GuidMask MaskOfSource(MaskSource source, const IpoibInstance& instance,
                      const RunSettings& settings) {
    switch (source) {
    case kKnownMask:
        return instance.knownMask;
    case kWorkaroundMask:
        return instance.workaroundMask;
    case kSilentMask:
        return static_cast<GuidMask>(settings.silentMask & 0xFFu);
    default:
        return 0x00;
    }
}

GuidStanding StandingOf(const IpoibInstance& instance) {
    if (instance.known != 0) {
        return instance.knownMask != 0x00 ? kKnownWithMask : kKnownNothingToWrite;
    }
    return instance.workaroundMask != 0x00 ? kWorkaround : kUnrecognized;
}

const DecisionRow* SelectDecisionRow(GuidStanding standing, bool fix, bool interactive) {
    for (const DecisionRow& row : kDecisionTable) {
        if (row.standing == standing && row.fix == fix && row.interactive == interactive) {
            return &row;
        }
    }
    return nullptr;
}

void CarryOutDecision(HKEY classKey, const wchar_t* adapterName, const IpoibInstance& instance,
                      PassState* state) {
    const DecisionRow* row =
        SelectDecisionRow(StandingOf(instance), state->settings.fix, state->settings.interactive);
    if (row->mask == kPromptedMask) {
        PrintText(row->opening);
        PrintPortGuid(instance.portGuid);
        RunMaskPrompt(classKey, adapterName, state);
        return;
    }
    const GuidMask mask = MaskOfSource(row->mask, instance, state->settings);
    const LSTATUS status =
        row->writes ? WriteGuidMask(classKey, adapterName, mask) : LSTATUS{ERROR_SUCCESS};
    if (status == ERROR_SUCCESS && row->writes && state->settings.interactive) {
        ++state->counters.changesMade;
    }
    if (row->opening != nullptr) {
        PrintText(row->opening);
        PrintPortGuid(instance.portGuid);
        PrintMessage(status == ERROR_SUCCESS ? row->report : row->failure, mask);
    }
    // Why it failed follows the report's own line, on standard error.
    if (status != ERROR_SUCCESS) {
        NoteFailedWrite(status, state);
    }
}
