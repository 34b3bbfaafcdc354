// The files STORE arguments name, as engines and shells hand them over, and how each is read:
// one of the audit's JSON documents, or (POSIX) a registry store.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The files one argument names. A folder gives the *.json files in it; on Windows, whose
// shells expand no wildcard, an argument with * or ? gives the files it matches. Both sorted.
// Empty, with why, when a folder or pattern gives none; otherwise the argument itself.
std::vector<std::wstring> ExpandStoreArgument(const std::wstring& argument, std::wstring* why);

enum StoreFileKind {
    kRegistryFile, // for the registry layer to open and judge (POSIX)
    kDocumentFile, // bytes holds the file, up to one byte beyond the largest document read
    kRefusedFile,  // why says why
};

// Looks at the file's first bytes: a document is read whole, anything else is a registry
// store where the program reads them, and refused where it does not.
StoreFileKind ReadStoreFile(const std::wstring& path, std::string* bytes, std::wstring* why);

// Whether path is a file the audit has read, which --output must never replace.
bool IsAuditedFile(const std::wstring& path);

// The platform's part of ReadStoreFile: the file opened for reading (null when it cannot be,
// with why), and remembered as one the audit read.
std::FILE* OpenStoreFile(const std::wstring& path, std::wstring* why);
