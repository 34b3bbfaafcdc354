// The stores and adapters of the audit's own documents joined to this run's audit, re-planned
// with this run's -d mask and this build's tables; and the one rule for a host met twice.
#pragma once

#include "audit/audit_document.h"
#include "audit/audit_record.h"

#include <string>

// Whether a store of this label (UTF-8) is already in the audit. A host met a second time (the same
// document matched twice, an old and a new copy, a .reg export beside its host's document) is
// left out, as trouble for its argument: counted twice it would collide with itself in every
// rule.
bool LabelInAudit(const AuditReport& report, const std::string& label);

// A store that the argument could not bring: said on standard error in one line, and listed
// in the report as a store that could not be read, with why, so that the status is 3.
void AddTroubleStore(const std::wstring& argument, const std::wstring& why, AuditReport* report);

// Reads the document (the bytes of the file argument) and adds each of its stores, unreadable
// ones as unreadable, and each adapter of a store that was read, planned with silentMask. A
// document that cannot be read, or a store whose label is already in the audit, is trouble
// for the argument alone.
void MergeDocument(const std::wstring& argument, const std::string& bytes, GuidMask silentMask,
                   AuditReport* report);
