#include "audit/audit_main.h"

#include "audit/adapter_audit.h"
#include "audit/audit_command_line.h"
#include "audit/audit_host.h"
#include "audit/conflicts.h"
#include "audit/json_report.h"
#include "audit/reg_import_file.h"
#include "audit/text_report.h"
#include "console/console.h"
#include "fix/adapter_pass.h"
#include "registry/instance_table.h"
#include "registry/registry_api.h"
#include "registry/registry_session.h"
#include "text/utf8.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

const char kLinePrefix[] = "ipoib-guidmask-audit: ";
const std::size_t kLinePrefixLength = sizeof kLinePrefix - 1;

void RefuseWithoutMemory() {
    PrintErrorLiteral("ipoib-guidmask-audit: out of memory\n");
    std::_Exit(kAuditTrouble);
}

// The reason a store could not be read: its stderr line without the program's name.
std::string ProblemOf(const std::string& lines) {
    std::string line = lines.substr(0, lines.find('\n'));
    if (line.compare(0, kLinePrefixLength, kLinePrefix) == 0) {
        line.erase(0, kLinePrefixLength);
    }
    return line;
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
    StoreOutcome outcome;
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

void PrintReport(const AuditSettings& settings, const AuditReport& report, int status) {
    if (settings.regFile) {
        if (!report.stores.empty() && report.stores[0].read) {
            const std::string bytes = RegImportFile(report, 0);
            WriteOutputBytes(bytes.data(), bytes.size());
        }
    } else if (settings.json) {
        PrintJsonReport(report, status);
    } else {
        PrintTextReport(report);
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
    if (settings.stores.empty()) {
        AuditStore(nullptr, &report);
    }
    for (const std::wstring& store : settings.stores) {
        AuditStore(store.c_str(), &report);
    }
    FindConflicts(&report);
    int status = AuditStatus(report);
    if (!settings.regDir.empty() && !WriteImportFiles(settings.regDir, report)) {
        status = kAuditTrouble;
    }
    PrintReport(settings, report, status);
    FlushConsole();
    return status;
}
