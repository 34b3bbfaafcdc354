// The registry of one host, and the files the audit writes, the platform's way: on POSIX a
// store file (a STORE argument, or the one IPOIB_GUIDMASK_REGISTRY names); on Windows the
// machine's registry only.
#pragma once

#include <string>

// Whether STORE arguments are taken.
bool AuditTakesStores();

// Opens store (nullptr: the registry the first program reads) for reading, as a check run
// opens it, and gives its label: the store's path, or on Windows the computer's name. lines
// gets the stderr lines to print (UTF-8): why it could not be opened, or a warning.
bool OpenHostRegistry(const wchar_t* store, std::wstring* label, std::string* lines);

// Writes bytes to the file at path, replacing it, unless it is one of the stores audited; false
// with the reason in problem.
bool WriteOutputFile(const std::wstring& path, const std::string& bytes, std::wstring* problem);
