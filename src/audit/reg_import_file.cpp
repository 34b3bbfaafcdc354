#include "audit/reg_import_file.h"

#include "audit/audit_host.h"
#include "audit/report_cells.h"
#include "console/console.h"
#include "fix/adapter_pass.h"
#include "text/utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

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

// The file's name: the store's path with each separator as "_", ending in ".reg".
std::wstring ImportFileName(const std::wstring& label) {
    std::wstring name = label;
    while (name.compare(0, 2, L"./") == 0) {
        name.erase(0, 2);
    }
    for (wchar_t& unit : name) {
        if (unit == L'/' || unit == L'\\' || unit == L':') {
            unit = L'_';
        }
    }
    const std::size_t length = name.size();
    const bool endsInReg = length >= 4 && name[length - 4] == L'.' &&
                           (name[length - 3] | 0x20) == L'r' && (name[length - 2] | 0x20) == L'e' &&
                           (name[length - 1] | 0x20) == L'g';
    return endsInReg ? name : name + L".reg";
}

// Writes bytes to the file at path, replacing it; false with the reason in problem.
bool WriteOutputFile(const std::wstring& path, const std::string& bytes, std::wstring* problem) {
    problem->clear();
    std::FILE* file = OpenOutputFile(path, problem);
    bool written =
        file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int error = errno;
    if (file != nullptr && std::fclose(file) != 0) {
        written = false;
    }
    if (!written && problem->empty()) {
        const char* reason = std::strerror(error);
        *problem = DecodeUtf8(reason, std::strlen(reason));
    }
    return written;
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
        AppendLine(L"\"GUIDMask\"=\"" + Wide(WrittenText(record.silentFixMask)) + L"\"", &bytes);
    }
    AppendLine(L"", &bytes);
    return bytes;
}

bool WriteImportFiles(const std::wstring& directory, const AuditReport& report) {
    bool written = true;
    std::set<std::wstring> names;
    for (std::size_t store = 0; store < report.stores.size(); ++store) {
        if (!report.stores[store].read) {
            continue;
        }
        const std::wstring name = ImportFileName(Wide(report.stores[store].label));
        const std::wstring path = directory + L"/" + name;
        std::wstring problem = L"another store's file has this name";
        if (!names.insert(name).second ||
            !WriteOutputFile(path, RegImportFile(report, store), &problem)) {
            PrintErrorText((L"ipoib-guidmask-audit: " + path + L": cannot write the import file: " +
                            problem + L"\n")
                               .c_str());
            written = false;
        }
    }
    return written;
}
