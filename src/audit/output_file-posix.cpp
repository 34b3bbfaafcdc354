#include "audit/output_file.h"

#include "audit/store_arguments.h"
#include "text/utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::wstring Reason(int error) {
    const char* reason = std::strerror(error);
    return DecodeUtf8(reason, std::strlen(reason));
}

// The mode a file made by the shell's > would have: 0666 less the umask.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

bool BeginOutputFile(const std::wstring& path, OutputFile* output, std::wstring* why) {
    if (IsAuditedFile(path)) {
        *why = L"it is one of the files audited, which the audit never writes";
        return false;
    }
    const std::string name = EncodeUtf8(path);
    const std::size_t slash = name.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string temporary = folder + "." + base + ".XXXXXX";
    std::fflush(stdout);
    const int file = mkstemp(&temporary[0]);
    if (file < 0) {
        *why = Reason(errno);
        return false;
    }
    fchmod(file, NewFileMode());
    output->path = path;
    output->temporary = DecodeUtf8(temporary.data(), temporary.size());
    output->savedOutput = dup(STDOUT_FILENO);
    if (output->savedOutput < 0 || dup2(file, STDOUT_FILENO) < 0) {
        *why = Reason(errno);
        close(file);
        unlink(temporary.c_str());
        return false;
    }
    close(file);
    return true;
}

bool FinishOutputFile(OutputFile* output, std::wstring* why) {
    const bool sent =
        std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && fsync(STDOUT_FILENO) == 0;
    const int error = errno;
    dup2(output->savedOutput, STDOUT_FILENO);
    close(output->savedOutput);
    std::clearerr(stdout);
    const std::string temporary = EncodeUtf8(output->temporary);
    if (sent && std::rename(temporary.c_str(), EncodeUtf8(output->path).c_str()) == 0) {
        return true;
    }
    *why = Reason(sent ? errno : error);
    unlink(temporary.c_str());
    return false;
}
