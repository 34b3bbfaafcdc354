#include "audit/audit_host.h"

#include "fix/run.h"
#include "registry/registry_session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <windows.h>

bool AuditTakesStores() {
    return false;
}

bool OpenHostRegistry(const wchar_t*, std::wstring* label, std::string* lines) {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    *label = GetComputerNameW(name, &length) ? std::wstring(name, length) : L"localhost";
    return OpenRegistry(kRunRegistryAreas, kRunRegistryAreaCount, false, lines);
}

bool WriteOutputFile(const std::wstring& path, const std::string& bytes, std::wstring* problem) {
    std::FILE* file = _wfopen(path.c_str(), L"wb");
    bool written =
        file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int error = errno;
    if (file != nullptr && std::fclose(file) != 0) {
        written = false;
    }
    if (!written) {
        const char* reason = std::strerror(error);
        problem->assign(reason, reason + std::strlen(reason));
    }
    return written;
}
