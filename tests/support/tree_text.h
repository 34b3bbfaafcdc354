// A key tree as text, for the unit tests' expectations and the fuzz targets' comparisons: each
// live key below the top in subkey order, its name indented by depth, then its values as name,
// type and data bytes. Two trees that differ anywhere give different texts: names are UTF-8,
// but a lone surrogate (which a conversion would turn into U+FFFD), a control character and
// the backslash are written as \uXXXX and \\, so that no spelling of a name is lost.
#pragma once

#include "registry/store/key_tree.h"
#include "text/utf8.h"

#include <cstdint>
#include <cstdio>
#include <string>

inline void AppendNameText(const char16_t* units, std::uint32_t length, std::string* text) {
    for (std::uint32_t at = 0; at < length; ++at) {
        const char16_t unit = units[at];
        if (HighSurrogate(unit) && at + 1 < length && LowSurrogate(units[at + 1])) {
            AppendUtf8(units + at, 2, text);
            ++at;
        } else if (unit == u'\\') {
            text->append("\\\\");
        } else if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0) || HighSurrogate(unit) ||
                   LowSurrogate(unit)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            text->append(escape);
        } else {
            AppendUtf8(&unit, 1, text);
        }
    }
}

inline void AppendKeyText(const KeyTree& tree, std::uint32_t key, int depth, std::string* text) {
    const TreeKey& record = tree.keys[key];
    if (key != kTopKey) {
        text->append(static_cast<std::size_t>(2 * (depth - 1)), ' ');
        text->append("[");
        AppendNameText(record.name, record.nameLength, text);
        text->append("]\n");
    }
    for (std::uint32_t at = record.firstValue; at != kNoIndex; at = tree.values[at].next) {
        const TreeValue& value = tree.values[at];
        if (!value.live) {
            continue;
        }
        text->append(static_cast<std::size_t>(2 * depth), ' ');
        text->append("\"");
        AppendNameText(value.name, value.nameLength, text);
        text->append("\" " + std::to_string(value.type) + ":");
        char hex[4];
        for (std::uint32_t byte = 0; byte < value.dataLength; ++byte) {
            std::snprintf(hex, sizeof hex, " %02x", value.data[byte]);
            text->append(hex);
        }
        text->append("\n");
    }
    for (std::uint32_t index = 0; index < record.childCount; ++index) {
        AppendKeyText(tree, ChildKeyAt(tree, key, index), depth + 1, text);
    }
}

inline std::string TreeText(const KeyTree& tree) {
    std::string text;
    AppendKeyText(tree, kTopKey, 0, &text);
    return text;
}
