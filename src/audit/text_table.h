// The text report's table of adapters: by default seven columns that fit 120, or every column.
#pragma once

#include "audit/audit_record.h"

#include <vector>

enum TableShape {
    kTableNarrow, // STORE SUBKEY CONNECTION STATE GUIDMASK MAC-AFTER-FIX PORT-GUID
    kTableWide,   // every column, free text last
};

// The header and one aligned row per record whose entry in shown is true; nothing when no
// record is shown.
void PrintAdapterTable(const AuditReport& report, TableShape shape, const std::vector<bool>& shown);
