// The audit as text: one aligned row per adapter, one line per conflict and warning, the
// suggested masks, and the summary line last.
#pragma once

#include "audit/audit_record.h"

#include <string>

// Printed piece by piece on standard output.
void PrintTextReport(const AuditReport& report);

// "summary: stores=2 unreadable=0 adapters=3 ok=1 ...", with its line feed.
std::wstring SummaryLine(const AuditReport& report);
