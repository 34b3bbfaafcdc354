#include "audit/store_arguments.h"

#include "text/utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>

namespace {

// The files read (device and inode), whatever names reached them.
std::vector<std::pair<dev_t, ino_t>> gAuditedFiles;

bool EndsWithJson(const std::string& name) {
    return name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The *.json files of the folder, sorted by name.
std::vector<std::wstring> FolderDocuments(const std::string& folder) {
    std::vector<std::string> paths;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return {};
    }
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    while (const dirent* entry = readdir(directory)) {
        const std::string path = prefix + entry->d_name;
        if (EndsWithJson(entry->d_name) && IsRegularFile(path)) {
            paths.push_back(path);
        }
    }
    closedir(directory);
    std::sort(paths.begin(), paths.end());
    std::vector<std::wstring> files;
    for (const std::string& path : paths) {
        files.push_back(DecodeUtf8(path.data(), path.size()));
    }
    return files;
}

} // namespace

std::vector<std::wstring> ExpandStoreArgument(const std::wstring& argument, std::wstring* why) {
    const std::string path = EncodeUtf8(argument);
    struct stat status;
    if (path.empty() || stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return {argument};
    }
    const std::vector<std::wstring> files = FolderDocuments(path);
    if (files.empty()) {
        *why = L"the folder holds no .json file";
    }
    return files;
}

// Only a regular file is looked into: opening a FIFO or a device could wait for ever. The
// registry layer judges anything else.
std::FILE* OpenStoreFile(const std::wstring& path, std::wstring* why) {
    const std::string name = EncodeUtf8(path);
    if (!IsRegularFile(name)) {
        *why = L"not a regular file";
        return nullptr;
    }
    std::FILE* file = std::fopen(name.c_str(), "rb");
    struct stat status;
    if (file == nullptr) {
        const char* reason = std::strerror(errno);
        *why = DecodeUtf8(reason, std::strlen(reason));
    } else if (fstat(fileno(file), &status) == 0) {
        gAuditedFiles.emplace_back(status.st_dev, status.st_ino);
    }
    return file;
}

bool IsAuditedFile(const std::wstring& path) {
    struct stat status;
    if (stat(EncodeUtf8(path).c_str(), &status) != 0) {
        return false;
    }
    return std::find(gAuditedFiles.begin(), gAuditedFiles.end(),
                     std::make_pair(status.st_dev, status.st_ino)) != gAuditedFiles.end();
}
