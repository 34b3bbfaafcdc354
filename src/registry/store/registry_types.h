// The Windows registry's types, status codes, value types, name limits and root key names,
// for POSIX hosts: the words the store speaks, below the registry API (registry_api-posix.h)
// that is built over it.
#pragma once

#include <cstddef>
#include <cstdint>

typedef std::uint8_t BYTE;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef LONG LSTATUS;
typedef DWORD REGSAM;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
typedef FILETIME* PFILETIME;

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_WRITE_FAULT 29L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_NOACCESS 998L
#define ERROR_BADDB 1009L
#define ERROR_KEY_DELETED 1018L

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

// Key names are at most 255 and value names at most 16383 UTF-16 units long, as on Windows.
const std::size_t kMaxKeyNameLength = 255;
const std::size_t kMaxValueNameLength = 16383;

// The names a .reg file may give a root key; only the first is reachable through the registry
// API, the others are kept in a store's tree.
const std::size_t kRootKeyCount = 5;
const char16_t* const kRootKeyNames[kRootKeyCount] = {
    u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER",   u"HKEY_CLASSES_ROOT",
    u"HKEY_USERS",         u"HKEY_CURRENT_CONFIG",
};
