// The Windows registry API as the tool uses it, for POSIX hosts.
//
// Same names, argument order and contract as advapi32: every call returns ERROR_SUCCESS (0)
// or a Windows error code. Wide strings hold UTF-16 code units, one per wchar_t element,
// whatever the width of wchar_t, so every byte count is a UTF-16 byte count: 2 per element.
#pragma once

#include "registry/store/registry_types.h"

#include <cstdint>

struct RegistryKeyHandle;
typedef RegistryKeyHandle* HKEY;
typedef HKEY* PHKEY;

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_CREATE_LINK 0x0020
#define DELETE 0x00010000
#define WRITE_DAC 0x00040000
#define WRITE_OWNER 0x00080000
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classLength, LPDWORD reserved,
                         LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                         LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                         LPDWORD securityDescriptorLength, PFILETIME lastWriteTime);
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPWSTR className, LPDWORD classLength, PFILETIME lastWriteTime);
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataLength);
LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataLength);
LSTATUS RegCloseKey(HKEY key);
