// The registry of one host, and the files the audit writes, the platform's way: on POSIX a
// store file (a STORE argument, or the one IPOIB_GUIDMASK_REGISTRY names); on Windows the
// machine's registry only.
#pragma once

#include "registry/registry_session.h"

#include <cstdio>
#include <string>

// Whether registry stores (.reg exports, hives) are taken as STORE arguments; documents are
// taken everywhere.
bool AuditTakesStores();

// Opens store (nullptr: the registry the first program reads) for reading, as a check run
// opens it, and gives its label (UTF-8): the store's path, or on Windows the computer's name.
RegistryOpening OpenHostRegistry(const wchar_t* store, std::string* label);

// The file at path opened to be replaced, unless it is one of the stores audited; null with the
// reason in problem, or with errno set.
std::FILE* OpenOutputFile(const std::wstring& path, std::wstring* problem);
