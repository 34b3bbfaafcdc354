#include "audit/output_file.h"

#include "audit/store_arguments.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace {

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/:");
    if (separator == std::wstring::npos) {
        return L".";
    }
    return path.substr(0, separator + 1);
}

// The runtime's descriptor 1 and the process's standard output handle, which the console
// layer asks for, kept as one.
void PointStandardOutput() {
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
}

} // namespace

bool BeginOutputFile(const std::wstring& path, OutputFile* output, std::wstring* why) {
    if (IsAuditedFile(path)) {
        *why = L"it is one of the files audited, which the audit never writes";
        return false;
    }
    wchar_t temporary[MAX_PATH];
    if (GetTempFileNameW(FolderOf(path).c_str(), L"aud", 0, temporary) == 0) {
        *why = L"cannot make a file in its folder";
        return false;
    }
    std::fflush(stdout);
    // Text mode, as a redirected standard output: each line feed as CR LF.
    const int file = _wopen(temporary, _O_WRONLY | _O_TRUNC | _O_TEXT);
    output->path = path;
    output->temporary = temporary;
    output->savedOutput = _dup(1);
    if (file < 0 || output->savedOutput < 0 || _dup2(file, 1) != 0) {
        *why = L"cannot write a file in its folder";
        if (file >= 0) {
            _close(file);
        }
        DeleteFileW(temporary);
        return false;
    }
    _close(file);
    PointStandardOutput();
    return true;
}

bool FinishOutputFile(OutputFile* output, std::wstring* why) {
    const bool sent = std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && _commit(1) == 0;
    _dup2(output->savedOutput, 1);
    _close(output->savedOutput);
    PointStandardOutput();
    std::clearerr(stdout);
    if (sent && MoveFileExW(output->temporary.c_str(), output->path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    *why = sent ? L"the file could not take its name" : L"the report could not be written whole";
    DeleteFileW(output->temporary.c_str());
    return false;
}
