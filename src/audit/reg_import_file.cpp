#include "audit/reg_import_file.h"

#include "audit/report_cells.h"
#include "fix/adapter_pass.h"
#include "text/utf8.h"

namespace {

const char kByteOrderMark[] = "\xFF\xFE";

void AppendLine(const std::wstring& line, std::string* bytes) {
    std::u16string units;
    for (wchar_t unit : line) {
        units.push_back(static_cast<char16_t>(unit));
    }
    units += u"\r\n";
    AppendUtf16Le(units.data(), units.size(), bytes);
}

} // namespace

std::string RegImportFile(const AuditReport& report, std::size_t store) {
    std::string bytes(kByteOrderMark, 2);
    AppendLine(L"Windows Registry Editor Version 5.00", &bytes);
    for (const AuditRecord& record : report.records) {
        if (record.store != store || !record.silentFixWrites) {
            continue;
        }
        AppendLine(L"", &bytes);
        AppendLine(L"[HKEY_LOCAL_MACHINE\\" + std::wstring(AdapterClassKey) + L"\\" +
                       Wide(record.subkey) + L"]",
                   &bytes);
        AppendLine(L"\"GUIDMask\"=\"" + WrittenText(record.silentFixMask) + L"\"", &bytes);
    }
    AppendLine(L"", &bytes);
    return bytes;
}
