#include "registry/registry_session.h"

#include "registry/store/registry_store.h"

#include <cstdlib>

namespace {

const char kStoreVariable[] = "IPOIB_GUIDMASK_REGISTRY";

// The program's wide strings hold UTF-16 code units on every platform.
std::u16string StoreText(const wchar_t* text) {
    std::u16string converted;
    for (; *text != L'\0'; ++text) {
        converted.push_back(static_cast<char16_t>(*text));
    }
    return converted;
}

} // namespace

RegistryOpening OpenRegistry(const wchar_t* const* areas, std::size_t areaCount, bool forWrites) {
    const char* path = std::getenv(kStoreVariable);
    if (path == nullptr || *path == '\0') {
        RegistryOpening opening;
        opening.problem = kStoreNotNamed;
        return opening;
    }
    return OpenRegistryStore(path, areas, areaCount, forWrites);
}

RegistryOpening OpenRegistryStore(const char* path, const wchar_t* const* areas,
                                  std::size_t areaCount, bool forWrites) {
    RegistryOpening opening;
    opening.path = path;
    for (std::size_t area = 0; area < areaCount; ++area) {
        opening.areas.push_back(StoreText(areas[area]));
    }
    StoreLoadError error;
    if (!LoadRegistryStore(path, opening.areas, &error)) {
        opening.problem = kStoreUnreadable;
        opening.line = error.line;
        opening.what = error.what;
        return opening;
    }
    opening.incomplete = StoreIncompleteReason();
    if (forWrites && !opening.incomplete.empty()) {
        opening.problem = kStoreNotUpToDate;
        UnloadRegistryStore();
        return opening;
    }
    opening.opened = true;
    opening.missingAreas = StoreAreasMissing();
    if (!opening.missingAreas.empty()) {
        opening.keysOutside = StoreKeysOutsideAreas();
    }
    return opening;
}

void CloseRegistry() {
    UnloadRegistryStore();
}
