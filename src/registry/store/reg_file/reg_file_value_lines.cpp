// Value lines: a value's name, and its data when they are text, a dword or a deletion (hex data
// are read in reg_file_hex_data.cpp).
#include "registry/store/reg_file/reg_file_parse.h"

namespace {

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

// A double-quoted text with the escapes \\ and \"; at starts on the opening quote and ends
// behind the closing one. out may be null: the text is then only checked. Else out gets its
// units, but no more than limit and one, so that a text too long for it is never held whole.
template <typename Unit>
bool ParseQuoted(RegLine<Unit>* line, std::size_t* at, std::size_t limit, std::u16string* out) {
    const Text<Unit> text = line->text;
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
            return FailSkippable(line, "unterminated quote");
        }
        if (text[run] == '"') {
            *at = run + 1;
            return true;
        }
        const Unit escaped = text[run + 1];
        if (escaped != '\\' && escaped != '"') {
            const std::u16string_view shown = UnitsOf(line, run + 1, text.size(), 0);
            return Fail(line, "bad escape \"\\" + Utf8Of(shown.data(), 1) +
                                  "\" in quoted text (only \\\\ and \\\" are known)");
        }
        if (out != nullptr && out->size() <= limit) {
            out->push_back(static_cast<char16_t>(escaped));
        }
        pos = run + 2;
    }
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
bool ParseStringValue(RegLine<Unit>* line, const RegSection& section, const RegValues& values,
                      std::size_t at, std::size_t dataStart) {
    if (!ParseQuoted(line, &at, 0, nullptr)) {
        return false;
    }
    if (!EndsWithComment(line->text, at)) {
        return FailSkippable(line, "text behind the value data");
    }
    if (section.currentKey == kNoIndex) {
        return true;
    }
    const std::size_t from = dataStart + 1;
    const std::size_t to = at - 1;
    const std::size_t units = UnitCount(line->text, from, to) - EscapeCount(line->text, from, to);
    unsigned char* place = nullptr;
    const std::u16string& name = values.name;
    const std::uint32_t value = SetValueSpace(section.tree, section.currentKey, name.data(),
                                              name.size(), REG_SZ, 2 * units + 2, &place);
    CopyUnquoted(line->text, from, to, place);
    place[2 * units] = 0;
    place[2 * units + 1] = 0;
    NoteValueSource(*line, section, value, FileOffset(*line, dataStart), FileOffset(*line, at));
    return true;
}

template <typename Unit>
bool ParseDwordValue(RegLine<Unit>* line, const RegSection& section, RegValues* values,
                     std::size_t at, std::size_t dataStart) {
    std::uint32_t number = 0;
    at = SkipBlanks(line->text, at);
    if (!ReadHexNumber(line->text, &at, 8, &number)) {
        return FailSkippable(line, "bad dword data: expected 1 to 8 hex digits");
    }
    if (!EndsWithComment(line->text, at)) {
        return FailSkippable(line, "text behind the value data");
    }
    values->data.clear();
    for (int shift = 0; shift < 32; shift += 8) {
        values->data.push_back(static_cast<unsigned char>((number >> shift) & 0xFF));
    }
    StoreValue(*line, section, *values, values->name, REG_DWORD, FileOffset(*line, dataStart),
               FileOffset(*line, at));
    return true;
}

template <typename Unit>
bool ParseValueDeletion(RegLine<Unit>* line, const RegSection& section, const RegValues& values,
                        std::size_t at) {
    if (!EndsWithComment(line->text, at + 1)) {
        return FailSkippable(line, "text behind the value data");
    }
    KeyTree* tree = section.tree;
    if (section.currentKey == kNoIndex) {
        return true;
    }
    const std::uint32_t value =
        FindValue(*tree, section.currentKey, values.name.data(), values.name.size());
    if (value != kNoIndex) {
        DeleteValue(tree, value);
    }
    tree->keys[section.currentKey].newValueAt =
        static_cast<std::uint32_t>(line->physical.contentEnd);
    return true;
}

} // namespace

// Blanks are allowed around the '='.
template <typename Unit>
bool ParseValueLine(RegLine<Unit>* line, const RegSection& section, RegValues* values,
                    std::size_t at) {
    const Text<Unit> text = line->text;
    if (!section.inSection) {
        return FailSkippable(line, "value line outside a key section");
    }
    if (text[at] == '@') {
        values->name.clear();
        ++at;
    } else if (!ParseQuoted(line, &at, kMaxValueNameLength, &values->name)) {
        return false;
    }
    if (values->name.size() > kMaxValueNameLength) {
        return Fail(line, "value name longer than " + std::to_string(kMaxValueNameLength) +
                              " characters");
    }
    at = SkipBlanks(text, at);
    if (at == text.size() || text[at] != '=') {
        return FailSkippable(line, "missing '=' behind the value name");
    }
    at = SkipBlanks(text, at + 1);
    const std::size_t dataStart = at;
    if (at < text.size() && text[at] == '"') {
        return ParseStringValue(line, section, *values, at, dataStart);
    }
    if (at < text.size() && text[at] == '-') {
        return ParseValueDeletion(line, section, *values, at);
    }
    if (StartsWith(text, at, "dword:")) {
        return ParseDwordValue(line, section, values, at + 6, dataStart);
    }
    if (StartsWith(text, at, "hex:")) {
        return ParseHexValue(line, section, values, at + 4, dataStart, REG_BINARY);
    }
    if (StartsWith(text, at, "hex(")) {
        at += 4;
        std::uint32_t type = 0;
        if (!ReadHexNumber(text, &at, 8, &type) || !StartsWith(text, at, "):")) {
            return Fail(line, "bad value type: expected hex(N): with 1 to 8 hex digits");
        }
        return ParseHexValue(line, section, values, at + 2, dataStart, type);
    }
    return FailSkippable(line,
                         "unrecognized value data (expected \"text\", dword:, hex:, hex(N): or -)");
}

template bool ParseValueLine(RegLine<char>*, const RegSection&, RegValues*, std::size_t);
template bool ParseValueLine(RegLine<char16_t>*, const RegSection&, RegValues*, std::size_t);
