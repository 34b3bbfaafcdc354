// The audit behind the platform's entry: the command line, each store in turn, the rules
// across them, then the report.
#pragma once

// argv holds wide strings of UTF-16 code units. Returns the exit status (console/exit_status.h).
int AuditMain(int argc, const wchar_t* const* argv);
