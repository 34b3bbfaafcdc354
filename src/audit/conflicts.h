// The rules across every adapter of every store, on the addresses after the silent fix:
// conflicts and warnings, and the masks that would keep the -d mask's adapters distinct.
#pragma once

#include "audit/audit_record.h"

// Fills report's conflicts, warnings, maskDependentCount and suggestedMasks from its records.
void FindConflicts(AuditReport* report);
