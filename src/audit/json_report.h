// The audit as one JSON document, with a line feed at its end; its keys are listed in the
// manual page.
#pragma once

#include "audit/audit_record.h"

#include <string>

// The document's format version: raised when a key changes meaning or goes away.
const int kJsonFormatVersion = 1;

// Printed piece by piece on standard output.
void PrintJsonReport(const AuditReport& report, int status);
