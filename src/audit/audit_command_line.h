// The audit's command line: [--json | --wide] [--problems] [-d <mask>] [--reg | --reg-dir DIR]
// [--output FILE] [STORE...], -h, --help and --version.
#pragma once

#include "console/exit_status.h"
#include "fix/run_settings.h"
#include "guid/guid_mask.h"

#include <string>
#include <vector>

struct AuditSettings {
    bool json = false;
    bool wide = false;         // --wide: every column of the text report
    bool problemsOnly = false; // --problems: the text report's rows that need a look only
    bool regFile = false;      // --reg: the import file on standard output instead of the report
    std::wstring regDir;       // --reg-dir: one import file per store there; empty: none
    std::wstring output;       // --output: the report in this file instead of standard output
    // What -f -s writes for an unrecognized GUID.
    GuidMask silentMask = static_cast<GuidMask>(DefaultRunSettings().silentMask);
    std::vector<std::wstring> stores;
};

struct AuditCommandLine {
    bool run = false;          // true: the audit follows
    int status = kExitSuccess; // the exit status when run is false
};

// Fills settings from argv[1] onward, or prints the usage text, the version or an error (on
// standard error, with the usage text) and says how the process ends.
AuditCommandLine ParseAuditCommandLine(int argc, const wchar_t* const* argv,
                                       AuditSettings* settings);
