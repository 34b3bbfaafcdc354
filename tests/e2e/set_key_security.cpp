// Gives one registry key below HKEY_LOCAL_MACHINE the access rules of a security descriptor
// written in SDDL, for the Windows program's checks under Wine: a key on which setting values
// is denied is a fix run without the right to write. Built with mingw-w64 by
// windows_program_test.py.
// Usage: set_key_security.exe <key path below HKLM> <SDDL>
#include <windows.h>

#include <sddl.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: set_key_security <key path below HKLM> <SDDL>\n", stderr);
        return 2;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[2], SDDL_REVISION_1, &descriptor,
                                                             nullptr) == 0) {
        std::fprintf(stderr, "the SDDL text was refused: error %lu\n", GetLastError());
        return 1;
    }
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, WRITE_DAC, &key);
    if (status == ERROR_SUCCESS) {
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "the key's security was not set: error %ld\n", status);
        return 1;
    }
    return 0;
}
