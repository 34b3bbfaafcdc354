#include "registry/registry_access.h"

DWORD CountSubkeys(HKEY key) {
    wchar_t className[260] = {};
    DWORD classLength = 260;
    DWORD subkeyCount = 0;
    // A failed query leaves the count at 0, which walks the key as one with no subkeys.
    RegQueryInfoKeyW(key, className, &classLength, nullptr, &subkeyCount, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);
    return subkeyCount;
}

bool SubkeyName(HKEY key, DWORD index, wchar_t name[kSubkeyNameBufferLength]) {
    DWORD nameLength = kSubkeyNameBufferLength;
    FILETIME lastWriteTime;
    return RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr,
                         &lastWriteTime) == ERROR_SUCCESS;
}

bool ReadStringValue(HKEY key, const wchar_t* valueName, wchar_t buffer[kStringValueBufferLength]) {
    DWORD byteCount = kStringValueByteLimit;
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                         &byteCount) != ERROR_SUCCESS) {
        return false;
    }
    buffer[byteCount / 2] = L'\0';
    return true;
}
