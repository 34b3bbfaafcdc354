#include "registry/registry_session.h"

#include <windows.h>

// The machine's registry is always there; the facts are which of the areas it holds.
RegistryOpening OpenRegistry(const wchar_t* const* areas, std::size_t areaCount, bool) {
    RegistryOpening opening;
    opening.opened = true;
    for (std::size_t area = 0; area < areaCount; ++area) {
        const std::u16string path(areas[area], areas[area] + std::wcslen(areas[area]));
        opening.areas.push_back(path);
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, areas[area], 0, KEY_READ, &key) != ERROR_SUCCESS) {
            opening.missingAreas.push_back(path);
        } else {
            RegCloseKey(key);
        }
    }
    return opening;
}

void CloseRegistry() {}
