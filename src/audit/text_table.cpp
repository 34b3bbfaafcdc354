#include "audit/text_table.h"

#include "audit/live_report.h"
#include "audit/report_cells.h"
#include "console/console.h"

#include <algorithm>
#include <string>

namespace {

const wchar_t* const kWideColumns[] = {
    L"STORE",        L"SUBKEY",  L"STATE",         L"PORT-GUID",  L"CLASS",      L"STORED",
    L"SILENT-FIX",   L"FIX",     L"MAC-AFTER-FIX", L"MAC-STORED", L"LIVE",       L"MAC-NOW",
    L"MAC-EXPECTED", L"RESTART", L"INSTANCE",      L"NAME",       L"DESCRIPTION"};
const wchar_t* const kNarrowColumns[] = {L"STORE",    L"SUBKEY",        L"CONNECTION", L"STATE",
                                         L"GUIDMASK", L"MAC-AFTER-FIX", L"PORT-GUID"};
const std::size_t kWideCount = sizeof kWideColumns / sizeof kWideColumns[0];
const std::size_t kNarrowCount = sizeof kNarrowColumns / sizeof kNarrowColumns[0];

// The narrow table fits cmd.exe's default window; the connection's name gives way, down to
// kLeastConnectionWidth, where a row would be wider.
const std::size_t kNarrowLineWidth = 120;
const std::size_t kConnectionColumn = 2;
const std::size_t kLeastConnectionWidth = 12;
const std::size_t kColumnGap = 2;

typedef std::vector<std::wstring> Row;

std::wstring GuidCell(const AuditRecord& record) {
    return record.guidClass == kClassNone ? L"-" : Wide(GuidText(record.guid));
}

Row WideRow(const AuditReport& report, const AuditRecord& record) {
    return Row{Printable(Wide(report.stores[record.store].label)),
               Printable(Wide(record.subkey)),
               NameCell(StateName(record.state)),
               GuidCell(record),
               ClassCell(record),
               StoredCell(record),
               record.silentFixWrites ? Wide(WrittenText(record.silentFixMask)) : L"-",
               FixCell(record),
               AddressCell(record.afterFix, KeepsBuiltInMapping(record)),
               AddressCell(record.stored, false),
               Wide(LiveStateCell(record)),
               Wide(MacNowCell(record)),
               Wide(MacExpectedCell(record)),
               Wide(RestartCell(record)),
               TextCell(record.instanceId),
               TextCell(record.connectionName),
               TextCell(record.driverDesc)};
}

Row NarrowRow(const AuditReport& report, const AuditRecord& record) {
    return Row{Printable(Wide(report.stores[record.store].label)),
               Printable(Wide(record.subkey)),
               TextCell(record.connectionName),
               NameCell(StateName(record.state)),
               MaskChangeCell(record),
               ShortAddressCell(record.afterFix, KeepsBuiltInMapping(record)),
               GuidCell(record)};
}

Row HeaderRow(TableShape shape) {
    return shape == kTableWide ? Row(kWideColumns, kWideColumns + kWideCount)
                               : Row(kNarrowColumns, kNarrowColumns + kNarrowCount);
}

Row RecordRow(const AuditReport& report, const AuditRecord& record, TableShape shape) {
    return shape == kTableWide ? WideRow(report, record) : NarrowRow(report, record);
}

void WidenColumns(const Row& row, std::vector<std::size_t>* widths) {
    for (std::size_t column = 0; column < row.size(); ++column) {
        (*widths)[column] = std::max((*widths)[column], row[column].size());
    }
}

// Narrows the connection's column by what the row is wider than the line, as far as it goes.
void FitNarrowTable(std::vector<std::size_t>* widths) {
    std::size_t line = kColumnGap * (widths->size() - 1);
    for (std::size_t width : *widths) {
        line += width;
    }
    std::size_t& connection = (*widths)[kConnectionColumn];
    if (line > kNarrowLineWidth && connection > kLeastConnectionWidth) {
        connection = std::max(kLeastConnectionWidth, connection - (line - kNarrowLineWidth));
    }
}

// Columns two spaces apart; the last one is not padded.
void PrintRow(const Row& row, const std::vector<std::size_t>& widths) {
    std::wstring line;
    for (std::size_t column = 0; column + 1 < row.size(); ++column) {
        const std::wstring cell = ClipCell(row[column], widths[column]);
        line += cell + std::wstring(widths[column] - cell.size() + kColumnGap, L' ');
    }
    line += row.back() + L"\n";
    PrintText(line.c_str());
}

} // namespace

// The rows are made twice, once for the widths and once to be printed, so that a fleet's
// report is never held whole.
void PrintAdapterTable(const AuditReport& report, TableShape shape,
                       const std::vector<bool>& shown) {
    if (std::find(shown.begin(), shown.end(), true) == shown.end()) {
        return;
    }
    const Row header = HeaderRow(shape);
    std::vector<std::size_t> widths(header.size(), 0);
    WidenColumns(header, &widths);
    for (std::size_t index = 0; index < report.records.size(); ++index) {
        if (shown[index]) {
            WidenColumns(RecordRow(report, report.records[index], shape), &widths);
        }
    }
    if (shape == kTableNarrow) {
        FitNarrowTable(&widths);
    }
    PrintRow(header, widths);
    for (std::size_t index = 0; index < report.records.size(); ++index) {
        if (shown[index]) {
            PrintRow(RecordRow(report, report.records[index], shape), widths);
        }
    }
}
