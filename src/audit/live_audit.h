// The live host joined to the audit: each record's interface, each store's neighbors, the
// states judged over every store and the collisions they show, as conflicts.
#pragma once

#include "audit/audit_record.h"
#include "audit/live_interfaces.h"

#include <cstddef>
#include <string>

// Gives the records of the store the interfaces of their instances, and the store the
// availability of the tables and those neighbors of its IPoIB interfaces that take part in a
// neighbor collision.
void AddLiveFacts(const LiveTables& tables, std::size_t store, AuditReport* report);

// The one stderr line (UTF-8) that says which tables could not be read; empty when all were.
std::string LiveFailureLine(const LiveTables& tables);

// Every record's live state, from its store's availability and its facts.
void JudgeLiveStates(AuditReport* report);

// The neighbor collisions of each store and the live collisions across stores, as conflicts.
void FindLiveConflicts(AuditReport* report);
