#include "audit/audit_host.h"

#include "fix/run.h"
#include "text/utf8.h"

#include <cstdio>
#include <windows.h>

bool AuditTakesStores() {
    return false;
}

RegistryOpening OpenHostRegistry(const wchar_t*, std::string* label) {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    *label = GetComputerNameW(name, &length) ? EncodeUtf8(std::wstring(name, length)) : "localhost";
    return OpenRegistry(kRunRegistryAreas, kRunRegistryAreaCount, false);
}

std::FILE* OpenOutputFile(const std::wstring& path, std::wstring*) {
    return _wfopen(path.c_str(), L"wb");
}
