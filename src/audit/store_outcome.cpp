#include "audit/store_outcome.h"

#include "registry/registry_opening_text.h"

namespace {

const char kLinePrefix[] = "ipoib-guidmask-audit: ";

// What a registry that lacks some of the keys the audit reads holds, and what would serve.
std::string MissingAreasReason(const RegistryOpening& opening) {
    std::string key;
    const std::string holds = MissingAreasText(opening, &key);
    if (opening.path.empty()) {
        return "the registry " + holds;
    }
    return "the store " + holds + ": the audit needs an export of that key (reg export HKLM\\" +
           key + " FILE.reg) or the image's SYSTEM hive";
}

// Why the store could not be read, without its label; empty when it was.
std::string ProblemOf(const RegistryOpening& opening) {
    switch (opening.problem) {
    case kStoreNotNamed:
        return "registry store not named: give STORE arguments or set IPOIB_GUIDMASK_REGISTRY to "
               "a .reg file or a SYSTEM hive file";
    case kStoreUnreadable:
        return opening.line == 0 ? opening.what
                                 : "line " + std::to_string(opening.line) + ": " + opening.what;
    case kStoreNotUpToDate:
        return NotUpToDateText(opening);
    case kRegistryOpened:
        break;
    }
    const bool holdsNone =
        !opening.areas.empty() && opening.missingAreas.size() == opening.areas.size();
    return holdsNone ? MissingAreasReason(opening) : std::string();
}

// The line's head: the program, and the label or the store file's place, where there is one.
std::string LineHead(const std::string& label, const RegistryOpening& opening) {
    if (opening.problem == kStoreUnreadable) {
        return kLinePrefix + StorePlace(opening) + ": ";
    }
    return label.empty() ? std::string(kLinePrefix) : kLinePrefix + label + ": ";
}

} // namespace

StoreOutcome StoreOutcomeOf(const std::string& label, const RegistryOpening& opening,
                            std::string* lines) {
    StoreOutcome outcome;
    outcome.label = label;
    outcome.problem = ProblemOf(opening);
    outcome.read = opening.opened && outcome.problem.empty();
    std::vector<std::string> warnings;
    if (!opening.incomplete.empty() && opening.problem == kRegistryOpened) {
        warnings.push_back(IncompleteText(opening));
    }
    if (outcome.read && !opening.missingAreas.empty()) {
        warnings.push_back(MissingAreasReason(opening));
    }
    const std::string head = LineHead(label, opening);
    if (!outcome.problem.empty()) {
        *lines +=
            head + (opening.problem == kStoreUnreadable ? opening.what : outcome.problem) + "\n";
    }
    for (const std::string& warning : warnings) {
        outcome.warning += (outcome.warning.empty() ? "" : "; ") + warning;
        *lines += head + "warning: " + warning + "\n";
    }
    return outcome;
}
