#include "registry/store/reg_file/reg_file_writer.h"

#include "registry/store/file_io.h"
#include "text/utf8.h"

#include <cerrno>

namespace {

// regedit's layout of hex data: lines of at most 80 columns, continued with two blanks.
const std::size_t kHexWrapColumn = 77;
const char16_t kHexDigits[] = u"0123456789abcdef";

void AppendHexNumber(std::uint32_t number, std::size_t minimumDigits, std::u16string* text) {
    char16_t digits[8];
    std::size_t count = 0;
    do {
        digits[count++] = kHexDigits[number & 0xF];
        number >>= 4;
    } while (number != 0 && count < 8);
    while (count < minimumDigits) {
        digits[count++] = u'0';
    }
    while (count > 0) {
        text->push_back(digits[--count]);
    }
}

void AppendQuoted(const char16_t* units, std::size_t length, std::u16string* text) {
    text->push_back(u'"');
    for (std::size_t at = 0; at < length; ++at) {
        if (units[at] == u'\\' || units[at] == u'"') {
            text->push_back(u'\\');
        }
        text->push_back(units[at]);
    }
    text->push_back(u'"');
}

bool BreaksLine(const char16_t* units, std::size_t length) {
    for (std::size_t at = 0; at < length; ++at) {
        if (units[at] == u'\r' || units[at] == u'\n' || units[at] == 0) {
            return true;
        }
    }
    return false;
}

// A REG_SZ's text when its data are zero-terminated UTF-16 that one quoted line can hold.
bool QuotableText(RegFileEncoding encoding, const unsigned char* data, std::size_t length,
                  std::u16string* units) {
    if (length < 2 || length % 2 != 0 || data[length - 2] != 0 || data[length - 1] != 0) {
        return false;
    }
    units->resize(length / 2 - 1);
    UnpackUtf16Le(data, length - 2, &(*units)[0]);
    return !BreaksLine(units->data(), units->size()) &&
           EncodableText(encoding, units->data(), units->size());
}

void AppendHexData(std::uint32_t type, const unsigned char* data, std::size_t length,
                   std::size_t column, LineEnding ending, std::u16string* text) {
    const std::size_t prefixStart = text->size();
    if (type == REG_BINARY) {
        text->append(u"hex:");
    } else {
        text->append(u"hex(");
        AppendHexNumber(type, 1, text);
        text->append(u"):");
    }
    column += text->size() - prefixStart;
    for (std::size_t at = 0; at < length; ++at) {
        if (column + 3 > kHexWrapColumn) {
            text->push_back(u'\\');
            text->append(LineEndingText(ending));
            text->append(u"  ");
            column = 2;
        }
        AppendHexNumber(data[at], 2, text);
        if (at + 1 < length) {
            text->push_back(u',');
        }
        column += 3;
    }
}

// "name" with its escapes, or @ for the default value.
void AppendValueName(const char16_t* name, std::size_t nameLength, std::u16string* text) {
    if (nameLength == 0) {
        text->push_back(u'@');
    } else {
        AppendQuoted(name, nameLength, text);
    }
}

// HKEY_LOCAL_MACHINE\...\name, from the tree's spellings.
void AppendKeyPath(const KeyTree& tree, std::uint32_t key, std::u16string* text) {
    std::u16string path;
    for (std::uint32_t at = key; at != kTopKey; at = tree.keys[at].parent) {
        std::u16string name(tree.keys[at].name, tree.keys[at].nameLength);
        path = at == key ? name : name + u'\\' + path;
    }
    text->append(path);
}

// How the file ends: with a line ending, and with an empty line before the end.
struct FileEnding {
    bool lineEnded;
    bool blankLineEnded;
};

// Whether the unit fromEnd places before the last one is a CR or LF.
bool LineEndingUnitAt(const std::u16string& units, std::size_t fromEnd) {
    if (units.size() <= fromEnd) {
        return false;
    }
    const char16_t unit = units[units.size() - 1 - fromEnd];
    return unit == u'\n' || unit == u'\r';
}

bool ReadFileEnding(const RegFileLayout& layout, int fd, std::uint64_t fileSize,
                    FileEnding* ending) {
    const std::size_t unitSize = layout.encoding == RegFileEncoding::Utf16Le ? 2 : 1;
    const std::size_t want = 4 * unitSize;
    const std::uint64_t from = fileSize > want ? fileSize - want : 0;
    std::string tail;
    if (!ReadBytesAt(fd, from, want, &tail)) {
        return false;
    }
    std::u16string units;
    DecodeLineText(layout.encoding, reinterpret_cast<const unsigned char*>(tail.data()),
                   tail.size(), &units);
    ending->lineEnded = LineEndingUnitAt(units, 0);
    const bool crlf =
        units.size() >= 2 && units[units.size() - 2] == u'\r' && units.back() == u'\n';
    ending->blankLineEnded = ending->lineEnded && LineEndingUnitAt(units, crlf ? 2 : 1);
    return true;
}

// The narrow bytes a REGEDIT4 file gives text data as: UTF-8, which the reader takes them as.
bool NarrowHexText(const unsigned char* data, std::size_t length, std::string* bytes) {
    if (length % 2 != 0) {
        return false;
    }
    std::u16string units(length / 2, u'\0');
    UnpackUtf16Le(data, length, &units[0]);
    if (!EncodableText(RegFileEncoding::Utf8, units.data(), units.size())) {
        return false;
    }
    bytes->clear();
    EncodeText(RegFileEncoding::Utf8, units.data(), units.size(), bytes);
    return true;
}

// Text data in hex that a reader would give a zero character they lack: such data cannot be
// written so that they read back as they are.
bool GainsZeroOnImport(const unsigned char* data, std::size_t length) {
    return length >= 2 && length % 2 == 0 && (data[length - 2] != 0 || data[length - 1] != 0);
}

void AppendEncoded(RegFileEncoding encoding, const std::u16string& text, std::string* bytes) {
    EncodeText(encoding, text.data(), text.size(), bytes);
}

// The text that replaces bytes [start, end) of the file: lead, then the value's data text,
// then trail.
struct PlannedText {
    std::uint64_t start;
    std::uint64_t end;
    std::u16string lead;
    std::u16string dataText;
    std::u16string trail;
};

// The units that stand for a value's data behind its '=': "text", dword:, hex: or hex(N):.
// A REG_SZ that is not zero-terminated text fit for one quoted line is written as hex(1). In a
// REGEDIT4 file hex(1), hex(2) and hex(7) data are the text's UTF-8 bytes; false when the data
// are no such text (an odd byte count, or a surrogate that is not half of a pair). False too for
// text data without a final zero character, to which a reader of the file would add one.
bool AppendValueDataText(const RegFileLayout& layout, const ValueToWrite& value, std::size_t column,
                         LineEnding ending, std::u16string* text) {
    const std::uint32_t type = value.type;
    const unsigned char* data = value.data;
    const std::size_t length = value.dataLength;
    std::u16string units;
    const bool hexText = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (type == REG_SZ && QuotableText(layout.encoding, data, length, &units)) {
        AppendQuoted(units.data(), units.size(), text);
    } else if (hexText && GainsZeroOnImport(data, length)) {
        return false;
    } else if (hexText && layout.version == RegFileVersion::Regedit4) {
        std::string narrow;
        if (!NarrowHexText(data, length, &narrow)) {
            return false;
        }
        AppendHexData(type, reinterpret_cast<const unsigned char*>(narrow.data()), narrow.size(),
                      column, ending, text);
    } else if (type == REG_DWORD && length == 4) {
        text->append(u"dword:");
        AppendHexNumber(static_cast<std::uint32_t>(data[0] | (data[1] << 8) | (data[2] << 16)) |
                            (static_cast<std::uint32_t>(data[3]) << 24),
                        8, text);
    } else {
        AppendHexData(type, data, length, column, ending, text);
    }
    return true;
}

// A new value line: "name"= or @= and the data, the line starting at lineStart of lead.
LSTATUS AppendValueLine(const RegFileLayout& layout, const ValueToWrite& value,
                        std::size_t lineStart, LineEnding ending, PlannedText* planned) {
    AppendValueName(value.name, value.nameLength, &planned->lead);
    planned->lead.push_back(u'=');
    return AppendValueDataText(layout, value, planned->lead.size() - lineStart, ending,
                               &planned->dataText)
               ? ERROR_SUCCESS
               : ERROR_INVALID_PARAMETER;
}

// The value's last definition: only its data change, its name keeps its spelling.
LSTATUS PlanInPlace(const TreeValue& definition, const ValueToWrite& value,
                    const RegFileLayout& layout, PlannedText* planned) {
    planned->start = definition.sourceStart;
    planned->end = definition.sourceEnd;
    return AppendValueDataText(layout, value, value.nameLength + 3, layout.lineEnding,
                               &planned->dataText)
               ? ERROR_SUCCESS
               : ERROR_INVALID_PARAMETER;
}

// A line added at the end of the key's last own section (at), ended as the line before it is.
LSTATUS PlanInKeySection(std::uint32_t at, const ValueToWrite& value, const RegFileLayout& layout,
                         int fd, PlannedText* planned) {
    std::string after;
    if (!ReadBytesAt(fd, at, 4, &after)) {
        return ErrorFromErrno(errno);
    }
    const LineEnding found = LineEndingAt(
        layout.encoding, reinterpret_cast<const unsigned char*>(after.data()), after.size());
    const LineEnding ending = found == LineEnding::None ? layout.lineEnding : found;
    planned->lead.append(LineEndingText(ending));
    planned->start = at;
    planned->end = at;
    return AppendValueLine(layout, value, planned->lead.size(), ending, planned);
}

// A section of its own for the key at the end of the file, set apart by an empty line.
LSTATUS PlanNewSection(const KeyTree& tree, std::uint32_t key, const ValueToWrite& value,
                       const RegFileLayout& layout, int fd, std::uint64_t fileSize,
                       PlannedText* planned) {
    FileEnding fileEnding;
    if (!ReadFileEnding(layout, fd, fileSize, &fileEnding)) {
        return ErrorFromErrno(errno);
    }
    const LineEnding ending = layout.lineEnding;
    if (!fileEnding.lineEnded) {
        planned->lead.append(LineEndingText(ending));
    }
    if (!fileEnding.blankLineEnded) {
        planned->lead.append(LineEndingText(ending));
    }
    planned->lead.push_back(u'[');
    AppendKeyPath(tree, key, &planned->lead);
    planned->lead.push_back(u']');
    planned->lead.append(LineEndingText(ending));
    if (fileEnding.lineEnded) {
        planned->trail.append(LineEndingText(ending));
    }
    planned->start = fileSize;
    planned->end = fileSize;
    return AppendValueLine(layout, value, planned->lead.size(), ending, planned);
}

// The planned text in the file's encoding, and where the value's data will lie.
LSTATUS EncodePlannedText(const PlannedText& planned, RegFileEncoding encoding,
                          std::uint64_t fileSize, bool inPlace, RegFileValueEdit* edit) {
    if (!EncodableText(encoding, planned.lead.data(), planned.lead.size())) {
        return ERROR_INVALID_PARAMETER;
    }
    edit->file.start = planned.start;
    edit->file.end = planned.end;
    edit->file.bytes.clear();
    AppendEncoded(encoding, planned.lead, &edit->file.bytes);
    const std::uint64_t sourceStart = planned.start + edit->file.bytes.size();
    AppendEncoded(encoding, planned.dataText, &edit->file.bytes);
    const std::uint64_t sourceEnd = planned.start + edit->file.bytes.size();
    AppendEncoded(encoding, planned.trail, &edit->file.bytes);
    const std::uint64_t newSize =
        fileSize - (planned.end - planned.start) + edit->file.bytes.size();
    if (newSize >= kNoOffset) {
        return ERROR_WRITE_FAULT;
    }
    edit->sourceStart = static_cast<std::uint32_t>(sourceStart);
    edit->sourceEnd = static_cast<std::uint32_t>(sourceEnd);
    edit->newValueAt = inPlace ? kNoOffset : static_cast<std::uint32_t>(sourceEnd);
    return ERROR_SUCCESS;
}

// The tree takes on what the edit did to the file.
void ApplyValueEdit(std::uint32_t key, const ValueToWrite& write, const RegFileValueEdit& edit,
                    KeyTree* tree) {
    const std::int64_t delta = static_cast<std::int64_t>(edit.file.bytes.size()) -
                               static_cast<std::int64_t>(edit.file.end - edit.file.start);
    ShiftSourceOffsets(tree, static_cast<std::uint32_t>(edit.file.start),
                       static_cast<std::uint32_t>(edit.file.end), delta);
    const std::uint32_t value =
        SetValue(tree, key, write.name, write.nameLength, write.type, write.data, write.dataLength);
    tree->values[value].sourceStart = edit.sourceStart;
    tree->values[value].sourceEnd = edit.sourceEnd;
    if (edit.newValueAt != kNoOffset) {
        tree->keys[key].newValueAt = edit.newValueAt;
    }
}

} // namespace

LSTATUS PlanRegFileValueWrite(const KeyTree& tree, std::uint32_t key, const ValueToWrite& value,
                              const RegFileLayout& layout, int fd, std::uint64_t fileSize,
                              RegFileValueEdit* edit) {
    if (BreaksLine(value.name, value.nameLength) ||
        !EncodableText(layout.encoding, value.name, value.nameLength)) {
        return ERROR_INVALID_PARAMETER;
    }
    PlannedText planned;
    const std::uint32_t found = FindValue(tree, key, value.name, value.nameLength);
    const bool inPlace = found != kNoIndex && tree.values[found].sourceStart != kNoOffset;
    const std::uint32_t at = tree.keys[key].newValueAt;
    LSTATUS status;
    if (inPlace) {
        status = PlanInPlace(tree.values[found], value, layout, &planned);
    } else if (at != kNoOffset) {
        status = PlanInKeySection(at, value, layout, fd, &planned);
    } else {
        status = PlanNewSection(tree, key, value, layout, fd, fileSize, &planned);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return EncodePlannedText(planned, layout.encoding, fileSize, inPlace, edit);
}

LSTATUS WriteRegFileValue(const std::string& path, const RegFileLayout& layout, std::uint32_t key,
                          const ValueToWrite& write, StoreLock* lock, KeyTree* tree) {
    RegFileValueEdit edit;
    const LSTATUS planned =
        PlanRegFileValueWrite(*tree, key, write, layout, lock->fd, lock->identity.size, &edit);
    if (planned != ERROR_SUCCESS) {
        return planned;
    }
    const LSTATUS replaced = ReplaceStoreFile(path, edit.file, lock);
    if (replaced == ERROR_SUCCESS) {
        ApplyValueEdit(key, write, edit, tree);
    }
    return replaced;
}
