#include "audit/audit_main.h"

#include "audit/adapter_audit.h"
#include "audit/audit_command_line.h"
#include "audit/audit_host.h"
#include "audit/conflicts.h"
#include "audit/document_merge.h"
#include "audit/json_report.h"
#include "audit/output_file.h"
#include "audit/reg_import_file.h"
#include "audit/store_arguments.h"
#include "audit/text_report.h"
#include "console/console.h"
#include "fix/adapter_pass.h"
#include "registry/instance_table.h"
#include "registry/registry_api.h"
#include "registry/registry_session.h"
#include "text/utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>

namespace {

const char kLinePrefix[] = "ipoib-guidmask-audit: ";
const std::size_t kLinePrefixLength = sizeof kLinePrefix - 1;

void RefuseWithoutMemory() {
    PrintErrorLiteral("ipoib-guidmask-audit: out of memory\n");
    std::_Exit(kAuditTrouble);
}

// The reason a store could not be read: its stderr line without the program's name.
std::wstring ProblemOf(const std::string& lines) {
    std::string line = lines.substr(0, lines.find('\n'));
    if (line.compare(0, kLinePrefixLength, kLinePrefix) == 0) {
        line.erase(0, kLinePrefixLength);
    }
    return DecodeUtf8(line.data(), line.size());
}

bool KeyExists(const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// One store at a time: it is loaded, audited and let go before the next. A store that holds
// neither key the run reads is most often an export of another key: it has nothing to audit,
// and passing it as clean would tell an engine that the host needs nothing.
void AuditStore(const wchar_t* store, AuditReport* report) {
    StoreOutcome outcome = {L"", false, L"", L""};
    std::string lines;
    outcome.read = OpenHostRegistry(store, &outcome.label, &lines);
    if (outcome.read && !KeyExists(NetworkInstancesKey) && !KeyExists(AdapterClassKey)) {
        CloseRegistry();
        outcome.read = false;
        if (lines.empty()) {
            lines = std::string(kLinePrefix) + "the registry holds neither key the audit reads\n";
        }
    }
    if (!lines.empty()) {
        PrintErrorText(DecodeUtf8(lines.data(), lines.size()).c_str());
    }
    if (!lines.empty()) {
        (outcome.read ? outcome.warning : outcome.problem) = ProblemOf(lines);
    }
    report->stores.push_back(outcome);
    if (outcome.read) {
        AuditOpenRegistry(report->stores.size() - 1, report->silentMask, &report->records);
        CloseRegistry();
    }
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

// False when a file could not be written (said on standard error). Two stores whose paths
// give one name would overwrite each other's file: the second is refused.
bool WriteImportFiles(const AuditSettings& settings, const AuditReport& report) {
    bool written = true;
    std::set<std::wstring> names;
    for (std::size_t store = 0; store < report.stores.size(); ++store) {
        if (!report.stores[store].read) {
            continue;
        }
        const std::wstring name = ImportFileName(report.stores[store].label);
        const std::wstring path = settings.regDir + L"/" + name;
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

// Each file the argument names, in turn: a document is merged, a registry store audited.
void AuditArgument(const std::wstring& argument, GuidMask silentMask, AuditReport* report) {
    std::wstring why;
    const std::vector<std::wstring> files = ExpandStoreArgument(argument, &why);
    if (files.empty()) {
        AddTroubleStore(argument, why, report);
    }
    for (const std::wstring& file : files) {
        std::string bytes;
        const StoreFileKind kind = ReadStoreFile(file, &bytes, &why);
        if (kind == kDocumentFile) {
            MergeDocument(file, bytes, silentMask, report);
        } else if (kind == kRefusedFile) {
            AddTroubleStore(file, why, report);
        } else if (LabelInAudit(*report, file)) {
            AddTroubleStore(file,
                            L"already in the audit; left out, so that it is not counted as "
                            L"two hosts",
                            report);
        } else {
            AuditStore(file.c_str(), report);
        }
    }
}

void PrintReport(const AuditSettings& settings, const AuditReport& report, int status) {
    if (settings.regFile) {
        if (!report.stores.empty() && report.stores[0].read) {
            const std::string bytes = RegImportFile(report, 0);
            WriteOutputBytes(bytes.data(), bytes.size());
        }
    } else if (settings.json) {
        PrintJsonReport(report, status);
    } else {
        PrintTextReport(report, TextReportShape{settings.wide, settings.problemsOnly});
    }
}

} // namespace

int AuditMain(int argc, const wchar_t* const* argv) {
    std::set_new_handler(RefuseWithoutMemory);
    AuditSettings settings;
    const AuditCommandLine commandLine = ParseAuditCommandLine(argc, argv, &settings);
    if (!commandLine.run) {
        FlushConsole();
        return commandLine.status;
    }
    AuditReport report;
    report.silentMask = settings.silentMask;
    report.maskDependentCount = 0;
    report.firstSuggestionChanges = 0;
    if (settings.stores.empty()) {
        AuditStore(nullptr, &report);
    }
    for (const std::wstring& store : settings.stores) {
        AuditArgument(store, settings.silentMask, &report);
    }
    FindConflicts(&report);
    int status = AuditStatus(report);
    if (!settings.regDir.empty() && !WriteImportFiles(settings, report)) {
        status = kAuditTrouble;
    }
    OutputFile output;
    std::wstring why;
    if (!settings.output.empty() && !BeginOutputFile(settings.output, &output, &why)) {
        PrintErrorText((L"ipoib-guidmask-audit: " + settings.output +
                        L": cannot write the "
                        L"report: " +
                        why + L"\n")
                           .c_str());
        return kAuditTrouble;
    }
    PrintReport(settings, report, status);
    FlushConsole();
    if (!settings.output.empty() && !FinishOutputFile(&output, &why)) {
        PrintErrorText((L"ipoib-guidmask-audit: " + settings.output +
                        L": cannot write the "
                        L"report: " +
                        why + L"\n")
                           .c_str());
        return kAuditTrouble;
    }
    return status;
}
