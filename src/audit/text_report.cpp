#include "audit/text_report.h"

#include "audit/report_cells.h"
#include "console/console.h"
#include "console/console_format.h"

#include <vector>

namespace {

const wchar_t* const kColumns[] = {
    L"STORE", L"SUBKEY",        L"STATE",      L"PORT-GUID", L"CLASS", L"STORED",     L"SILENT-FIX",
    L"FIX",   L"MAC-AFTER-FIX", L"MAC-STORED", L"INSTANCE",  L"NAME",  L"DESCRIPTION"};
const std::size_t kColumnCount = sizeof kColumns / sizeof kColumns[0];

typedef std::vector<std::wstring> Row;

std::wstring Widen(const char* text) {
    return text == nullptr ? std::wstring(L"-")
                           : std::wstring(text, text + std::char_traits<char>::length(text));
}

std::wstring OrDash(const std::string& text) {
    return text.empty() ? std::wstring(L"-") : Printable(Wide(text));
}

std::wstring ClassCell(const AuditRecord& record) {
    if (record.guidClass == kClassNone || record.guidClass == kClassUnrecognized) {
        return Widen(ClassName(record.guidClass));
    }
    return Widen(ClassName(record.guidClass)) + L":" + Wide(MaskText(record.predefinedMask));
}

std::wstring StoredCell(const AuditRecord& record) {
    switch (record.storedKind) {
    case kStoredMask:
        return Printable(Wide(record.storedText));
    case kStoredNotMask:
        return L"\"" + Printable(Wide(record.storedText)) + L"\"";
    default:
        return L"-";
    }
}

std::wstring FixCell(const AuditRecord& record) {
    switch (record.fixAction) {
    case kFixWritesPredefined:
        return L"write:" + Wide(MaskText(record.predefinedMask));
    case kFixNothingToFix:
        return L"nothing";
    case kFixPrompts:
        return L"prompt";
    default:
        return L"-";
    }
}

std::wstring AddressCell(const DerivedAddress& address, bool builtIn) {
    if (!address.derived) {
        return builtIn ? L"built-in(undocumented)" : L"-";
    }
    return Wide(AddressText(address)) + (HasGroupAddress(address) ? L"(group)" : L"");
}

Row RecordRow(const AuditReport& report, const AuditRecord& record) {
    const bool builtIn = record.guidClass == kClassKnown && !record.silentFixWrites;
    return Row{Printable(Wide(report.stores[record.store].label)),
               Printable(Wide(record.subkey)),
               Widen(StateName(record.state)),
               record.guidClass == kClassNone ? L"-" : Wide(GuidText(record.guid)),
               ClassCell(record),
               StoredCell(record),
               record.silentFixWrites ? Wide(WrittenText(record.silentFixMask)) : L"-",
               FixCell(record),
               AddressCell(record.afterFix, builtIn),
               AddressCell(record.stored, false),
               OrDash(record.instanceId),
               OrDash(record.connectionName),
               OrDash(record.driverDesc)};
}

void WidenColumns(const Row& row, std::vector<std::size_t>* widths) {
    for (std::size_t column = 0; column < kColumnCount; ++column) {
        (*widths)[column] = std::max((*widths)[column], row[column].size());
    }
}

// Columns two spaces apart; the last one, free text, is not padded.
void PrintRow(const Row& row, const std::vector<std::size_t>& widths) {
    std::wstring line;
    for (std::size_t column = 0; column + 1 < kColumnCount; ++column) {
        line += row[column] + std::wstring(widths[column] - row[column].size() + 2, L' ');
    }
    line += row[kColumnCount - 1] + L"\n";
    PrintText(line.c_str());
}

// The rows are made twice, once for the widths and once to be printed, so that a fleet's
// report is never held whole.
void PrintRows(const AuditReport& report) {
    const Row header(kColumns, kColumns + kColumnCount);
    std::vector<std::size_t> widths(kColumnCount, 0);
    WidenColumns(header, &widths);
    for (const AuditRecord& record : report.records) {
        WidenColumns(RecordRow(report, record), &widths);
    }
    PrintRow(header, widths);
    for (const AuditRecord& record : report.records) {
        PrintRow(RecordRow(report, record), widths);
    }
}

std::wstring FindingLine(const AuditReport& report, const Finding& finding) {
    std::wstring line = IsConflict(finding.kind) ? L"conflict: " : L"warning: ";
    line += Widen(FindingName(finding.kind));
    if (finding.kind == kMacCollision || finding.kind == kGroupAddress) {
        line += L" " + Wide(FormatMacAddress(finding.address));
    } else if (finding.kind != kZeroGuid) {
        line += L" " + Wide(GuidText(finding.guid));
    }
    if (finding.reading != kBothReadings) {
        line += L" (" + Widen(ReadingName(finding.reading)) + L")";
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
    return line + L"\n";
}

std::wstring Count(const wchar_t* name, std::size_t count) {
    return std::wstring(L" ") + name + ExpandMessage(L"=%d", nullptr, static_cast<unsigned>(count));
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
           Count(L"warnings", report.warnings.size()) + L"\n";
}

void PrintTextReport(const AuditReport& report) {
    if (!report.records.empty()) {
        PrintRows(report);
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
