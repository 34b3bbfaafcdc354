// The audit of the registry that is open: one record per IPoIB adapter, read as a check run
// reads it (every key for reading only), with what a silent fix would do to it.
#pragma once

#include "audit/audit_record.h"
#include "registry/instance_table.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Builds the process's instance table from the open registry, then appends a record for each
// adapter of the class key whose "ComponentId" begins with "iba\ipoib", in the registry's order.
void AuditOpenRegistry(std::size_t store, GuidMask silentMask, std::vector<AuditRecord>* records);

// How a stored "GUIDMask" text reads: the decimal text of a valid mask, as a fix writes it, or
// text that is none.
StoredMaskKind ReadStoredMask(const std::string& text, GuidMask* mask);

// A record of the adapter at subkey with nothing found yet: no instance, nothing stored.
AuditRecord EmptyRecord(std::size_t store, const std::string& subkey);

// The stored "GUIDMask" value: its registry type and its text (for another type than REG_SZ,
// what stands for it), read as a mask only when it is REG_SZ.
void SetStoredValue(std::uint32_t type, const std::string& text, AuditRecord* record);

// The plan of an adapter whose instance was found, from its port GUID as this build's tables
// classify it and the stored value already set: the rows of the fix's own decision table for a
// silent and an interactive fix, the state, and the addresses.
void PlanAdapter(const IpoibInstance& instance, GuidMask silentMask, AuditRecord* record);
