#include "audit/audit_record.h"

#include "console/exit_status.h"

const char* StateName(AuditState state) {
    static const char* const names[] = {"ok", "would-write", "would-replace", "no-instance"};
    return names[state];
}

const char* FindingName(FindingKind kind) {
    static const char* const names[] = {
        "mac-collision", "guid-on-two-hosts",  "group-address", "guid-twice-on-host",
        "zero-guid",     "neighbor-collision", "live-collision"};
    return names[kind];
}

const char* ReadingName(AddressReading reading) {
    static const char* const names[] = {nullptr, "lsb-first", "msb-first"};
    return names[reading];
}

const char* ClassName(GuidClass guidClass) {
    static const char* const names[] = {nullptr, "known", "workaround", "unrecognized"};
    return names[guidClass];
}

const char* FixActionName(FixAction action) {
    static const char* const names[] = {nullptr, "write-predefined", "nothing-to-fix", "prompt"};
    return names[action];
}

bool IsConflict(FindingKind kind) {
    return kind != kGuidTwiceOnHost && kind != kZeroGuid;
}

AuditCounts CountAudit(const AuditReport& report) {
    AuditCounts counts;
    for (const StoreOutcome& store : report.stores) {
        if (!store.read) {
            ++counts.unreadable;
        }
    }
    for (const AuditRecord& record : report.records) {
        ++counts.byState[record.state];
        if (record.live.state == kLivePendingRestart) {
            ++counts.pendingRestart;
        }
    }
    return counts;
}

int AuditStatus(const AuditReport& report) {
    const AuditCounts counts = CountAudit(report);
    if (counts.unreadable > 0) {
        return kAuditTrouble;
    }
    if (!report.conflicts.empty()) {
        return kAuditConflicts;
    }
    const std::size_t changes = counts.byState[kStateWouldWrite] +
                                counts.byState[kStateWouldReplace] +
                                counts.byState[kStateNoInstance] + counts.pendingRestart;
    return changes > 0 ? kAuditChangesDue : kExitSuccess;
}
