#include "registry/store/reg_file_reader.h"

#include "cli/utf8.h"
#include "registry/registry_api-posix.h"
#include "registry/store/name_case.h"
#include "registry/store/reg_file_lines.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

const char16_t kHeaderVersion5[] = u"Windows Registry Editor Version 5.00";
const char16_t kHeaderVersion4[] = u"REGEDIT4";
const char kHeaderMissing[] = "missing header: the first line must be \"Windows Registry Editor "
                              "Version 5.00\" or \"REGEDIT4\"";
const char16_t kHeaderStem[] = u"REGEDIT";
// Appended where Windows' import would take the file but not the line.
const char kSkippedByWindows[] = "; Windows would skip this line";
const std::size_t kMaxQuotedInMessage = 64;

// A hex value whose data go on over the next lines.
struct ContinuedValue {
    bool active;
    std::u16string name;
    std::uint32_t type;
    std::uint64_t sourceStart;
    std::uint64_t sourceEnd;
    std::uint64_t backslashEnd; // behind the last continuation backslash
};

struct RegParser {
    KeyTree* tree;
    RegFileEncoding encoding;
    bool narrowHexText; // REGEDIT4: hex(1), hex(2) and hex(7) data are narrow bytes
    // The names of each area below HKEY_LOCAL_MACHINE; none: every key is kept.
    std::vector<std::vector<std::u16string>> areas;
    bool inSection;           // false before the first section and after a deletion
    std::uint32_t currentKey; // kNoIndex outside a section and in one that is not kept
    std::size_t previousRoot; // of the last key line that was not a deletion
    PhysicalLine line;
    std::u16string_view text; // the units of line: in the reader's buffer or in decoded
    std::u16string decoded;
    std::u16string name;
    std::vector<unsigned char> data;
    ContinuedValue continued;
    std::vector<std::size_t> pathEnds; // of each name of a key line's path, from its start
    std::vector<std::uint32_t> pathKeys;
    std::u16string previousPath; // of the last key line that was not a deletion
    std::vector<std::size_t> previousEnds;
    std::vector<std::uint32_t> previousKeys;
    RegFileError* error;
};

bool Fail(RegParser* parser, const std::string& what) {
    parser->error->line = parser->line.number;
    parser->error->what = what;
    return false;
}

// A refusal of a line that Windows' import would step over, importing the rest.
bool FailSkippable(RegParser* parser, const std::string& what) {
    return Fail(parser, what + kSkippedByWindows);
}

std::string Utf8Of(const char16_t* units, std::size_t length) {
    std::string bytes;
    AppendUtf8(units, length, &bytes);
    return bytes;
}

std::size_t SkipBlanks(std::u16string_view text, std::size_t at) {
    while (at < text.size() && (text[at] == u' ' || text[at] == u'\t')) {
        ++at;
    }
    return at;
}

bool StartsWith(std::u16string_view text, std::size_t at, const char16_t* word) {
    const std::size_t length = std::char_traits<char16_t>::length(word);
    return at <= text.size() && text.compare(at, length, word) == 0;
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

int HexDigitValue(std::u16string_view text, std::size_t at) {
    return at < text.size() ? HexDigit(text[at]) : -1;
}

// Reads up to maxDigits hex digits; false when there are none or more.
bool ReadHexNumber(std::u16string_view text, std::size_t* at, std::size_t maxDigits,
                   std::uint32_t* number) {
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

std::uint64_t FileOffset(const RegParser& parser, std::size_t unitIndex) {
    if (parser.encoding == RegFileEncoding::Utf8 && parser.text.size() == parser.line.length) {
        return parser.line.start + unitIndex; // each byte gave one unit
    }
    return parser.line.start +
           LineByteOffset(parser.encoding, parser.line.bytes, parser.line.length, unitIndex);
}

// Only blanks or a ';' comment may follow a value's data.
bool EndsWithComment(std::u16string_view text, std::size_t at) {
    at = SkipBlanks(text, at);
    return at == text.size() || text[at] == u';';
}

// A double-quoted text with the escapes \\ and \"; at starts on the opening quote and ends
// behind the closing one. out may be null: the text is then only checked.
bool ParseQuoted(RegParser* parser, std::size_t* at, std::u16string* out) {
    const std::u16string_view text = parser->text;
    if (out != nullptr) {
        out->clear();
    }
    std::size_t pos = *at + 1;
    for (;;) {
        std::size_t run = pos;
        while (run < text.size() && text[run] != u'"' && text[run] != u'\\') {
            ++run;
        }
        if (out != nullptr) {
            out->append(text.data() + pos, run - pos);
        }
        if (run == text.size() || (text[run] == u'\\' && run + 1 == text.size())) {
            return FailSkippable(parser, "unterminated quote");
        }
        if (text[run] == u'"') {
            *at = run + 1;
            return true;
        }
        const char16_t escaped = text[run + 1];
        if (escaped != u'\\' && escaped != u'"') {
            return Fail(parser, "bad escape \"\\" + Utf8Of(&escaped, 1) +
                                    "\" in quoted text (only \\\\ and \\\" are known)");
        }
        if (out != nullptr) {
            out->push_back(escaped);
        }
        pos = run + 2;
    }
}

// The number of the root key of that name in kRootKeyNames, or kRootKeyCount.
std::size_t FindRootName(const char16_t* name, std::size_t length) {
    std::size_t root = 0;
    for (; root < kRootKeyCount; ++root) {
        const char16_t* rootName = kRootKeyNames[root];
        if (NamesMatch(name, length, rootName, std::char_traits<char16_t>::length(rootName))) {
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
bool KeptPath(const RegParser& parser, std::size_t start, std::size_t root,
              std::size_t* keptNames) {
    *keptNames = 0;
    if (parser.areas.empty()) {
        return true;
    }
    if (root != 0) {
        return false;
    }
    const std::vector<std::size_t>& ends = parser.pathEnds;
    const std::size_t names = ends.size() - 1;
    for (const std::vector<std::u16string>& area : parser.areas) {
        std::size_t matched = 0;
        while (matched < names && matched < area.size()) {
            const std::size_t from = start + ends[matched] + 1;
            const std::u16string& areaName = area[matched];
            if (!NamesMatch(&parser.text[from], start + ends[matched + 1] - from, areaName.data(),
                            areaName.size())) {
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
void AddKeysAboveAreas(RegParser* parser, std::size_t start, std::size_t keptNames) {
    const std::vector<std::size_t>& ends = parser->pathEnds;
    std::uint32_t key = keptNames == 0 ? kNoIndex : AddRootKey(parser->tree, 0);
    for (std::size_t name = 1; name <= keptNames; ++name) {
        const std::size_t from = start + ends[name - 1] + 1;
        key = AddChildKey(parser->tree, key, &parser->text[from], start + ends[name] - from);
    }
}

// The length of the text that a key line's path shares with the previous key line's.
std::size_t SharedPathLength(const RegParser& parser, std::size_t start, std::size_t close) {
    const std::u16string_view path = parser.text.substr(start, close - start);
    const std::u16string& previous = parser.previousPath;
    const std::size_t length = path.size() < previous.size() ? path.size() : previous.size();
    std::size_t common = 0;
    // Four units at a time while they match; paths share most of their text.
    for (std::uint64_t mine, theirs; common + 4 <= length; common += 4) {
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
bool SplitKeyPath(RegParser* parser, std::size_t start, std::size_t close, std::size_t shared) {
    const std::u16string_view text = parser->text;
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
        std::size_t end = text.find(u'\\', pos);
        end = end == std::u16string_view::npos || end > close ? close : end;
        if (end == pos && pos == close && !ends->empty()) {
            return true; // a trailing backslash
        }
        if (end == pos && !ends->empty()) {
            return Fail(parser, "empty key name in the key path");
        }
        if (end - pos > kMaxKeyNameLength && !ends->empty()) {
            return Fail(parser, "key name longer than 255 characters");
        }
        ends->push_back(end - start);
        if (end == close) {
            return true;
        }
        pos = end;
    }
}

// Creates the keys of a key line's path. Exports name one key after another below the same
// parents, so the names this path shares with the previous one reuse that one's keys.
std::uint32_t CreateKeyPath(RegParser* parser, std::size_t start, std::size_t close,
                            std::size_t shared, std::uint32_t root) {
    const std::u16string_view text = parser->text;
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
            const std::size_t from = start + ends[name - 1] + 1;
            keys->push_back(
                AddChildKey(parser->tree, keys->back(), &text[from], start + ends[name] - from));
        }
    }
    parser->previousPath.assign(text.data() + start, close - start);
    parser->previousEnds = ends;
    parser->previousKeys = *keys;
    return keys->back();
}

// [path] makes the key and every key above it exist; [-path] deletes the key and its subtree.
bool ParseKeyLine(RegParser* parser, std::size_t at) {
    const std::u16string_view text = parser->text;
    const std::size_t close = text.rfind(u']');
    if (close == std::u16string_view::npos || close < at) {
        return FailSkippable(parser, "key line without a closing ']'");
    }
    if (SkipBlanks(text, close + 1) != text.size()) {
        return Fail(parser, "text behind the closing ']' of the key line");
    }
    std::size_t start = at + 1;
    const bool deletion = start < close && text[start] == u'-';
    if (deletion) {
        ++start;
    }
    const std::size_t shared = SharedPathLength(*parser, start, close);
    if (!SplitKeyPath(parser, start, close, shared)) {
        return false;
    }
    const std::vector<std::size_t>& ends = parser->pathEnds;
    const bool sameRoot = !parser->previousEnds.empty() && ends[0] < shared;
    const std::size_t root = sameRoot ? parser->previousRoot : FindRootName(&text[start], ends[0]);
    if (root == kRootKeyCount) {
        const std::size_t shown = ends[0] < kMaxQuotedInMessage ? ends[0] : kMaxQuotedInMessage;
        return Fail(parser, "unknown root key \"" + Utf8Of(&text[start], shown) + "\"");
    }
    if (deletion && ends.size() == 1) {
        return Fail(parser, "a root key cannot be deleted");
    }
    // Keys outside the areas are checked but not kept, so there is nothing of them to delete.
    std::size_t keptNames = 0;
    const bool kept = KeptPath(*parser, start, root, &keptNames);
    if (!deletion) {
        parser->inSection = true;
        parser->previousRoot = root;
        if (!kept) {
            AddKeysAboveAreas(parser, start, keptNames);
            parser->currentKey = kNoIndex;
            parser->previousPath.assign(text.data() + start, close - start);
            parser->previousEnds = ends;
            parser->previousKeys.clear();
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
        const std::size_t from = start + ends[name - 1] + 1;
        key = FindChildKey(*parser->tree, key, &text[from], start + ends[name] - from);
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
void NoteValueSource(RegParser* parser, std::uint32_t value, std::uint64_t sourceStart,
                     std::uint64_t sourceEnd) {
    KeyTree* tree = parser->tree;
    tree->values[value].sourceStart = static_cast<std::uint32_t>(sourceStart);
    tree->values[value].sourceEnd = static_cast<std::uint32_t>(sourceEnd);
    tree->keys[parser->currentKey].newValueAt = static_cast<std::uint32_t>(parser->line.contentEnd);
}

void StoreValue(RegParser* parser, const std::u16string& name, std::uint32_t type,
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
void StoreHexValue(RegParser* parser, const std::u16string& name, std::uint32_t type,
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
bool ParseHexBytes(RegParser* parser, std::size_t at, std::size_t* dataEnd, bool* continues) {
    const std::u16string_view text = parser->text;
    bool separated = true;
    if (parser->currentKey == kNoIndex) {
        parser->data.clear(); // only checked: a line's bytes at a time
    }
    for (;;) {
        // regedit's own spelling, two digits and a comma, a step at a time.
        const std::size_t held = parser->data.size();
        parser->data.resize(held + (text.size() - at) / 3);
        unsigned char* out = parser->data.data() + held;
        while (separated && at + 2 < text.size() && text[at + 2] == u',') {
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
        if (at == text.size() || text[at] == u';') {
            *continues = false;
            return true;
        }
        if (text[at] == u'\\') {
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
        separated = at < text.size() && text[at] == u',';
        if (separated) {
            *dataEnd = ++at;
        }
    }
}

bool ParseHexValue(RegParser* parser, std::size_t at, std::size_t dataStart, std::uint32_t type) {
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

bool ParseContinuedLine(RegParser* parser) {
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

// The units of a quoted text (from behind its opening quote to its closing one, escapes
// checked) as UTF-16LE bytes at out.
void CopyUnquoted(std::u16string_view text, std::size_t from, std::size_t to, unsigned char* out) {
    std::size_t units = 0;
    for (std::size_t at = from; at < to; ++at, ++units) {
        if (text[at] == u'\\') {
            ++at;
        }
        out[2 * units] = static_cast<unsigned char>(text[at] & 0xFF);
        out[2 * units + 1] = static_cast<unsigned char>(text[at] >> 8);
    }
}

std::size_t EscapeCount(std::u16string_view text, std::size_t from, std::size_t to) {
    std::size_t escapes = 0;
    for (std::size_t at = from; at < to; ++at) {
        if (text[at] == u'\\') {
            ++escapes;
            ++at;
        }
    }
    return escapes;
}

// REG_SZ data: the text's UTF-16LE bytes and a terminating zero, written straight into the
// tree, so that a long string is held once beside its line.
bool ParseStringValue(RegParser* parser, std::size_t at, std::size_t dataStart) {
    if (!ParseQuoted(parser, &at, nullptr)) {
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
    const std::size_t units = to - from - EscapeCount(parser->text, from, to);
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

bool ParseDwordValue(RegParser* parser, std::size_t at, std::size_t dataStart) {
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

bool ParseValueDeletion(RegParser* parser, std::size_t at) {
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
bool ParseValueLine(RegParser* parser, std::size_t at) {
    const std::u16string_view text = parser->text;
    if (!parser->inSection) {
        return FailSkippable(parser, "value line outside a key section");
    }
    if (text[at] == u'@') {
        parser->name.clear();
        ++at;
    } else if (!ParseQuoted(parser, &at, &parser->name)) {
        return false;
    }
    if (parser->name.size() > kMaxValueNameLength) {
        return Fail(parser, "value name longer than " + std::to_string(kMaxValueNameLength) +
                                " characters");
    }
    at = SkipBlanks(text, at);
    if (at == text.size() || text[at] != u'=') {
        return FailSkippable(parser, "missing '=' behind the value name");
    }
    at = SkipBlanks(text, at + 1);
    const std::size_t dataStart = at;
    if (at < text.size() && text[at] == u'"') {
        return ParseStringValue(parser, at, dataStart);
    }
    if (at < text.size() && text[at] == u'-') {
        return ParseValueDeletion(parser, at);
    }
    if (StartsWith(text, at, u"dword:")) {
        return ParseDwordValue(parser, at + 6, dataStart);
    }
    if (StartsWith(text, at, u"hex:")) {
        return ParseHexValue(parser, at + 4, dataStart, REG_BINARY);
    }
    if (StartsWith(text, at, u"hex(")) {
        at += 4;
        std::uint32_t type = 0;
        if (!ReadHexNumber(text, &at, 8, &type) || !StartsWith(text, at, u"):")) {
            return Fail(parser, "bad value type: expected hex(N): with 1 to 8 hex digits");
        }
        return ParseHexValue(parser, at + 2, dataStart, type);
    }
    return FailSkippable(parser,
                         "unrecognized value data (expected \"text\", dword:, hex:, hex(N): or -)");
}

bool ParseLine(RegParser* parser) {
    const std::size_t at = SkipBlanks(parser->text, 0);
    // Windows goes on with a continued value behind blank and comment lines.
    const bool blank = at == parser->text.size() || parser->text[at] == u';';
    if (parser->continued.active && !blank) {
        return ParseContinuedLine(parser);
    }
    if (blank || parser->text[at] == u'#') {
        return true;
    }
    if (parser->text[at] == u'[') {
        return ParseKeyLine(parser, at);
    }
    if (parser->text[at] == u'"' || parser->text[at] == u'@') {
        return ParseValueLine(parser, at);
    }
    return FailSkippable(parser,
                         "unrecognized line (expected a [key], a value, a comment or a blank)");
}

bool ReadHeader(std::u16string_view text, RegFileVersion* version) {
    const std::size_t at = SkipBlanks(text, 0);
    *version = RegFileVersion::Version5;
    if (text.compare(at, std::u16string_view::npos, kHeaderVersion5) == 0) {
        return true;
    }
    *version = RegFileVersion::Regedit4;
    return text.compare(at, std::u16string_view::npos, kHeaderVersion4) == 0;
}

// Windows takes a first line that starts so as a header, but imports nothing from the file.
bool HeaderWithoutImport(std::u16string_view text) {
    return StartsWith(text, SkipBlanks(text, 0), kHeaderStem);
}

// Four units at a time: a word has a zero unit exactly when this bit trick leaves a high bit.
bool HoldsNul(std::u16string_view text) {
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

// Checks what the line's bytes are before what they say.
bool CheckLineText(RegParser* parser, LineStatus status) {
    if (status == LineStatus::OddByte) {
        return Fail(parser, "the UTF-16 text has an odd number of bytes");
    }
    if (parser->line.contentEnd >= kNoOffset) {
        return Fail(parser, "the file is too large (4 GiB or more)");
    }
    bool noNul = true;
    if (parser->line.units != nullptr) {
        parser->text = std::u16string_view(parser->line.units, parser->line.length / 2);
        noNul = !HoldsNul(parser->text);
    } else {
        noNul = DecodeLineText(parser->encoding, parser->line.bytes, parser->line.length,
                               &parser->decoded);
        parser->text = parser->decoded;
    }
    const std::u16string_view text = parser->text;
    if (parser->encoding == RegFileEncoding::Utf16Le && parser->line.ending == LineEnding::None &&
        !text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
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
bool StoreValueCutByTheEnd(RegParser* parser) {
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
    RegParser parser;
    parser.tree = tree;
    parser.encoding = reader.encoding;
    parser.narrowHexText = false;
    parser.areas = SplitAreas(areas);
    parser.inSection = false;
    parser.currentKey = kNoIndex;
    parser.previousRoot = kRootKeyCount;
    parser.line.number = 1;
    parser.continued.active = false;
    parser.error = error;
    layout->encoding = reader.encoding;
    LineStatus status = NextPhysicalLine(&reader, &parser.line);
    if (status == LineStatus::End) {
        return Fail(&parser, kHeaderMissing);
    }
    for (; status != LineStatus::End; status = NextPhysicalLine(&reader, &parser.line)) {
        if (status == LineStatus::ReadError) {
            error->line = 0;
            error->what = std::string("cannot read the file: ") + std::strerror(reader.readError);
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
    if (parser.continued.active && !StoreValueCutByTheEnd(&parser)) {
        return false;
    }
    FinishKeyTree(tree);
    return true;
}
