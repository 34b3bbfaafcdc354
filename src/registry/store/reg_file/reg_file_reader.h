// Reads a .reg file (the format regedit and reg.exe export and import) into a key tree, as
// Windows' import reads it; what the import would not understand is refused with the number
// of the line and what is wrong with it, never skipped.
#pragma once

#include "registry/store/key_tree.h"
#include "registry/store/reg_file/reg_file_text.h"

#include <cstdint>
#include <string>
#include <vector>

// The header's version. In a REGEDIT4 file, as in Windows' ANSI export, the hex(1), hex(2) and
// hex(7) data of strings are narrow bytes (taken as UTF-8 here, whatever the file's encoding);
// in a version 5 file they are UTF-16LE bytes.
enum class RegFileVersion { Regedit4, Version5 };

// What a writer must know to keep the file's own form.
struct RegFileLayout {
    RegFileEncoding encoding;
    LineEnding lineEnding; // of the header line; CRLF when it has none
    RegFileVersion version;
    // Not the layout, but read with it: the first few keys (root key and names, four at most)
    // where key lines leave the areas, for a store that lacks them.
    std::vector<std::u16string> keysOutsideAreas;
};

struct RegFileError {
    std::uint64_t line; // 0 when no line is concerned (the file could not be read)
    std::string what;
};

// Reads the file open on fd from its start into a fresh, finished tree. Key and value names are
// at most kMaxKeyNameLength and kMaxValueNameLength characters long, as on Windows; files must be
// under 4 GiB. areas: the key paths below HKEY_LOCAL_MACHINE to keep (as LoadRegistryStore takes
// them); none: all.
bool ReadRegFile(int fd, const std::vector<std::u16string>& areas, KeyTree* tree,
                 RegFileLayout* layout, RegFileError* error);
