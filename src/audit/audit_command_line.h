// The audit's command line: [--json | --wide] [--problems] [-d <mask>] [--reg | --reg-dir DIR]
// [--output FILE] [STORE...], -h, --help and --version.
#pragma once

#include "guid/guid_mask.h"

#include <string>
#include <vector>

// Bad usage, and a store that could not be read.
const int kAuditTrouble = 3;

struct AuditSettings {
    bool json;
    bool wide;           // --wide: every column of the text report
    bool problemsOnly;   // --problems: the text report's rows that need a look only
    bool regFile;        // --reg: the import file on standard output instead of the report
    std::wstring regDir; // --reg-dir: one import file per store there; empty: none
    std::wstring output; // --output: the report in this file instead of standard output
    GuidMask silentMask; // what -f -s writes for an unrecognized GUID
    std::vector<std::wstring> stores;
};

struct AuditCommandLine {
    bool run;   // true: the audit follows
    int status; // the exit status when run is false
};

// Fills settings from argv[1] onward, or prints the usage text, the version or an error (on
// standard error, with the usage text) and says how the process ends.
AuditCommandLine ParseAuditCommandLine(int argc, const wchar_t* const* argv,
                                       AuditSettings* settings);
