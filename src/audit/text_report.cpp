#include "audit/text_report.h"

#include "audit/report_cells.h"
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

std::wstring OrDash(const std::wstring& text) {
    return text.empty() ? std::wstring(L"-") : text;
}

std::wstring ClassCell(const AuditRecord& record) {
    if (record.guidClass == kClassNone || record.guidClass == kClassUnrecognized) {
        return Widen(ClassName(record.guidClass));
    }
    return Widen(ClassName(record.guidClass)) + L":" + MaskText(record.predefinedMask);
}

std::wstring StoredCell(const AuditRecord& record) {
    switch (record.storedKind) {
    case kStoredMask:
        return record.storedText;
    case kStoredNotMask:
        return L"\"" + record.storedText + L"\"";
    default:
        return L"-";
    }
}

std::wstring FixCell(const AuditRecord& record) {
    switch (record.fixAction) {
    case kFixWritesPredefined:
        return L"write:" + MaskText(record.predefinedMask);
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
    return AddressText(address) + (HasGroupAddress(address) ? L"(group)" : L"");
}

Row RecordRow(const AuditReport& report, const AuditRecord& record) {
    const bool builtIn = record.guidClass == kClassKnown && !record.silentFixWrites;
    return Row{report.stores[record.store].label,
               record.subkey,
               Widen(StateName(record.state)),
               record.guidClass == kClassNone ? L"-" : GuidText(record.guid),
               ClassCell(record),
               StoredCell(record),
               record.silentFixWrites ? WrittenText(record.silentFixMask) : L"-",
               FixCell(record),
               AddressCell(record.afterFix, builtIn),
               AddressCell(record.stored, false),
               OrDash(record.instanceId),
               OrDash(record.connectionName),
               OrDash(record.driverDesc)};
}

// Columns two spaces apart; the last one, free text, is not padded.
std::wstring AlignedRows(const std::vector<Row>& rows) {
    std::vector<std::size_t> widths(kColumnCount, 0);
    for (const Row& row : rows) {
        for (std::size_t column = 0; column < kColumnCount; ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    std::wstring text;
    for (const Row& row : rows) {
        for (std::size_t column = 0; column + 1 < kColumnCount; ++column) {
            text += row[column] + std::wstring(widths[column] - row[column].size() + 2, L' ');
        }
        text += row[kColumnCount - 1] + L"\n";
    }
    return text;
}

std::wstring FindingLine(const AuditReport& report, const Finding& finding) {
    std::wstring line = IsConflict(finding.kind) ? L"conflict: " : L"warning: ";
    line += Widen(FindingName(finding.kind));
    if (finding.kind == kMacCollision || finding.kind == kGroupAddress) {
        line += L" " + FormatMacAddress(finding.address);
    } else if (finding.kind != kZeroGuid) {
        line += L" " + GuidText(finding.guid);
    }
    if (finding.reading != kBothReadings) {
        line += L" (" + Widen(ReadingName(finding.reading)) + L")";
    }
    line += L":";
    for (std::size_t at = 0; at < finding.records.size(); ++at) {
        const std::size_t record = finding.records[at];
        line += (at == 0 ? L" " : L", ") + AdapterPlace(report, record);
        if (finding.kind == kMacCollision || finding.kind == kGroupAddress) {
            line += L" " + GuidText(report.records[record].guid);
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
        line += L" " + MaskText(mask);
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

std::wstring TextReport(const AuditReport& report) {
    std::wstring text;
    if (!report.records.empty()) {
        std::vector<Row> rows(1, Row(kColumns, kColumns + kColumnCount));
        for (const AuditRecord& record : report.records) {
            rows.push_back(RecordRow(report, record));
        }
        text += AlignedRows(rows);
    }
    for (const Finding& finding : report.conflicts) {
        text += FindingLine(report, finding);
    }
    for (const Finding& finding : report.warnings) {
        text += FindingLine(report, finding);
    }
    return text + SuggestionLine(report) + SummaryLine(report);
}
