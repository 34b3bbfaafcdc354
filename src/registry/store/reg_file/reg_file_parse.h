// What the parts of the .reg reader share: the line being parsed, in the units of the file's
// encoding, the section it is in, and the small readers of text that every part uses. The line
// loop (reg_file_reader.cpp) owns the line; key lines (reg_file_key_lines.cpp) own the section
// and the paths; value lines (reg_file_value_lines.cpp, reg_file_hex_data.cpp) own the value
// being read. Each part is compiled once for each unit.
#pragma once

#include "registry/store/key_tree.h"
#include "registry/store/reg_file/reg_file_lines.h"
#include "registry/store/reg_file/reg_file_reader.h"
#include "registry/store/registry_types.h"
#include "text/utf8.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A line's text in the units of the file's encoding: char16_t for UTF-16LE, char (its bytes)
// for UTF-8. Everything the grammar looks for is ASCII, and no byte of a multi-byte UTF-8
// sequence is, so one parse reads both; only names and string data are decoded, where they
// go. char, not unsigned char: the standard library has character traits, which string views
// need, for char alone.
template <typename Unit>
using Text = std::basic_string_view<Unit>;

template <typename Unit>
struct RegLine {
    PhysicalLine physical;
    Text<Unit> text;          // the units of the line: in the reader's buffer or in decoded
    std::u16string decoded;   // a UTF-16LE line read on a big-endian host
    std::u16string nameUnits; // a name of a UTF-8 line, decoded
    RegFileError* error;
};

// Where the lines are: set by key lines, read by value lines.
struct RegSection {
    KeyTree* tree;
    bool inSection;           // false before the first section and after a deletion
    std::uint32_t currentKey; // kNoIndex outside a section and in one that is not kept
};

// What the key lines remember from one to the next.
template <typename Unit>
struct RegKeyPaths {
    // The names of each area below HKEY_LOCAL_MACHINE; none: every key is kept.
    std::vector<std::vector<std::u16string>> areas;
    std::size_t previousRoot;          // of the last key line that was not a deletion
    std::vector<std::size_t> pathEnds; // of each name of a key line's path, from its start
    std::vector<std::uint32_t> pathKeys;
    std::basic_string<Unit> previousPath; // of the last key line that was not a deletion
    std::vector<std::size_t> previousEnds;
    std::vector<std::uint32_t> previousKeys;
    std::vector<std::u16string>* outside; // the first keys outside the areas
};

// A hex value whose data go on over the next lines.
struct ContinuedValue {
    bool active;
    std::u16string name;
    std::uint32_t type;
    std::uint64_t sourceStart;
    std::uint64_t sourceEnd;
    std::uint64_t backslashEnd; // behind the last continuation backslash
};

// The value being read.
struct RegValues {
    bool narrowHexText; // REGEDIT4: hex(1), hex(2) and hex(7) data are narrow bytes
    std::u16string name;
    std::vector<unsigned char> data;
    ContinuedValue continued;
};

// The parts' entry points; at is where the line's text begins behind its blanks.

// [path] or [-path].
template <typename Unit>
bool ParseKeyLine(RegLine<Unit>* line, RegKeyPaths<Unit>* paths, RegSection* section,
                  std::size_t at);

// "name"=data or @=data.
template <typename Unit>
bool ParseValueLine(RegLine<Unit>* line, const RegSection& section, RegValues* values,
                    std::size_t at);

// The hex data of hex: or hex(N):, at behind the prefix.
template <typename Unit>
bool ParseHexValue(RegLine<Unit>* line, const RegSection& section, RegValues* values,
                   std::size_t at, std::size_t dataStart, std::uint32_t type);

// A line that goes on with the data of a continued hex value.
template <typename Unit>
bool ParseContinuedLine(RegLine<Unit>* line, const RegSection& section, RegValues* values);

// The continued value that the file's end cuts short.
template <typename Unit>
void StoreValueCutByTheEnd(const RegLine<Unit>& line, const RegSection& section, RegValues* values);

// The root key (created if the file has not named it yet).
std::uint32_t AddRootKey(KeyTree* tree, std::size_t root);

// The names of each area, split at its backslashes.
std::vector<std::vector<std::u16string>> SplitAreas(const std::vector<std::u16string>& areas);

// Appended where Windows' import would take the file but not the line.
inline constexpr char kSkippedByWindows[] = "; Windows would skip this line";

template <typename Unit>
bool Fail(RegLine<Unit>* line, const std::string& what) {
    line->error->line = line->physical.number;
    line->error->what = what;
    return false;
}

// A refusal of a line that Windows' import would step over, importing the rest.
template <typename Unit>
bool FailSkippable(RegLine<Unit>* line, const std::string& what) {
    return Fail(line, what + kSkippedByWindows);
}

inline std::string Utf8Of(const char16_t* units, std::size_t length) {
    std::string bytes;
    AppendUtf8(units, length, &bytes);
    return bytes;
}

inline const unsigned char* BytesOf(Text<char> text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

template <typename Unit>
std::size_t SkipBlanks(Text<Unit> text, std::size_t at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
        ++at;
    }
    return at;
}

// word: ASCII.
template <typename Unit>
bool StartsWith(Text<Unit> text, std::size_t at, const char* word) {
    for (; *word != '\0'; ++word, ++at) {
        if (at >= text.size() || text[at] != *word) {
            return false;
        }
    }
    return true;
}

struct HexDigitTable {
    signed char values[128];
};

constexpr HexDigitTable MakeHexDigitTable() {
    HexDigitTable table{};
    for (int unit = 0; unit < 128; ++unit) {
        table.values[unit] = -1;
    }
    for (int digit = 0; digit < 16; ++digit) {
        table.values[static_cast<unsigned char>("0123456789abcdef"[digit])] =
            static_cast<signed char>(digit);
        table.values[static_cast<unsigned char>("0123456789ABCDEF"[digit])] =
            static_cast<signed char>(digit);
    }
    return table;
}

// A table rather than comparisons: hex data are random digits, which defeat branch prediction.
inline constexpr HexDigitTable kHexDigitTable = MakeHexDigitTable();

inline int HexDigit(char16_t unit) {
    return unit < 128 ? kHexDigitTable.values[unit] : -1;
}

inline int HexDigit(char byte) {
    return HexDigit(static_cast<char16_t>(static_cast<unsigned char>(byte)));
}

template <typename Unit>
int HexDigitValue(Text<Unit> text, std::size_t at) {
    return at < text.size() ? HexDigit(text[at]) : -1;
}

template <typename Unit>
std::uint64_t FileOffset(const RegLine<Unit>& line, std::size_t unitIndex) {
    return line.physical.start + unitIndex * sizeof(Unit);
}

// Only blanks or a ';' comment may follow a value's data.
template <typename Unit>
bool EndsWithComment(Text<Unit> text, std::size_t at) {
    at = SkipBlanks(text, at);
    return at == text.size() || text[at] == ';';
}

// The number of UTF-16 units that text[from, to) holds.
inline std::size_t UnitCount(Text<char16_t>, std::size_t from, std::size_t to) {
    return to - from;
}

inline std::size_t UnitCount(Text<char> text, std::size_t from, std::size_t to) {
    return Utf8UnitCount(BytesOf(text) + from, to - from);
}

// Appends the UTF-16 units of text[from, to) to out, but stops once out holds more than limit.
inline void AppendUnits(Text<char16_t> text, std::size_t from, std::size_t to, std::size_t limit,
                        std::u16string* out) {
    const std::size_t room = out->size() > limit ? 0 : limit + 1 - out->size();
    out->append(text.data() + from, std::min(to - from, room));
}

inline void AppendUnits(Text<char> text, std::size_t from, std::size_t to, std::size_t limit,
                        std::u16string* out) {
    AppendUtf8Units(BytesOf(text) + from, to - from, limit, out);
}

// The UTF-16 units of the line's text[from, to), for the tree or a message: where they lie in a
// UTF-16 line; decoded from a UTF-8 one, no further than it takes to hold more than limit of
// them. Valid until the next call.
inline std::u16string_view UnitsOf(RegLine<char16_t>* line, std::size_t from, std::size_t to,
                                   std::size_t) {
    return line->text.substr(from, to - from);
}

inline std::u16string_view UnitsOf(RegLine<char>* line, std::size_t from, std::size_t to,
                                   std::size_t limit) {
    line->nameUnits.clear();
    AppendUnits(line->text, from, to, limit, &line->nameUnits);
    return line->nameUnits;
}

// Records where the value's data stand in the file, and that new values of its key go behind
// its line.
template <typename Unit>
void NoteValueSource(const RegLine<Unit>& line, const RegSection& section, std::uint32_t value,
                     std::uint64_t sourceStart, std::uint64_t sourceEnd) {
    KeyTree* tree = section.tree;
    tree->values[value].sourceStart = static_cast<std::uint32_t>(sourceStart);
    tree->values[value].sourceEnd = static_cast<std::uint32_t>(sourceEnd);
    tree->keys[section.currentKey].newValueAt =
        static_cast<std::uint32_t>(line.physical.contentEnd);
}

// Sets the value of the section's key from the data read; nothing for a key not kept.
template <typename Unit>
void StoreValue(const RegLine<Unit>& line, const RegSection& section, const RegValues& values,
                const std::u16string& name, std::uint32_t type, std::uint64_t sourceStart,
                std::uint64_t sourceEnd) {
    if (section.currentKey == kNoIndex) {
        return;
    }
    const std::uint32_t value = SetValue(section.tree, section.currentKey, name.data(), name.size(),
                                         type, values.data.data(), values.data.size());
    NoteValueSource(line, section, value, sourceStart, sourceEnd);
}
