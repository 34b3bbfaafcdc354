#include "registry/store/reg_file/reg_file_reader.h"

#include "registry/registry_api-posix.h"
#include "registry/store/name_case.h"
#include "registry/store/reg_file/reg_file_lines.h"
#include "text/utf8.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

const char kHeaderVersion5[] = "Windows Registry Editor Version 5.00";
const char kHeaderVersion4[] = "REGEDIT4";
const char kHeaderMissing[] = "missing header: the first line must be \"Windows Registry Editor "
                              "Version 5.00\" or \"REGEDIT4\"";
const char kHeaderStem[] = "REGEDIT";
// Appended where Windows' import would take the file but not the line.
const char kSkippedByWindows[] = "; Windows would skip this line";
const std::size_t kMaxQuotedInMessage = 64;
// In units of either encoding: a few times the deepest path Windows allows (512 levels of names
// of up to 255 characters, each up to 3 bytes of UTF-8).
const std::size_t kRememberedPathLength = 4 * 512 * (kMaxKeyNameLength + 1);

// A line's text in the units of the file's encoding: char16_t for UTF-16LE, char (its bytes)
// for UTF-8. Everything the grammar looks for is ASCII, and no byte of a multi-byte UTF-8
// sequence is, so one parse reads both; only names and string data are decoded, where they
// go. char, not unsigned char: the standard library has character traits, which string views
// need, for char alone.
template <typename Unit>
using Text = std::basic_string_view<Unit>;

// A hex value whose data go on over the next lines.
struct ContinuedValue {
    bool active;
    std::u16string name;
    std::uint32_t type;
    std::uint64_t sourceStart;
    std::uint64_t sourceEnd;
    std::uint64_t backslashEnd; // behind the last continuation backslash
};

template <typename Unit>
struct RegParser {
    KeyTree* tree;
    bool narrowHexText; // REGEDIT4: hex(1), hex(2) and hex(7) data are narrow bytes
    // The names of each area below HKEY_LOCAL_MACHINE; none: every key is kept.
    std::vector<std::vector<std::u16string>> areas;
    bool inSection;           // false before the first section and after a deletion
    std::uint32_t currentKey; // kNoIndex outside a section and in one that is not kept
    std::size_t previousRoot; // of the last key line that was not a deletion
    PhysicalLine line;
    Text<Unit> text;          // the units of line: in the reader's buffer or in decoded
    std::u16string decoded;   // a UTF-16LE line read on a big-endian host
    std::u16string nameUnits; // a name of a UTF-8 line, decoded
    std::u16string name;
    std::vector<unsigned char> data;
    ContinuedValue continued;
    std::vector<std::size_t> pathEnds; // of each name of a key line's path, from its start
    std::vector<std::uint32_t> pathKeys;
    std::basic_string<Unit> previousPath; // of the last key line that was not a deletion
    std::vector<std::size_t> previousEnds;
    std::vector<std::uint32_t> previousKeys;
    std::vector<std::u16string>* outside; // the first keys outside the areas
    RegFileError* error;
};

template <typename Unit>
bool Fail(RegParser<Unit>* parser, const std::string& what) {
    parser->error->line = parser->line.number;
    parser->error->what = what;
    return false;
}

// A refusal of a line that Windows' import would step over, importing the rest.
template <typename Unit>
bool FailSkippable(RegParser<Unit>* parser, const std::string& what) {
    return Fail(parser, what + kSkippedByWindows);
}

std::string Utf8Of(const char16_t* units, std::size_t length) {
    std::string bytes;
    AppendUtf8(units, length, &bytes);
    return bytes;
}

const unsigned char* BytesOf(Text<char> text) {
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
constexpr HexDigitTable kHexDigitTable = MakeHexDigitTable();

int HexDigit(char16_t unit) {
    return unit < 128 ? kHexDigitTable.values[unit] : -1;
}

int HexDigit(char byte) {
    return HexDigit(static_cast<char16_t>(static_cast<unsigned char>(byte)));
}

template <typename Unit>
int HexDigitValue(Text<Unit> text, std::size_t at) {
    return at < text.size() ? HexDigit(text[at]) : -1;
}

// Reads up to maxDigits hex digits; false when there are none or more.
template <typename Unit>
bool ReadHexNumber(Text<Unit> text, std::size_t* at, std::size_t maxDigits, std::uint32_t* number) {
    std::size_t digits = 0;
    *number = 0;
    for (int digit = HexDigitValue(text, *at); digit >= 0; digit = HexDigitValue(text, *at)) {
        if (++digits > maxDigits) {
            return false;
        }
        *number = (*number << 4) | static_cast<std::uint32_t>(digit);
        ++*at;
    }
    return digits > 0;
}

template <typename Unit>
std::uint64_t FileOffset(const RegParser<Unit>& parser, std::size_t unitIndex) {
    return parser.line.start + unitIndex * sizeof(Unit);
}

// Only blanks or a ';' comment may follow a value's data.
template <typename Unit>
bool EndsWithComment(Text<Unit> text, std::size_t at) {
    at = SkipBlanks(text, at);
    return at == text.size() || text[at] == ';';
}

// The number of UTF-16 units that text[from, to) holds.
std::size_t UnitCount(Text<char16_t>, std::size_t from, std::size_t to) {
    return to - from;
}

std::size_t UnitCount(Text<char> text, std::size_t from, std::size_t to) {
    return Utf8UnitCount(BytesOf(text) + from, to - from);
}

// Appends the UTF-16 units of text[from, to) to out, but stops once out holds more than limit.
void AppendUnits(Text<char16_t> text, std::size_t from, std::size_t to, std::size_t limit,
                 std::u16string* out) {
    const std::size_t room = out->size() > limit ? 0 : limit + 1 - out->size();
    out->append(text.data() + from, std::min(to - from, room));
}

void AppendUnits(Text<char> text, std::size_t from, std::size_t to, std::size_t limit,
                 std::u16string* out) {
    AppendUtf8Units(BytesOf(text) + from, to - from, limit, out);
}

// The UTF-16 units of the line's text[from, to), for the tree or a message: where they lie in a
// UTF-16 line; decoded from a UTF-8 one, no further than it takes to hold more than limit of
// them. Valid until the next call.
std::u16string_view UnitsOf(RegParser<char16_t>* parser, std::size_t from, std::size_t to,
                            std::size_t) {
    return parser->text.substr(from, to - from);
}

std::u16string_view UnitsOf(RegParser<char>* parser, std::size_t from, std::size_t to,
                            std::size_t limit) {
    parser->nameUnits.clear();
    AppendUnits(parser->text, from, to, limit, &parser->nameUnits);
    return parser->nameUnits;
}

// A double-quoted text with the escapes \\ and \"; at starts on the opening quote and ends
// behind the closing one. out may be null: the text is then only checked. Else out gets its
// units, but no more than limit and one, so that a text too long for it is never held whole.
template <typename Unit>
bool ParseQuoted(RegParser<Unit>* parser, std::size_t* at, std::size_t limit, std::u16string* out) {
    const Text<Unit> text = parser->text;
    if (out != nullptr) {
        out->clear();
    }
    std::size_t pos = *at + 1;
    for (;;) {
        std::size_t run = pos;
        while (run < text.size() && text[run] != '"' && text[run] != '\\') {
            ++run;
        }
        if (out != nullptr) {
            AppendUnits(text, pos, run, limit, out);
        }
        if (run == text.size() || (text[run] == '\\' && run + 1 == text.size())) {
            return FailSkippable(parser, "unterminated quote");
        }
        if (text[run] == '"') {
            *at = run + 1;
            return true;
        }
        const Unit escaped = text[run + 1];
        if (escaped != '\\' && escaped != '"') {
            const std::u16string_view shown = UnitsOf(parser, run + 1, text.size(), 0);
            return Fail(parser, "bad escape \"\\" + Utf8Of(shown.data(), 1) +
                                    "\" in quoted text (only \\\\ and \\\" are known)");
        }
        if (out != nullptr && out->size() <= limit) {
            out->push_back(static_cast<char16_t>(escaped));
        }
        pos = run + 2;
    }
}

// The number of the root key of that name in kRootKeyNames, or kRootKeyCount.
std::size_t FindRootName(std::u16string_view name) {
    std::size_t root = 0;
    for (; root < kRootKeyCount; ++root) {
        const char16_t* rootName = kRootKeyNames[root];
        if (NamesMatch(name.data(), name.size(), rootName,
                       std::char_traits<char16_t>::length(rootName))) {
            break;
        }
    }
    return root;
}

// The root key (created if the file has not named it yet).
std::uint32_t AddRootKey(KeyTree* tree, std::size_t root) {
    const char16_t* rootName = kRootKeyNames[root];
    return AddChildKey(tree, kTopKey, rootName, std::char_traits<char16_t>::length(rootName));
}

// Whether the store keeps the key of a key line's path (split into parser->pathEnds): a key of
// HKEY_LOCAL_MACHINE that lies in an area or above one. When it does not, keptNames is the
// number of its leading names that do name such keys (above an area), which exist all the same.
template <typename Unit>
bool KeptPath(RegParser<Unit>* parser, std::size_t start, std::size_t root,
              std::size_t* keptNames) {
    *keptNames = 0;
    if (parser->areas.empty()) {
        return true;
    }
    if (root != 0) {
        return false;
    }
    const std::vector<std::size_t>& ends = parser->pathEnds;
    const std::size_t names = ends.size() - 1;
    for (const std::vector<std::u16string>& area : parser->areas) {
        std::size_t matched = 0;
        while (matched < names && matched < area.size()) {
            const std::u16string_view name = UnitsOf(parser, start + ends[matched] + 1,
                                                     start + ends[matched + 1], kMaxKeyNameLength);
            const std::u16string& areaName = area[matched];
            if (!NamesMatch(name.data(), name.size(), areaName.data(), areaName.size())) {
                break;
            }
            ++matched;
        }
        if (matched == names || matched == area.size()) {
            return true;
        }
        *keptNames = std::max(*keptNames, matched);
    }
    return false;
}

// The keys above an area that a key line outside the areas names on its way.
template <typename Unit>
void AddKeysAboveAreas(RegParser<Unit>* parser, std::size_t start, std::size_t keptNames) {
    const std::vector<std::size_t>& ends = parser->pathEnds;
    std::uint32_t key = keptNames == 0 ? kNoIndex : AddRootKey(parser->tree, 0);
    for (std::size_t name = 1; name <= keptNames; ++name) {
        const std::u16string_view units =
            UnitsOf(parser, start + ends[name - 1] + 1, start + ends[name], kMaxKeyNameLength);
        key = AddChildKey(parser->tree, key, units.data(), units.size());
    }
}

// Notes where a key line outside the areas leaves them: its root and the names down to the
// first one that no area holds.
template <typename Unit>
void NoteKeyOutsideAreas(RegParser<Unit>* parser, std::size_t start, std::size_t root,
                         std::size_t keptNames) {
    const std::size_t kMaxNoted = 4;
    if (parser->outside->size() >= kMaxNoted) {
        return;
    }
    const std::vector<std::size_t>& ends = parser->pathEnds;
    std::u16string key = kRootKeyNames[root];
    for (std::size_t name = 1; name < ends.size() && name <= keptNames + 1; ++name) {
        const std::u16string_view units =
            UnitsOf(parser, start + ends[name - 1] + 1, start + ends[name], kMaxKeyNameLength);
        key.append(u"\\").append(units.data(), units.size());
    }
    if (std::find(parser->outside->begin(), parser->outside->end(), key) ==
        parser->outside->end()) {
        parser->outside->push_back(key);
    }
}

// The length of the text that a key line's path shares with the previous key line's.
template <typename Unit>
std::size_t SharedPathLength(const RegParser<Unit>& parser, std::size_t start, std::size_t close) {
    const Text<Unit> path = parser.text.substr(start, close - start);
    const std::basic_string<Unit>& previous = parser.previousPath;
    const std::size_t length = path.size() < previous.size() ? path.size() : previous.size();
    const std::size_t step = sizeof(std::uint64_t) / sizeof(Unit);
    std::size_t common = 0;
    // A word at a time while they match; paths share most of their text.
    for (std::uint64_t mine, theirs; common + step <= length; common += step) {
        std::memcpy(&mine, path.data() + common, sizeof mine);
        std::memcpy(&theirs, previous.data() + common, sizeof theirs);
        if (mine != theirs) {
            break;
        }
    }
    while (common < length && path[common] == previous[common]) {
        ++common;
    }
    return common;
}

// Splits the path of a key line (root first) into parser->pathEnds; a trailing backslash is
// allowed, an empty or overlong name is not. Names that lie within the text the path shares
// with the previous key line's are that line's names, already split and checked.
template <typename Unit>
bool SplitKeyPath(RegParser<Unit>* parser, std::size_t start, std::size_t close,
                  std::size_t shared) {
    const Text<Unit> text = parser->text;
    std::vector<std::size_t>* ends = &parser->pathEnds;
    ends->clear();
    std::size_t pos = start;
    for (std::size_t end : parser->previousEnds) {
        if (end >= shared) {
            break;
        }
        ends->push_back(end);
        pos = start + end + 1;
    }
    for (;; ++pos) {
        std::size_t end = text.find('\\', pos);
        end = end == Text<Unit>::npos || end > close ? close : end;
        if (end == pos && pos == close && !ends->empty()) {
            return true; // a trailing backslash
        }
        if (end == pos && !ends->empty()) {
            return Fail(parser, "empty key name in the key path");
        }
        // A UTF-8 name holds no more units than bytes: only a long one needs counting.
        if (!ends->empty() && end - pos > kMaxKeyNameLength &&
            UnitCount(text, pos, end) > kMaxKeyNameLength) {
            return Fail(parser, "key name longer than 255 characters");
        }
        ends->push_back(end - start);
        if (end == close) {
            return true;
        }
        pos = end;
    }
}

// Keeps a key line's path, as split, and its keys (none: they are not kept) for the next key
// line. A path far longer than any Windows allows is not kept: that costs the next line only the
// work it would have saved, and the line no copy of itself.
template <typename Unit>
void RememberPath(RegParser<Unit>* parser, std::size_t start, std::size_t close, bool withKeys) {
    if (close - start > kRememberedPathLength) {
        parser->previousPath.clear();
        parser->previousEnds.clear();
        parser->previousKeys.clear();
        return;
    }
    parser->previousPath.assign(parser->text.data() + start, close - start);
    parser->previousEnds = parser->pathEnds;
    if (withKeys) {
        parser->previousKeys = parser->pathKeys;
    } else {
        parser->previousKeys.clear();
    }
}

// Creates the keys of a key line's path. Exports name one key after another below the same
// parents, so the names this path shares with the previous one reuse that one's keys.
template <typename Unit>
std::uint32_t CreateKeyPath(RegParser<Unit>* parser, std::size_t start, std::size_t close,
                            std::size_t shared, std::uint32_t root) {
    const std::vector<std::size_t>& ends = parser->pathEnds;
    std::vector<std::uint32_t>* keys = &parser->pathKeys;
    const std::size_t known = parser->previousKeys.size(); // none when that line was not kept
    bool reusing = known > 0 && parser->previousKeys[0] == root;
    keys->assign(1, root);
    for (std::size_t name = 1; name < ends.size(); ++name) {
        reusing = reusing && name < known && parser->previousEnds[name] == ends[name] &&
                  ends[name] <= shared;
        if (reusing) {
            keys->push_back(parser->previousKeys[name]);
        } else {
            const std::u16string_view units =
                UnitsOf(parser, start + ends[name - 1] + 1, start + ends[name], kMaxKeyNameLength);
            keys->push_back(AddChildKey(parser->tree, keys->back(), units.data(), units.size()));
        }
    }
    RememberPath(parser, start, close, true);
    return keys->back();
}

// [path] makes the key and every key above it exist; [-path] deletes the key and its subtree.
template <typename Unit>
bool ParseKeyLine(RegParser<Unit>* parser, std::size_t at) {
    const Text<Unit> text = parser->text;
    const std::size_t close = text.rfind(']');
    if (close == Text<Unit>::npos || close < at) {
        return FailSkippable(parser, "key line without a closing ']'");
    }
    if (SkipBlanks(text, close + 1) != text.size()) {
        return Fail(parser, "text behind the closing ']' of the key line");
    }
    std::size_t start = at + 1;
    const bool deletion = start < close && text[start] == '-';
    if (deletion) {
        ++start;
    }
    const std::size_t shared = SharedPathLength(*parser, start, close);
    if (!SplitKeyPath(parser, start, close, shared)) {
        return false;
    }
    const std::vector<std::size_t>& ends = parser->pathEnds;
    const bool sameRoot = !parser->previousEnds.empty() && ends[0] < shared;
    std::size_t root = parser->previousRoot;
    if (!sameRoot) {
        // Enough of the name for the message; more than any root key's name.
        const std::u16string_view name =
            UnitsOf(parser, start, start + ends[0], kMaxQuotedInMessage);
        root = FindRootName(name);
        if (root == kRootKeyCount) {
            const std::size_t shown = std::min(name.size(), kMaxQuotedInMessage);
            return Fail(parser, "unknown root key \"" + Utf8Of(name.data(), shown) + "\"");
        }
    }
    if (deletion && ends.size() == 1) {
        return Fail(parser, "a root key cannot be deleted");
    }
    // Keys outside the areas are checked but not kept, so there is nothing of them to delete.
    std::size_t keptNames = 0;
    const bool kept = KeptPath(parser, start, root, &keptNames);
    if (!deletion) {
        parser->inSection = true;
        parser->previousRoot = root;
        if (!kept) {
            AddKeysAboveAreas(parser, start, keptNames);
            NoteKeyOutsideAreas(parser, start, root, keptNames);
            parser->currentKey = kNoIndex;
            RememberPath(parser, start, close, false);
            return true;
        }
        const std::uint32_t rootKey = sameRoot && !parser->previousKeys.empty()
                                          ? parser->previousKeys[0]
                                          : AddRootKey(parser->tree, root);
        const std::uint32_t key = CreateKeyPath(parser, start, close, shared, rootKey);
        parser->currentKey = key;
        parser->tree->keys[key].newValueAt = static_cast<std::uint32_t>(parser->line.contentEnd);
        return true;
    }
    std::uint32_t key = kept ? AddRootKey(parser->tree, root) : kNoIndex;
    for (std::size_t name = 1; name < ends.size() && key != kNoIndex; ++name) {
        const std::u16string_view units =
            UnitsOf(parser, start + ends[name - 1] + 1, start + ends[name], kMaxKeyNameLength);
        key = FindChildKey(*parser->tree, key, units.data(), units.size());
    }
    if (key != kNoIndex) {
        DeleteKey(parser->tree, key);
    }
    parser->inSection = false;
    parser->currentKey = kNoIndex;
    parser->previousPath.clear(); // its keys may be gone
    parser->previousEnds.clear();
    parser->previousKeys.clear();
    return true;
}

// Records where the value's data stand in the file, and that new values of its key go behind
// its line.
template <typename Unit>
void NoteValueSource(RegParser<Unit>* parser, std::uint32_t value, std::uint64_t sourceStart,
                     std::uint64_t sourceEnd) {
    KeyTree* tree = parser->tree;
    tree->values[value].sourceStart = static_cast<std::uint32_t>(sourceStart);
    tree->values[value].sourceEnd = static_cast<std::uint32_t>(sourceEnd);
    tree->keys[parser->currentKey].newValueAt = static_cast<std::uint32_t>(parser->line.contentEnd);
}

template <typename Unit>
void StoreValue(RegParser<Unit>* parser, const std::u16string& name, std::uint32_t type,
                std::uint64_t sourceStart, std::uint64_t sourceEnd) {
    if (parser->currentKey == kNoIndex) {
        return; // a key the store does not keep
    }
    const std::uint32_t value = SetValue(parser->tree, parser->currentKey, name.data(), name.size(),
                                         type, parser->data.data(), parser->data.size());
    NoteValueSource(parser, value, sourceStart, sourceEnd);
}

// The UTF-16LE bytes of text data given as narrow bytes.
void WidenHexText(std::vector<unsigned char>* data) {
    std::u16string units;
    DecodeUtf8(data->data(), data->size(), &units);
    std::string bytes;
    AppendUtf16Le(units.data(), units.size(), &bytes);
    data->assign(bytes.begin(), bytes.end());
}

// Text data that do not end in a zero character get one, as Windows' import adds it; data of
// an odd number of bytes have no last character to look at and are kept as they are.
void TerminateHexText(std::vector<unsigned char>* data) {
    const std::size_t length = data->size();
    if (length >= 2 && length % 2 == 0 && ((*data)[length - 2] != 0 || (*data)[length - 1] != 0)) {
        data->push_back(0);
        data->push_back(0);
    }
}

// Hex data complete: text data given as narrow bytes become their UTF-16LE bytes, and text
// data end in a zero character.
template <typename Unit>
void StoreHexValue(RegParser<Unit>* parser, const std::u16string& name, std::uint32_t type,
                   std::uint64_t sourceStart, std::uint64_t sourceEnd) {
    if (parser->currentKey == kNoIndex) {
        return;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        if (parser->narrowHexText) {
            WidenHexText(&parser->data);
        }
        TerminateHexText(&parser->data);
    }
    StoreValue(parser, name, type, sourceStart, sourceEnd);
}

// Comma-separated bytes of one or two hex digits, up to the end of the line, a ';' comment,
// or a backslash behind a comma (or behind the hex prefix) that continues them on the next
// line. dataEnd moves behind the last byte or comma taken.
template <typename Unit>
bool ParseHexBytes(RegParser<Unit>* parser, std::size_t at, std::size_t* dataEnd, bool* continues) {
    const Text<Unit> text = parser->text;
    bool separated = true;
    if (parser->currentKey == kNoIndex) {
        parser->data.clear(); // only checked: a line's bytes at a time
    }
    for (;;) {
        // regedit's own spelling, two digits and a comma, a step at a time.
        const std::size_t held = parser->data.size();
        parser->data.resize(held + (text.size() - at) / 3);
        unsigned char* out = parser->data.data() + held;
        while (separated && at + 2 < text.size() && text[at + 2] == ',') {
            const int high = HexDigit(text[at]);
            const int low = HexDigit(text[at + 1]);
            if (high < 0 || low < 0) {
                break;
            }
            *out++ = static_cast<unsigned char>(high * 16 + low);
            at += 3;
        }
        parser->data.resize(static_cast<std::size_t>(out - parser->data.data()));
        if (parser->data.size() > held) {
            *dataEnd = at;
        }
        at = SkipBlanks(text, at);
        if (at == text.size() || text[at] == ';') {
            *continues = false;
            return true;
        }
        if (text[at] == '\\') {
            if (!separated) {
                return FailSkippable(parser,
                                     "bad hex data: a continuation backslash must follow a comma");
            }
            if (!EndsWithComment(text, at + 1)) {
                return FailSkippable(parser,
                                     "bad hex data: text behind the continuation backslash");
            }
            parser->continued.backslashEnd = FileOffset(*parser, at + 1);
            *continues = true;
            return true;
        }
        const int high = HexDigitValue(text, at);
        const int low = HexDigitValue(text, at + 1);
        int byte = high;
        if (low >= 0) {
            byte = high * 16 + low;
            ++at;
        }
        if (!separated || high < 0 || HexDigitValue(text, ++at) >= 0) {
            return FailSkippable(parser, "bad hex data: expected bytes of two hex digits "
                                         "separated by commas");
        }
        parser->data.push_back(static_cast<unsigned char>(byte));
        *dataEnd = at;
        at = SkipBlanks(text, at);
        separated = at < text.size() && text[at] == ',';
        if (separated) {
            *dataEnd = ++at;
        }
    }
}

template <typename Unit>
bool ParseHexValue(RegParser<Unit>* parser, std::size_t at, std::size_t dataStart,
                   std::uint32_t type) {
    parser->data.clear();
    std::size_t dataEnd = at;
    bool continues = false;
    if (!ParseHexBytes(parser, at, &dataEnd, &continues)) {
        return false;
    }
    const std::uint64_t sourceStart = FileOffset(*parser, dataStart);
    const std::uint64_t sourceEnd = FileOffset(*parser, dataEnd);
    if (continues) {
        parser->continued.active = true;
        parser->continued.name = parser->name;
        parser->continued.type = type;
        parser->continued.sourceStart = sourceStart;
        parser->continued.sourceEnd = sourceEnd;
        return true;
    }
    StoreHexValue(parser, parser->name, type, sourceStart, sourceEnd);
    return true;
}

template <typename Unit>
bool ParseContinuedLine(RegParser<Unit>* parser) {
    const std::size_t at = SkipBlanks(parser->text, 0);
    if (HexDigitValue(parser->text, at) < 0) {
        return FailSkippable(parser, "bad hex data: the continued line must go on with hex bytes");
    }
    std::size_t dataEnd = at;
    bool continues = false;
    if (!ParseHexBytes(parser, at, &dataEnd, &continues)) {
        return false;
    }
    ContinuedValue* continued = &parser->continued;
    continued->sourceEnd = FileOffset(*parser, dataEnd);
    if (!continues) {
        continued->active = false;
        StoreHexValue(parser, continued->name, continued->type, continued->sourceStart,
                      continued->sourceEnd);
    }
    return true;
}

void PutUtf16Le(char16_t unit, unsigned char* out) {
    out[0] = static_cast<unsigned char>(unit & 0xFF);
    out[1] = static_cast<unsigned char>(unit >> 8);
}

// The units of a quoted text (from behind its opening quote to its closing one, escapes
// checked) as UTF-16LE bytes at out.
void CopyUnquoted(Text<char16_t> text, std::size_t from, std::size_t to, unsigned char* out) {
    for (std::size_t at = from; at < to; ++at, out += 2) {
        if (text[at] == u'\\') {
            ++at;
        }
        PutUtf16Le(text[at], out);
    }
}

void CopyUnquoted(Text<char> text, std::size_t from, std::size_t to, unsigned char* out) {
    const unsigned char* bytes = BytesOf(text);
    for (std::size_t at = from, used = 1; at < to; at += used) {
        if (bytes[at] == '\\') {
            ++at;
        }
        if (bytes[at] < 0x80) {
            used = 1; // most text is ASCII
            PutUtf16Le(bytes[at], out);
            out += 2;
            continue;
        }
        char16_t units[2];
        const std::size_t count =
            CodePointUnits(NextUtf8CodePoint(bytes + at, to - at, &used), units);
        for (std::size_t unit = 0; unit < count; ++unit, out += 2) {
            PutUtf16Le(units[unit], out);
        }
    }
}

template <typename Unit>
std::size_t EscapeCount(Text<Unit> text, std::size_t from, std::size_t to) {
    std::size_t escapes = 0;
    for (std::size_t at = from; at < to; ++at) {
        if (text[at] == '\\') {
            ++escapes;
            ++at;
        }
    }
    return escapes;
}

// REG_SZ data: the text's UTF-16LE bytes and a terminating zero, written straight into the
// tree, so that a long string is held once beside its line.
template <typename Unit>
bool ParseStringValue(RegParser<Unit>* parser, std::size_t at, std::size_t dataStart) {
    if (!ParseQuoted(parser, &at, 0, nullptr)) {
        return false;
    }
    if (!EndsWithComment(parser->text, at)) {
        return FailSkippable(parser, "text behind the value data");
    }
    if (parser->currentKey == kNoIndex) {
        return true;
    }
    const std::size_t from = dataStart + 1;
    const std::size_t to = at - 1;
    const std::size_t units =
        UnitCount(parser->text, from, to) - EscapeCount(parser->text, from, to);
    unsigned char* place = nullptr;
    const std::u16string& name = parser->name;
    const std::uint32_t value = SetValueSpace(parser->tree, parser->currentKey, name.data(),
                                              name.size(), REG_SZ, 2 * units + 2, &place);
    CopyUnquoted(parser->text, from, to, place);
    place[2 * units] = 0;
    place[2 * units + 1] = 0;
    NoteValueSource(parser, value, FileOffset(*parser, dataStart), FileOffset(*parser, at));
    return true;
}

template <typename Unit>
bool ParseDwordValue(RegParser<Unit>* parser, std::size_t at, std::size_t dataStart) {
    std::uint32_t number = 0;
    at = SkipBlanks(parser->text, at);
    if (!ReadHexNumber(parser->text, &at, 8, &number)) {
        return FailSkippable(parser, "bad dword data: expected 1 to 8 hex digits");
    }
    if (!EndsWithComment(parser->text, at)) {
        return FailSkippable(parser, "text behind the value data");
    }
    parser->data.clear();
    for (int shift = 0; shift < 32; shift += 8) {
        parser->data.push_back(static_cast<unsigned char>((number >> shift) & 0xFF));
    }
    StoreValue(parser, parser->name, REG_DWORD, FileOffset(*parser, dataStart),
               FileOffset(*parser, at));
    return true;
}

template <typename Unit>
bool ParseValueDeletion(RegParser<Unit>* parser, std::size_t at) {
    if (!EndsWithComment(parser->text, at + 1)) {
        return FailSkippable(parser, "text behind the value data");
    }
    KeyTree* tree = parser->tree;
    if (parser->currentKey == kNoIndex) {
        return true;
    }
    const std::uint32_t value =
        FindValue(*tree, parser->currentKey, parser->name.data(), parser->name.size());
    if (value != kNoIndex) {
        DeleteValue(tree, value);
    }
    tree->keys[parser->currentKey].newValueAt = static_cast<std::uint32_t>(parser->line.contentEnd);
    return true;
}

// "name"=data or @=data, with blanks allowed around the '='.
template <typename Unit>
bool ParseValueLine(RegParser<Unit>* parser, std::size_t at) {
    const Text<Unit> text = parser->text;
    if (!parser->inSection) {
        return FailSkippable(parser, "value line outside a key section");
    }
    if (text[at] == '@') {
        parser->name.clear();
        ++at;
    } else if (!ParseQuoted(parser, &at, kMaxValueNameLength, &parser->name)) {
        return false;
    }
    if (parser->name.size() > kMaxValueNameLength) {
        return Fail(parser, "value name longer than " + std::to_string(kMaxValueNameLength) +
                                " characters");
    }
    at = SkipBlanks(text, at);
    if (at == text.size() || text[at] != '=') {
        return FailSkippable(parser, "missing '=' behind the value name");
    }
    at = SkipBlanks(text, at + 1);
    const std::size_t dataStart = at;
    if (at < text.size() && text[at] == '"') {
        return ParseStringValue(parser, at, dataStart);
    }
    if (at < text.size() && text[at] == '-') {
        return ParseValueDeletion(parser, at);
    }
    if (StartsWith(text, at, "dword:")) {
        return ParseDwordValue(parser, at + 6, dataStart);
    }
    if (StartsWith(text, at, "hex:")) {
        return ParseHexValue(parser, at + 4, dataStart, REG_BINARY);
    }
    if (StartsWith(text, at, "hex(")) {
        at += 4;
        std::uint32_t type = 0;
        if (!ReadHexNumber(text, &at, 8, &type) || !StartsWith(text, at, "):")) {
            return Fail(parser, "bad value type: expected hex(N): with 1 to 8 hex digits");
        }
        return ParseHexValue(parser, at + 2, dataStart, type);
    }
    return FailSkippable(parser,
                         "unrecognized value data (expected \"text\", dword:, hex:, hex(N): or -)");
}

template <typename Unit>
bool ParseLine(RegParser<Unit>* parser) {
    const std::size_t at = SkipBlanks(parser->text, 0);
    // Windows goes on with a continued value behind blank and comment lines.
    const bool blank = at == parser->text.size() || parser->text[at] == ';';
    if (parser->continued.active && !blank) {
        return ParseContinuedLine(parser);
    }
    if (blank || parser->text[at] == '#') {
        return true;
    }
    if (parser->text[at] == '[') {
        return ParseKeyLine(parser, at);
    }
    if (parser->text[at] == '"' || parser->text[at] == '@') {
        return ParseValueLine(parser, at);
    }
    return FailSkippable(parser,
                         "unrecognized line (expected a [key], a value, a comment or a blank)");
}

// Whether text from at to its end is word.
template <typename Unit>
bool RestIs(Text<Unit> text, std::size_t at, const char* word) {
    return StartsWith(text, at, word) && text.size() - at == std::strlen(word);
}

template <typename Unit>
bool ReadHeader(Text<Unit> text, RegFileVersion* version) {
    const std::size_t at = SkipBlanks(text, 0);
    *version = RegFileVersion::Version5;
    if (RestIs(text, at, kHeaderVersion5)) {
        return true;
    }
    *version = RegFileVersion::Regedit4;
    return RestIs(text, at, kHeaderVersion4);
}

// Windows takes a first line that starts so as a header, but imports nothing from the file.
template <typename Unit>
bool HeaderWithoutImport(Text<Unit> text) {
    return StartsWith(text, SkipBlanks(text, 0), kHeaderStem);
}

// Four units at a time: a word has a zero unit exactly when this bit trick leaves a high bit.
bool HoldsNul(Text<char16_t> text) {
    const std::uint64_t ones = 0x0001000100010001u;
    const std::uint64_t highs = 0x8000800080008000u;
    std::size_t at = 0;
    for (; at + 4 <= text.size(); at += 4) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + at, sizeof word);
        if (((word - ones) & ~word & highs) != 0) {
            return true;
        }
    }
    for (; at < text.size(); ++at) {
        if (text[at] == 0) {
            return true;
        }
    }
    return false;
}

// Takes the line's text as units; false when it holds a NUL character. The units of a UTF-16LE
// line are those the reader holds, unless the host cannot read them there.
bool TakeLineText(RegParser<char16_t>* parser) {
    const PhysicalLine& line = parser->line;
    if (line.units != nullptr) {
        parser->text = Text<char16_t>(line.units, line.length / 2);
        return !HoldsNul(parser->text);
    }
    const bool noNul =
        DecodeLineText(RegFileEncoding::Utf16Le, line.bytes, line.length, &parser->decoded);
    parser->text = parser->decoded;
    return noNul;
}

bool TakeLineText(RegParser<char>* parser) {
    const PhysicalLine& line = parser->line;
    parser->text = Text<char>(reinterpret_cast<const char*>(line.bytes), line.length);
    return std::memchr(line.bytes, 0, line.length) == nullptr;
}

// The last line of a UTF-16 file may end in half a surrogate pair; UTF-8 text has no pairs.
bool EndsInsidePair(const RegParser<char16_t>& parser) {
    const Text<char16_t> text = parser.text;
    return parser.line.ending == LineEnding::None && !text.empty() && HighSurrogate(text.back());
}

bool EndsInsidePair(const RegParser<char>&) {
    return false;
}

// Checks what the line's bytes are before what they say.
template <typename Unit>
bool CheckLineText(RegParser<Unit>* parser, LineStatus status) {
    if (status == LineStatus::OddByte) {
        return Fail(parser, "the UTF-16 text has an odd number of bytes");
    }
    if (parser->line.contentEnd >= kNoOffset) {
        return Fail(parser, "the file is too large (4 GiB or more)");
    }
    const bool noNul = TakeLineText(parser);
    if (EndsInsidePair(*parser)) {
        return Fail(parser, "the UTF-16 text ends inside a surrogate pair");
    }
    if (parser->line.number > 1 && !noNul) {
        return Fail(parser, "NUL character in the line");
    }
    return true;
}

// A file that ends behind a continuation backslash: Windows sets the value with the bytes
// read so far. Its data are taken to run to the backslash, and its key keeps its place for new
// values in front of it, where an added line cannot become part of it.
template <typename Unit>
bool StoreValueCutByTheEnd(RegParser<Unit>* parser) {
    ContinuedValue* continued = &parser->continued;
    continued->active = false;
    if (parser->currentKey == kNoIndex) {
        return true;
    }
    const std::uint32_t place = parser->tree->keys[parser->currentKey].newValueAt;
    StoreHexValue(parser, continued->name, continued->type, continued->sourceStart,
                  continued->backslashEnd);
    parser->tree->keys[parser->currentKey].newValueAt = place;
    return true;
}

// The names of each area, split at its backslashes.
std::vector<std::vector<std::u16string>> SplitAreas(const std::vector<std::u16string>& areas) {
    std::vector<std::vector<std::u16string>> split;
    for (const std::u16string& area : areas) {
        split.emplace_back();
        for (std::size_t start = 0; start < area.size();) {
            std::size_t end = area.find(u'\\', start);
            end = end == std::u16string::npos ? area.size() : end;
            split.back().push_back(area.substr(start, end - start));
            start = end + 1;
        }
    }
    return split;
}

// Reads the lines of the file that reader has started, in units of its encoding.
template <typename Unit>
bool ReadLines(LineReader* reader, const std::vector<std::u16string>& areas, KeyTree* tree,
               RegFileLayout* layout, RegFileError* error) {
    RegParser<Unit> parser;
    parser.tree = tree;
    parser.narrowHexText = false;
    parser.areas = SplitAreas(areas);
    parser.inSection = false;
    parser.currentKey = kNoIndex;
    parser.previousRoot = kRootKeyCount;
    parser.line.number = 1;
    parser.continued.active = false;
    parser.outside = &layout->keysOutsideAreas;
    parser.outside->clear();
    parser.error = error;
    LineStatus status = NextPhysicalLine(reader, &parser.line);
    if (status == LineStatus::End) {
        return Fail(&parser, kHeaderMissing);
    }
    for (; status != LineStatus::End; status = NextPhysicalLine(reader, &parser.line)) {
        if (status == LineStatus::ReadError) {
            error->line = 0;
            error->what = std::string("cannot read the file: ") + std::strerror(reader->readError);
            return false;
        }
        if (!CheckLineText(&parser, status)) {
            return false;
        }
        if (parser.line.number == 1) {
            if (!ReadHeader(parser.text, &layout->version)) {
                return Fail(&parser, std::string(kHeaderMissing) +
                                         (HeaderWithoutImport(parser.text)
                                              ? "; Windows would import nothing from this file"
                                              : ""));
            }
            parser.narrowHexText = layout->version == RegFileVersion::Regedit4;
            layout->lineEnding =
                parser.line.ending == LineEnding::None ? LineEnding::CrLf : parser.line.ending;
        } else if (!ParseLine(&parser)) {
            return false;
        }
    }
    return !parser.continued.active || StoreValueCutByTheEnd(&parser);
}

} // namespace

bool ReadRegFile(int fd, const std::vector<std::u16string>& areas, KeyTree* tree,
                 RegFileLayout* layout, RegFileError* error) {
    InitKeyTree(tree);
    AddRootKey(tree, 0);
    error->line = 0;
    LineReader reader;
    if (lseek(fd, 0, SEEK_SET) != 0 || !StartLineReader(fd, &reader)) {
        error->what = std::string("cannot read the file: ") + std::strerror(errno);
        return false;
    }
    layout->encoding = reader.encoding;
    const bool read = reader.encoding == RegFileEncoding::Utf16Le
                          ? ReadLines<char16_t>(&reader, areas, tree, layout, error)
                          : ReadLines<char>(&reader, areas, tree, layout, error);
    if (read) {
        FinishKeyTree(tree);
    }
    return read;
}
