#include "audit/audit_main.h"

#include "audit/adapter_audit.h"
#include "audit/audit_command_line.h"
#include "audit/audit_host.h"
#include "audit/conflicts.h"
#include "audit/json_report.h"
#include "audit/reg_import_file.h"
#include "audit/store_outcome.h"
#include "audit/text_report.h"
#include "console/console.h"
#include "fix/adapter_pass.h"
#include "registry/registry_session.h"
#include "text/utf8.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

void RefuseWithoutMemory() {
    PrintErrorLiteral("ipoib-guidmask-audit: out of memory\n");
    std::_Exit(kAuditTrouble);
}

// One store at a time: it is loaded, audited and let go before the next.
void AuditStore(const wchar_t* store, AuditReport* report) {
    std::string label;
    const RegistryOpening opening = OpenHostRegistry(store, &label);
    std::string lines;
    report->stores.push_back(StoreOutcomeOf(label, opening, &lines));
    if (!lines.empty()) {
        PrintErrorText(DecodeUtf8(lines.data(), lines.size()).c_str());
    }
    if (report->stores.back().read) {
        AuditOpenRegistry(report->stores.size() - 1, report->silentMask, &report->records);
    }
    if (opening.opened) {
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
