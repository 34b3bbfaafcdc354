#include "audit/live_audit.h"

#include "audit/live_state.h"

#include <algorithm>
#include <vector>

namespace {

const char* TableName(LiveTable table) {
    static const char* const names[] = {"the interface table (GetIfTable2",
                                        "the IPv4 neighbor table (GetIpNetTable2",
                                        "the IPv6 neighbor table (GetIpNetTable2"};
    return names[table];
}

// Whether a neighbor has a link-layer address (a group entry of the table may have none) and
// lies in the table of one of the store's IPoIB interfaces.
bool OfStoreInterface(const AuditReport& report, std::size_t store, const LiveNeighbor& neighbor) {
    if (neighbor.link.length == 0) {
        return false;
    }
    for (const AuditRecord& record : report.records) {
        if (record.store == store && record.live.interfaceFound &&
            SameInterfaceGuid(record.live.interfaceFacts.guid, neighbor.interfaceGuid)) {
            return true;
        }
    }
    return false;
}

// Whether a finding names the neighbor: its address and its link-layer address.
bool InFindings(const std::vector<Finding>& findings, const LiveNeighbor& neighbor) {
    MacAddress link;
    if (!AsMacAddress(neighbor.link, &link)) {
        return false;
    }
    for (const Finding& finding : findings) {
        if (std::equal(link.bytes, link.bytes + 6, finding.address.bytes) &&
            std::find(finding.neighbors.begin(), finding.neighbors.end(), neighbor.address) !=
                finding.neighbors.end()) {
            return true;
        }
    }
    return false;
}

} // namespace

void AddLiveFacts(const LiveTables& tables, std::size_t store, AuditReport* report) {
    for (AuditRecord& record : report->records) {
        if (record.store == store) {
            FindLiveInterface(tables, &record);
        }
    }
    StoreOutcome& outcome = report->stores[store];
    outcome.live = tables.availability;
    std::vector<LiveNeighbor> neighbors;
    for (const LiveNeighbor& neighbor : tables.neighbors) {
        if (OfStoreInterface(*report, store, neighbor)) {
            neighbors.push_back(neighbor);
        }
    }
    // The store keeps the neighbors that take part in a collision only: the others can meet
    // nothing when documents are merged (a neighbor table is one host's), and a cluster's
    // table of thousands would swell every host's document.
    const std::vector<Finding> findings = FindNeighborCollisions(report->records, store, neighbors);
    for (const LiveNeighbor& neighbor : neighbors) {
        if (InFindings(findings, neighbor)) {
            outcome.neighbors.push_back(neighbor);
        }
    }
}

std::string LiveFailureLine(const LiveTables& tables) {
    if (tables.failures.empty()) {
        return std::string();
    }
    std::string line = tables.availability == kLiveFailed
                           ? "ipoib-guidmask-audit: the live state could not be read: "
                           : "ipoib-guidmask-audit: the live state was not read whole: ";
    for (std::size_t index = 0; index < tables.failures.size(); ++index) {
        line += (index == 0 ? "" : ", ") + std::string(TableName(tables.failures[index].table)) +
                ", error " + std::to_string(tables.failures[index].error) + ")";
    }
    return line + "\n";
}

void JudgeLiveStates(AuditReport* report) {
    for (AuditRecord& record : report->records) {
        JudgeLiveAdapter(report->stores[record.store].live, &record);
    }
}

void FindLiveConflicts(AuditReport* report) {
    for (std::size_t store = 0; store < report->stores.size(); ++store) {
        for (const Finding& finding :
             FindNeighborCollisions(report->records, store, report->stores[store].neighbors)) {
            report->conflicts.push_back(finding);
        }
    }
    for (const Finding& finding : FindLiveCollisions(report->records)) {
        report->conflicts.push_back(finding);
    }
}
