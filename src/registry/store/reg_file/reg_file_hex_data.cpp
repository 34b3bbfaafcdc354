// Hex data (hex: and hex(N):), which may go on over the lines that follow theirs behind a
// continuation backslash.
#include "registry/store/reg_file/reg_file_parse.h"

namespace {

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
void StoreHexValue(const RegLine<Unit>& line, const RegSection& section, RegValues* values,
                   const std::u16string& name, std::uint32_t type, std::uint64_t sourceStart,
                   std::uint64_t sourceEnd) {
    if (section.currentKey == kNoIndex) {
        return;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        if (values->narrowHexText) {
            WidenHexText(&values->data);
        }
        TerminateHexText(&values->data);
    }
    StoreValue(line, section, *values, name, type, sourceStart, sourceEnd);
}

// Comma-separated bytes of one or two hex digits, up to the end of the line, a ';' comment,
// or a backslash behind a comma (or behind the hex prefix) that continues them on the next
// line. dataEnd moves behind the last byte or comma taken.
template <typename Unit>
bool ParseHexBytes(RegLine<Unit>* line, const RegSection& section, RegValues* values,
                   std::size_t at, std::size_t* dataEnd, bool* continues) {
    const Text<Unit> text = line->text;
    std::vector<unsigned char>* data = &values->data;
    bool separated = true;
    if (section.currentKey == kNoIndex) {
        data->clear(); // only checked: a line's bytes at a time
    }
    for (;;) {
        // regedit's own spelling, two digits and a comma, a step at a time.
        const std::size_t held = data->size();
        data->resize(held + (text.size() - at) / 3);
        unsigned char* out = data->data() + held;
        while (separated && at + 2 < text.size() && text[at + 2] == ',') {
            const int high = HexDigit(text[at]);
            const int low = HexDigit(text[at + 1]);
            if (high < 0 || low < 0) {
                break;
            }
            *out++ = static_cast<unsigned char>(high * 16 + low);
            at += 3;
        }
        data->resize(static_cast<std::size_t>(out - data->data()));
        if (data->size() > held) {
            *dataEnd = at;
        }
        at = SkipBlanks(text, at);
        if (at == text.size() || text[at] == ';') {
            *continues = false;
            return true;
        }
        if (text[at] == '\\') {
            if (!separated) {
                return FailSkippable(line,
                                     "bad hex data: a continuation backslash must follow a comma");
            }
            if (!EndsWithComment(text, at + 1)) {
                return FailSkippable(line, "bad hex data: text behind the continuation backslash");
            }
            values->continued.backslashEnd = FileOffset(*line, at + 1);
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
            return FailSkippable(line, "bad hex data: expected bytes of two hex digits "
                                       "separated by commas");
        }
        data->push_back(static_cast<unsigned char>(byte));
        *dataEnd = at;
        at = SkipBlanks(text, at);
        separated = at < text.size() && text[at] == ',';
        if (separated) {
            *dataEnd = ++at;
        }
    }
}

} // namespace

template <typename Unit>
bool ParseHexValue(RegLine<Unit>* line, const RegSection& section, RegValues* values,
                   std::size_t at, std::size_t dataStart, std::uint32_t type) {
    values->data.clear();
    std::size_t dataEnd = at;
    bool continues = false;
    if (!ParseHexBytes(line, section, values, at, &dataEnd, &continues)) {
        return false;
    }
    const std::uint64_t sourceStart = FileOffset(*line, dataStart);
    const std::uint64_t sourceEnd = FileOffset(*line, dataEnd);
    if (continues) {
        ContinuedValue* continued = &values->continued;
        continued->active = true;
        continued->name = values->name;
        continued->type = type;
        continued->sourceStart = sourceStart;
        continued->sourceEnd = sourceEnd;
        return true;
    }
    StoreHexValue(*line, section, values, values->name, type, sourceStart, sourceEnd);
    return true;
}

template <typename Unit>
bool ParseContinuedLine(RegLine<Unit>* line, const RegSection& section, RegValues* values) {
    const std::size_t at = SkipBlanks(line->text, 0);
    if (HexDigitValue(line->text, at) < 0) {
        return FailSkippable(line, "bad hex data: the continued line must go on with hex bytes");
    }
    std::size_t dataEnd = at;
    bool continues = false;
    if (!ParseHexBytes(line, section, values, at, &dataEnd, &continues)) {
        return false;
    }
    ContinuedValue* continued = &values->continued;
    continued->sourceEnd = FileOffset(*line, dataEnd);
    if (!continues) {
        continued->active = false;
        StoreHexValue(*line, section, values, continued->name, continued->type,
                      continued->sourceStart, continued->sourceEnd);
    }
    return true;
}

// Windows sets the value with the bytes read so far. Its data are taken to run to the
// backslash, and its key keeps its place for new values in front of it, where an added line
// cannot become part of it.
template <typename Unit>
void StoreValueCutByTheEnd(const RegLine<Unit>& line, const RegSection& section,
                           RegValues* values) {
    ContinuedValue* continued = &values->continued;
    continued->active = false;
    if (section.currentKey == kNoIndex) {
        return;
    }
    const std::uint32_t place = section.tree->keys[section.currentKey].newValueAt;
    StoreHexValue(line, section, values, continued->name, continued->type, continued->sourceStart,
                  continued->backslashEnd);
    section.tree->keys[section.currentKey].newValueAt = place;
}

template bool ParseHexValue(RegLine<char>*, const RegSection&, RegValues*, std::size_t, std::size_t,
                            std::uint32_t);
template bool ParseHexValue(RegLine<char16_t>*, const RegSection&, RegValues*, std::size_t,
                            std::size_t, std::uint32_t);
template bool ParseContinuedLine(RegLine<char>*, const RegSection&, RegValues*);
template bool ParseContinuedLine(RegLine<char16_t>*, const RegSection&, RegValues*);
template void StoreValueCutByTheEnd(const RegLine<char>&, const RegSection&, RegValues*);
template void StoreValueCutByTheEnd(const RegLine<char16_t>&, const RegSection&, RegValues*);
