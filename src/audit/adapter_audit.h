// The audit of the registry that is open: one record per IPoIB adapter, read as a check run
// reads it (every key for reading only), with what a silent fix would do to it.
#pragma once

#include "audit/audit_record.h"

#include <cstddef>
#include <vector>

// Builds the process's instance table from the open registry, then appends a record for each
// adapter of the class key whose "ComponentId" begins with "iba\ipoib", in the registry's order.
void AuditOpenRegistry(std::size_t store, GuidMask silentMask, std::vector<AuditRecord>* records);

// How a stored "GUIDMask" text reads: the decimal text of a valid mask, as a fix writes it, or
// text that is none.
StoredMaskKind ReadStoredMask(const std::string& text, GuidMask* mask);
