#include "audit/audit_host.h"

#include "fix/run.h"
#include "registry/registry_session.h"
#include "text/utf8.h"

#include <cstdio>
#include <windows.h>

bool AuditTakesStores() {
    return false;
}

bool OpenHostRegistry(const wchar_t*, std::string* label, std::string* lines) {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    *label = GetComputerNameW(name, &length) ? EncodeUtf8(std::wstring(name, length)) : "localhost";
    return OpenRegistry(kRunRegistryAreas, kRunRegistryAreaCount, false, lines);
}

std::FILE* OpenOutputFile(const std::wstring& path, std::wstring*) {
    return _wfopen(path.c_str(), L"wb");
}
