#include "audit/store_arguments.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

namespace {

// The files read, by full path, compared as Windows compares names: without case.
std::vector<std::wstring> gAuditedFiles;

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    return length > 0 && length < MAX_PATH * 4 ? std::wstring(full, length) : path;
}

bool SameName(const std::wstring& left, const std::wstring& right) {
    return CompareStringOrdinal(left.c_str(), -1, right.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool NameBefore(const std::wstring& left, const std::wstring& right) {
    return CompareStringOrdinal(left.c_str(), -1, right.c_str(), -1, TRUE) == CSTR_LESS_THAN;
}

bool EndsWithJson(const std::wstring& name) {
    return name.size() > 5 && SameName(name.substr(name.size() - 5), L".json");
}

// The folder part of a path, with its separator: what a pattern's matches are joined to.
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/:");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

// The files (no folders) that FindFirstFileW gives for the pattern, joined to folder, sorted;
// with onlyJson, those whose names end in .json (a short 8.3 name can match otherwise).
std::vector<std::wstring> Matches(const std::wstring& pattern, const std::wstring& folder,
                                  bool onlyJson) {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            (!onlyJson || EndsWithJson(name))) {
            files.push_back(folder + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end(), NameBefore);
    return files;
}

} // namespace

std::vector<std::wstring> ExpandStoreArgument(const std::wstring& argument, std::wstring* why) {
    if (argument.find_first_of(L"*?") != std::wstring::npos) {
        const std::vector<std::wstring> files = Matches(argument, FolderOf(argument), false);
        if (files.empty()) {
            *why = L"no file matches the pattern";
        }
        return files;
    }
    const DWORD attributes = GetFileAttributesW(argument.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return {argument};
    }
    const bool separated =
        !argument.empty() && (argument.back() == L'\\' || argument.back() == L'/');
    const std::wstring folder = separated ? argument : argument + L"\\";
    const std::vector<std::wstring> files = Matches(folder + L"*.json", folder, true);
    if (files.empty()) {
        *why = L"the folder holds no .json file";
    }
    return files;
}

std::FILE* OpenStoreFile(const std::wstring& path, std::wstring* why) {
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        *why = GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? L"no such file"
                                                                           : L"cannot be opened";
        return nullptr;
    }
    gAuditedFiles.push_back(FullPath(path));
    return file;
}

bool IsAuditedFile(const std::wstring& path) {
    const std::wstring full = FullPath(path);
    for (const std::wstring& file : gAuditedFiles) {
        if (SameName(file, full)) {
            return true;
        }
    }
    return false;
}
