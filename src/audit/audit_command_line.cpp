#include "audit/audit_command_line.h"

#include "console/console.h"
#include "guid/mask_argument.h"

#include <cstdint>
#include <cwchar>

// The build gives the project's version.
#ifndef IPOIB_GUIDMASK_VERSION
#define IPOIB_GUIDMASK_VERSION "unknown"
#endif
#define IPOIB_GUIDMASK_WIDEN_TEXT(text) L##text
#define IPOIB_GUIDMASK_WIDE(text) IPOIB_GUIDMASK_WIDEN_TEXT(text)
#define IPOIB_GUIDMASK_WIDE_VERSION IPOIB_GUIDMASK_WIDE(IPOIB_GUIDMASK_VERSION)

namespace {

const wchar_t kUsage[] =
    L"Usage: ipoib-guidmask-audit [--json | --wide] [--problems] [-d <mask>]\n"
    L"                            [--reg | --reg-dir <dir>] [--output <file>] [STORE...]\n"
    L"\t-h, --help: Print this help message and exit.\n"
    L"\t--version: Print the version and exit.\n"
    L"\t--json: Write the audit as one JSON document.\n"
    L"\t--wide: Every column of the text report, in rows wider than 120 columns.\n"
    L"\t--problems: Only the rows not ok or named by a conflict or warning.\n"
    L"\t-d <mask>: The GUID mask a silent fix writes for unrecognized GUIDs. Default mask is "
    L"0xe7.\n"
    L"\t--reg: Write the \"GUIDMask\" values a silent fix would write as a .reg file instead.\n"
    L"\t--reg-dir <dir>: Also write one such file per store into <dir>.\n"
    L"\t--output <file>: Write the report (or --reg's file) to <file>, whole or not at all.\n"
    L"\tSTORE: a document written by --json, which joins the audit as the hosts it holds, or\n"
    L"\t       (POSIX builds) one host's registry, a .reg export or a SYSTEM hive. A folder\n"
    L"\t       gives its *.json files; on Windows, * and ? are expanded. Default: the\n"
    L"\t       registry ipoib-guidmask reads.\n";

AuditCommandLine Refuse(const std::wstring& why) {
    PrintErrorText((L"ipoib-guidmask-audit: " + why + L"\n").c_str());
    PrintErrorText(kUsage);
    return AuditCommandLine{false, kAuditTrouble};
}

bool Is(const wchar_t* argument, const wchar_t* option) {
    return std::wcscmp(argument, option) == 0;
}

// The options that take a value, and the checks that need every argument.
AuditCommandLine TakeValue(const wchar_t* option, const wchar_t* value, AuditSettings* settings) {
    if (Is(option, L"-d")) {
        // As in the first program, a later -d takes the place of an earlier one.
        std::uint32_t mask = 0;
        std::wstring refusal;
        if (!ReadMaskArgument(value, &mask, &refusal)) {
            PrintErrorText(refusal.c_str());
            return AuditCommandLine{false, kAuditTrouble};
        }
        settings->silentMask = static_cast<GuidMask>(mask & 0xFFu);
    } else if (Is(option, L"--output")) {
        if (!settings->output.empty() || *value == L'\0') {
            return Refuse(settings->output.empty() ? L"--output needs a file"
                                                   : L"--output is given twice");
        }
        settings->output = value;
    } else if (!settings->regDir.empty() || *value == L'\0') {
        return Refuse(settings->regDir.empty() ? L"--reg-dir needs a directory"
                                               : L"--reg-dir is given twice");
    } else {
        settings->regDir = value;
    }
    return AuditCommandLine{true, kExitSuccess};
}

AuditCommandLine CheckTogether(const AuditSettings& settings) {
    if (settings.regFile && (settings.json || !settings.regDir.empty())) {
        return Refuse(L"--reg writes the import file alone, without --json or --reg-dir");
    }
    if ((settings.wide || settings.problemsOnly) && (settings.json || settings.regFile)) {
        return Refuse(L"--wide and --problems shape the text report, not --json or --reg");
    }
    if (settings.regFile && settings.stores.size() > 1) {
        return Refuse(L"--reg takes one store; --reg-dir writes one file per store");
    }
    return AuditCommandLine{true, kExitSuccess};
}

} // namespace

AuditCommandLine ParseAuditCommandLine(int argc, const wchar_t* const* argv,
                                       AuditSettings* settings) {
    *settings = AuditSettings();
    bool storesOnly = false;
    for (int index = 1; index < argc; ++index) {
        const wchar_t* argument = argv[index];
        if (storesOnly || argument[0] != L'-' || Is(argument, L"-")) {
            settings->stores.push_back(argument);
        } else if (Is(argument, L"--")) {
            storesOnly = true;
        } else if (Is(argument, L"-h") || Is(argument, L"--help")) {
            PrintText(kUsage);
            return AuditCommandLine{false, kExitSuccess};
        } else if (Is(argument, L"--version")) {
            PrintText(L"ipoib-guidmask-audit " IPOIB_GUIDMASK_WIDE_VERSION L"\n");
            return AuditCommandLine{false, kExitSuccess};
        } else if (Is(argument, L"--json")) {
            settings->json = true;
        } else if (Is(argument, L"--wide")) {
            settings->wide = true;
        } else if (Is(argument, L"--problems")) {
            settings->problemsOnly = true;
        } else if (Is(argument, L"--reg")) {
            settings->regFile = true;
        } else if (Is(argument, L"-d") || Is(argument, L"--reg-dir") || Is(argument, L"--output")) {
            if (index == argc - 1) {
                return Refuse(std::wstring(argument) + L" needs a value");
            }
            const AuditCommandLine taken = TakeValue(argument, argv[++index], settings);
            if (!taken.run) {
                return taken;
            }
        } else {
            return Refuse(L"unknown option " + std::wstring(argument));
        }
    }
    return CheckTogether(*settings);
}
