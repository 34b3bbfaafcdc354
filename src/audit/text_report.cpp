#include "audit/text_report.h"

#include "audit/live_report.h"
#include "audit/report_cells.h"
#include "audit/text_table.h"
#include "console/console.h"
#include "console/console_format.h"

#include <vector>

namespace {

std::wstring Count(const wchar_t* name, std::size_t count) {
    return std::wstring(L" ") + name + ExpandMessage(L"=%d", nullptr, static_cast<unsigned>(count));
}

std::wstring Number(std::size_t count) {
    return ExpandMessage(L"%d", nullptr, static_cast<unsigned>(count));
}

// The rows --problems keeps: not ok, in need of a restart or with an address nothing explains,
// or named by a conflict or warning.
std::vector<bool> RowsShown(const AuditReport& report, bool problemsOnly) {
    std::vector<bool> shown(report.records.size(), !problemsOnly);
    for (std::size_t index = 0; index < report.records.size(); ++index) {
        const AuditRecord& record = report.records[index];
        if (record.state != kStateOk || record.live.restartNeeded ||
            record.live.state == kLiveUnexplained) {
            shown[index] = true;
        }
    }
    for (const std::vector<Finding>* findings : {&report.conflicts, &report.warnings}) {
        for (const Finding& finding : *findings) {
            for (std::size_t record : finding.records) {
                shown[record] = true;
            }
        }
    }
    return shown;
}

std::wstring NotListedLine(const std::vector<bool>& shown) {
    std::size_t rest = 0;
    for (bool row : shown) {
        rest += row ? 0 : 1;
    }
    return L"not listed: " + Number(rest) + (rest == 1 ? L" adapter" : L" adapters") +
           L" ok and named by no conflict or warning\n";
}

// A document written by an older build may hold a reason that begins with the store's path
// already ("host-d:1: missing header"): it is not said twice.
std::wstring UnreadableLine(const StoreOutcome& store) {
    const std::string& label = store.label;
    const bool named = !label.empty() && store.problem.compare(0, label.size(), label) == 0 &&
                       store.problem.size() > label.size() && store.problem[label.size()] == ':';
    const std::string line = named || label.empty() ? store.problem : label + ": " + store.problem;
    return L"unreadable: " + Printable(Wide(line)) + L"\n";
}

std::wstring FindingLine(const AuditReport& report, const Finding& finding) {
    std::wstring line = IsConflict(finding.kind) ? L"conflict: " : L"warning: ";
    line += NameCell(FindingName(finding.kind));
    if (finding.kind == kMacCollision || finding.kind == kGroupAddress) {
        line += L" " + Wide(FormatMacAddress(finding.address));
    } else if (finding.kind == kNeighborCollision || finding.kind == kLiveCollision) {
        line += L" " + Printable(Wide(LiveFindingText(finding)));
    } else if (finding.kind != kZeroGuid) {
        line += L" " + Wide(GuidText(finding.guid));
    }
    if (finding.reading != kBothReadings) {
        line += L" (" + NameCell(ReadingName(finding.reading)) + L")";
    }
    line += L":";
    for (std::size_t at = 0; at < finding.records.size(); ++at) {
        const std::size_t record = finding.records[at];
        line += (at == 0 ? L" " : L", ") + AdapterPlace(report, record);
        if (finding.kind == kMacCollision || finding.kind == kGroupAddress) {
            line += L" " + Wide(GuidText(report.records[record].guid));
        }
    }
    return line + L"\n";
}

// Taking the first suggestion moves the address of each adapter it changes: say how many.
std::wstring FirstSuggestionChanges(const AuditReport& report) {
    const std::size_t takers = report.maskDependentCount;
    const std::size_t changed = report.firstSuggestionChanges;
    if (changed == 0) {
        return L"changes no address";
    }
    if (takers == 1) {
        return L"changes the address of the one adapter that takes the -d mask";
    }
    const std::wstring which = changed < takers ? Number(changed) + L" of the " + Number(takers)
                               : takers == 2    ? std::wstring(L"both")
                                                : L"all " + Number(takers);
    return L"changes the address of " + which + L" adapters that take the -d mask";
}

std::wstring SuggestionLine(const AuditReport& report) {
    std::wstring line = L"suggested masks:";
    if (report.maskDependentCount == 0) {
        return line + L" no adapter takes the -d mask\n";
    }
    if (report.suggestedMasks.empty()) {
        return line + L" none keeps every address distinct\n";
    }
    for (GuidMask mask : report.suggestedMasks) {
        line += L" " + Wide(MaskText(mask));
    }
    return line + L" (" + Wide(MaskText(report.suggestedMasks[0])) + L" " +
           FirstSuggestionChanges(report) + L")\n";
}

} // namespace

std::wstring SummaryLine(const AuditReport& report) {
    const AuditCounts counts = CountAudit(report);
    return L"summary:" + Count(L"stores", report.stores.size()) +
           Count(L"unreadable", counts.unreadable) + Count(L"adapters", report.records.size()) +
           Count(L"ok", counts.byState[kStateOk]) +
           Count(L"would-write", counts.byState[kStateWouldWrite]) +
           Count(L"would-replace", counts.byState[kStateWouldReplace]) +
           Count(L"no-instance", counts.byState[kStateNoInstance]) +
           Count(L"conflicts", report.conflicts.size()) +
           Count(L"warnings", report.warnings.size()) +
           Count(L"pending-restart", counts.pendingRestart) + L"\n";
}

void PrintTextReport(const AuditReport& report, TextReportShape shape) {
    const std::vector<bool> shown = RowsShown(report, shape.problemsOnly);
    PrintAdapterTable(report, shape.wide ? kTableWide : kTableNarrow, shown);
    if (shape.problemsOnly) {
        PrintText(NotListedLine(shown).c_str());
    }
    for (const StoreOutcome& store : report.stores) {
        if (!store.read) {
            PrintText(UnreadableLine(store).c_str());
        }
    }
    for (const Finding& finding : report.conflicts) {
        PrintText(FindingLine(report, finding).c_str());
    }
    for (const Finding& finding : report.warnings) {
        PrintText(FindingLine(report, finding).c_str());
    }
    PrintText(SuggestionLine(report).c_str());
    PrintText(SummaryLine(report).c_str());
}
