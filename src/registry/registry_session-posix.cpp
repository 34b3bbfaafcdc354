#include "registry/registry_session.h"

#include "registry/store/registry_store.h"
#include "registry/store/store_format_diagnosis.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char kStoreVariable[] = "IPOIB_GUIDMASK_REGISTRY";

const char kProgramName[] = "ipoib-guidmask";

void ReportStoreProblem(const char* programName, const std::string& problem, std::string* report) {
    report->append(std::string(programName) + ": " + problem + "\n");
}

// The program's wide strings hold UTF-16 code units on every platform.
std::u16string StoreText(const wchar_t* text) {
    std::u16string converted;
    for (; *text != L'\0'; ++text) {
        converted.push_back(static_cast<char16_t>(*text));
    }
    return converted;
}

// A store without the keys the run reads is most often an export of the wrong key: the run
// goes on (it finds nothing), and one line says what the store holds and what is needed.
void ReportMissingAreas(const char* programName, const char* path,
                        const std::vector<std::u16string>& areas, std::string* report) {
    const std::string warning = MissingAreasWarning(areas, StoreKeysOutsideAreas());
    if (!warning.empty()) {
        ReportStoreProblem(programName, std::string(path) + ": " + warning, report);
    }
}

} // namespace

bool OpenRegistry(const wchar_t* const* areas, std::size_t areaCount, bool forWrites,
                  std::string* report) {
    const char* path = std::getenv(kStoreVariable);
    if (path == nullptr || *path == '\0') {
        ReportStoreProblem(kProgramName,
                           std::string("registry store not named: set ") + kStoreVariable +
                               " to a .reg file or a SYSTEM hive file",
                           report);
        return false;
    }
    return OpenRegistryStore(path, kProgramName, areas, areaCount, forWrites, report);
}

bool OpenRegistryStore(const char* path, const char* programName, const wchar_t* const* areas,
                       std::size_t areaCount, bool forWrites, std::string* report) {
    std::vector<std::u16string> storeAreas;
    for (std::size_t area = 0; area < areaCount; ++area) {
        storeAreas.push_back(StoreText(areas[area]));
    }
    std::string error;
    if (!LoadRegistryStore(path, storeAreas, &error)) {
        ReportStoreProblem(programName, error, report);
        return false;
    }
    const std::string& incomplete = StoreIncompleteReason();
    if (incomplete.empty()) {
        ReportMissingAreas(programName, path, storeAreas, report);
        return true;
    }
    if (forWrites) {
        ReportStoreProblem(programName,
                           std::string(path) +
                               ": the hive was not shut down cleanly and cannot be brought up to "
                               "date, as " +
                               incomplete +
                               ": start the image once and shut it down cleanly, then run again",
                           report);
        UnloadRegistryStore();
        return false;
    }
    ReportStoreProblem(
        programName,
        std::string(path) +
            ": warning: the hive was not shut down cleanly and may be incomplete, as " + incomplete,
        report);
    ReportMissingAreas(programName, path, storeAreas, report);
    return true;
}

void CloseRegistry() {
    UnloadRegistryStore();
}
