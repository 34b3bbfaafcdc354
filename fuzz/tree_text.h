// A key tree as text for the fuzz targets' comparisons: every live key in subkey order with
// its name's spelling, then its values with name, type and data, so that two trees that
// differ anywhere give different texts.
#pragma once

#include "registry/store/key_tree.h"

#include <cstdint>
#include <string>

inline void AppendUnits(const char16_t* units, std::uint32_t length, std::string* text) {
    for (std::uint32_t at = 0; at < length; ++at) {
        text->append(std::to_string(static_cast<unsigned>(units[at])));
        text->push_back(' ');
    }
}

inline void AppendKeyText(const KeyTree& tree, std::uint32_t key, int depth, std::string* text) {
    const TreeKey& record = tree.keys[key];
    text->append(static_cast<std::size_t>(depth), '-');
    text->append("key ");
    AppendUnits(record.name, record.nameLength, text);
    text->push_back('\n');
    for (std::uint32_t at = record.firstValue; at != kNoIndex; at = tree.values[at].next) {
        const TreeValue& value = tree.values[at];
        if (!value.live) {
            continue;
        }
        text->append(static_cast<std::size_t>(depth), ' ');
        text->append("value ");
        AppendUnits(value.name, value.nameLength, text);
        text->append("type " + std::to_string(value.type) + " data");
        for (std::uint32_t byte = 0; byte < value.dataLength; ++byte) {
            text->append(" " + std::to_string(static_cast<unsigned>(value.data[byte])));
        }
        text->push_back('\n');
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
