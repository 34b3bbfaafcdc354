// The live facts as both reports show them: ASCII text cells, and the JSON members that carry
// the facts (read back when documents are merged) beside what the rules made of them.
#pragma once

#include "audit/audit_record.h"

#include <nlohmann/json.hpp>
#include <string>

// "in-effect", "in-effect(msb-first)", "overridden", "-".
std::string LiveStateCell(const AuditRecord& record);

// The interface's current address, "-" without one.
std::string MacNowCell(const AuditRecord& record);

// The address the stored (else the predefined or default) mask gives, "-" where none is judged.
std::string MacExpectedCell(const AuditRecord& record);

// "yes" or "no".
std::string RestartCell(const AuditRecord& record);

// A live finding's address and neighbors: "00-11-22-33-44-55 (192.168.50.2 192.168.50.3)".
std::string LiveFindingText(const Finding& finding);

// Adds networkAddress, liveState, liveReading, interface, macExpected and restartNeeded.
void AddLiveAdapterJson(const AuditRecord& record, nlohmann::ordered_json* adapter);

// null for a store file; else whether the interfaces were read, and the IPoIB neighbors.
nlohmann::ordered_json StoreLiveJson(const StoreOutcome& store);

// Adds address and, for a neighbor collision, neighbors.
void AddLiveFindingJson(const Finding& finding, nlohmann::ordered_json* json);
