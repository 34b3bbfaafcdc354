// The audit as text: the table of adapters, the stores that could not be read, one line per
// conflict and warning, the suggested masks, and the summary line last.
#pragma once

#include "audit/audit_record.h"

#include <string>

struct TextReportShape {
    bool wide;         // every column instead of the seven that fit 120 columns
    bool problemsOnly; // only the rows not ok or named by a finding, then a count of the rest
};

// Printed piece by piece on standard output.
void PrintTextReport(const AuditReport& report, TextReportShape shape);

// "summary: stores=2 unreadable=0 adapters=3 ok=1 ...", with its line feed.
std::wstring SummaryLine(const AuditReport& report);
