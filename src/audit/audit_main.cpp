#include "audit/audit_main.h"

#include "audit/adapter_audit.h"
#include "audit/audit_command_line.h"
#include "audit/audit_host.h"
#include "audit/conflicts.h"
#include "audit/document_merge.h"
#include "audit/json_report.h"
#include "audit/live_audit.h"
#include "audit/live_interfaces.h"
#include "audit/output_file.h"
#include "audit/reg_import_file.h"
#include "audit/store_arguments.h"
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

// The live state of the host whose registry was just audited: on Windows the machine's
// interfaces, on POSIX none (a store file is no live host). A table that could not be read is
// said in one line; it is no trouble of the store's.
void AddHostLiveFacts(std::size_t store, AuditReport* report) {
    const LiveTables tables = ReadLiveTables();
    AddLiveFacts(tables, store, report);
    const std::string line = LiveFailureLine(tables);
    if (!line.empty()) {
        PrintErrorText(DecodeUtf8(line.data(), line.size()).c_str());
    }
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
        AddHostLiveFacts(report->stores.size() - 1, report);
    }
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
        } else if (LabelInAudit(*report, EncodeUtf8(file))) {
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

// The report on standard output, or whole in the --output file; false when that file could
// not be written, which is said on standard error.
bool DeliverReport(const AuditSettings& settings, const AuditReport& report, int status) {
    const bool toFile = !settings.output.empty();
    OutputFile output;
    std::wstring why;
    bool delivered = !toFile || BeginOutputFile(settings.output, &output, &why);
    if (delivered) {
        PrintReport(settings, report, status);
        FlushConsole();
        delivered = !toFile || FinishOutputFile(&output, &why);
    }
    if (!delivered) {
        PrintErrorText((L"ipoib-guidmask-audit: " + settings.output +
                        L": cannot write the report: " + why + L"\n")
                           .c_str());
    }
    return delivered;
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
        AuditArgument(store, settings.silentMask, &report);
    }
    // A document, or a folder, may bring several stores where the command line named one.
    if (settings.regFile && report.stores.size() > 1) {
        PrintErrorText(L"ipoib-guidmask-audit: --reg takes one store, and the arguments brought "
                       L"several; --reg-dir writes one file per store\n");
        return kAuditTrouble;
    }
    FindConflicts(&report);
    int status = AuditStatus(report);
    if (!settings.regDir.empty() && !WriteImportFiles(settings.regDir, report)) {
        status = kAuditTrouble;
    }
    return DeliverReport(settings, report, status) ? status : kAuditTrouble;
}
