#include "hive_builder.h"

#include "empty_hive.h"
#include "registry/store/name_case.h"
#include "registry/store/reg_file/reg_file_reader.h"
#include "registry/store/registry_types.h"
#include "text/utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <hivex.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const char16_t kSystemName[] = u"SYSTEM";
const char16_t kCurrentControlSetName[] = u"CurrentControlSet";

std::string Utf8Of(const char16_t* units, std::size_t length) {
    const std::wstring wide(units, units + length);
    std::string text;
    AppendUtf8(wide.data(), wide.size(), &text);
    return text;
}

std::u16string UnitsOfUtf8(const char* text) {
    const std::wstring wide = DecodeUtf8(text, std::strlen(text));
    std::u16string units;
    for (wchar_t unit : wide) {
        units.push_back(static_cast<char16_t>(static_cast<std::uint32_t>(unit) & 0xFFFFu));
    }
    return units;
}

std::string Problem(const std::string& doing) {
    return doing + ": " + std::strerror(errno);
}

bool ReadStore(const std::string& regPath, KeyTree* tree, std::string* error) {
    const int fd = open(regPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = Problem("cannot open " + regPath);
        return false;
    }
    RegFileLayout layout;
    RegFileError failure{0, ""};
    const bool read = ReadRegFile(fd, {}, tree, &layout, &failure);
    close(fd);
    if (!read) {
        *error = regPath + ":" + std::to_string(failure.line) + ": " + failure.what;
    }
    return read;
}

// The key's values: set in one call on a key just added, one by one on a key that has values
// of its own (ControlSet001 and CurrentControlSet both in the store).
bool CopyValues(const KeyTree& tree, std::uint32_t key, hive_h* hive, hive_node_h node,
                bool fresh) {
    std::vector<std::string> names;
    std::vector<std::string> data;
    for (std::uint32_t at = tree.keys[key].firstValue; at != kNoIndex; at = tree.values[at].next) {
        const TreeValue& value = tree.values[at];
        if (value.live) {
            names.push_back(Utf8Of(value.name, value.nameLength));
            data.emplace_back(reinterpret_cast<const char*>(value.data), value.dataLength);
        }
    }
    std::vector<hive_set_value> values;
    std::size_t index = 0;
    for (std::uint32_t at = tree.keys[key].firstValue; at != kNoIndex; at = tree.values[at].next) {
        if (tree.values[at].live) {
            hive_set_value value;
            value.key = &names[index][0];
            // hivex's enumeration holds any 32-bit type; it is moved as its bytes.
            std::memcpy(&value.t, &tree.values[at].type, sizeof value.t);
            value.len = data[index].size();
            value.value = &data[index][0];
            values.push_back(value);
            ++index;
        }
    }
    if (fresh) {
        return values.empty() ||
               hivex_node_set_values(hive, node, values.size(), values.data(), 0) == 0;
    }
    for (const hive_set_value& value : values) {
        if (hivex_node_set_value(hive, node, &value, 0) != 0) {
            return false;
        }
    }
    return true;
}

struct CopyStep {
    std::uint32_t key;
    hive_node_h node;
    bool fresh; // added by the copy, so without values
};

bool CopyTree(const KeyTree& tree, std::uint32_t system, hive_h* hive, std::string* error) {
    std::vector<CopyStep> pending{CopyStep{system, hivex_root(hive), true}};
    while (!pending.empty()) {
        const CopyStep step = pending.back();
        pending.pop_back();
        if (!CopyValues(tree, step.key, hive, step.node, step.fresh)) {
            *error = Problem("cannot set the values of a key");
            return false;
        }
        for (std::uint32_t index = 0; index < tree.keys[step.key].childCount; ++index) {
            const TreeKey& child = tree.keys[ChildKeyAt(tree, step.key, index)];
            std::string name = Utf8Of(child.name, child.nameLength);
            if (step.key == system &&
                NamesMatch(child.name, child.nameLength, kCurrentControlSetName,
                           sizeof kCurrentControlSetName / 2 - 1)) {
                name = "ControlSet001";
            }
            hive_node_h node = hivex_node_get_child(hive, step.node, name.c_str());
            const bool fresh = node == 0;
            if (fresh) {
                node = hivex_node_add_child(hive, step.node, name.c_str());
            }
            if (node == 0) {
                *error = Problem("cannot add the key " + name);
                return false;
            }
            pending.push_back(CopyStep{ChildKeyAt(tree, step.key, index), node, fresh});
        }
    }
    return true;
}

// The root's subkey of this name, added if it has none.
hive_node_h RootChild(hive_h* hive, const char* name) {
    const hive_node_h root = hivex_root(hive);
    const hive_node_h child = hivex_node_get_child(hive, root, name);
    return child != 0 ? child : hivex_node_add_child(hive, root, name);
}

bool AddSelect(hive_h* hive, std::uint32_t current, std::string* error) {
    if (RootChild(hive, "ControlSet001") == 0) {
        *error = Problem("cannot add ControlSet001");
        return false;
    }
    const hive_node_h select = RootChild(hive, "Select");
    char name[] = "Current";
    char data[4];
    for (std::size_t at = 0; at < 4; ++at) {
        data[at] = static_cast<char>((current >> (8 * at)) & 0xFFu);
    }
    hive_set_value value{name, hive_t_REG_DWORD, sizeof data, data};
    if (select == 0 || hivex_node_set_value(hive, select, &value, 0) != 0) {
        *error = Problem("cannot set Select\\Current");
        return false;
    }
    return true;
}

void AppendJsonString(const std::u16string& units, std::string* out) {
    static const char kDigits[] = "0123456789abcdef";
    out->push_back('"');
    for (char16_t unit : units) {
        if (unit == u'"' || unit == u'\\') {
            out->push_back('\\');
            out->push_back(static_cast<char>(unit));
        } else if (unit < 0x20 || unit >= 0x7F) {
            *out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) {
                out->push_back(kDigits[(unit >> shift) & 0xF]);
            }
        } else {
            out->push_back(static_cast<char>(unit));
        }
    }
    out->push_back('"');
}

struct DumpedValue {
    std::u16string name;
    std::string line;
};

bool operator<(const DumpedValue& a, const DumpedValue& b) {
    return a.name < b.name;
}

struct DumpedKey {
    std::u16string path;
    std::vector<DumpedValue> values;
};

bool operator<(const DumpedKey& a, const DumpedKey& b) {
    return a.path < b.path;
}

bool DumpValues(hive_h* hive, hive_node_h node, DumpedKey* key) {
    hive_value_h* values = hivex_node_values(hive, node);
    if (values == nullptr) {
        return false;
    }
    bool read = true;
    for (std::size_t at = 0; read && values[at] != 0; ++at) {
        char* name = hivex_value_key(hive, values[at]);
        hive_type type = hive_t_REG_NONE;
        std::size_t length = 0;
        char* data =
            name == nullptr ? nullptr : hivex_value_value(hive, values[at], &type, &length);
        read = data != nullptr;
        if (read) {
            DumpedValue value{UnitsOfUtf8(name), "value "};
            AppendJsonString(key->path, &value.line);
            value.line += " ";
            AppendJsonString(value.name, &value.line);
            std::uint32_t typeNumber = 0;
            std::memcpy(&typeNumber, &type, sizeof typeNumber);
            value.line += " " + std::to_string(typeNumber) + " ";
            for (std::size_t byte = 0; byte < length; ++byte) {
                static const char kDigits[] = "0123456789abcdef";
                const unsigned char bits = static_cast<unsigned char>(data[byte]);
                value.line.push_back(kDigits[bits >> 4]);
                value.line.push_back(kDigits[bits & 0xF]);
            }
            key->values.push_back(value);
        }
        std::free(data);
        std::free(name);
    }
    std::free(values);
    std::sort(key->values.begin(), key->values.end());
    return read;
}

} // namespace

bool BuildHiveFromRegFile(const std::string& regPath, const std::string& hivePath,
                          const HiveBuildOptions& options, std::string* error) {
    KeyTree tree;
    if (!ReadStore(regPath, &tree, error)) {
        return false;
    }
    {
        std::ofstream file(hivePath, std::ios::binary | std::ios::trunc);
        const std::string bytes = EmptyHiveBytes();
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            *error = "cannot write " + hivePath;
            return false;
        }
    }
    hive_h* hive = hivex_open(hivePath.c_str(), HIVEX_OPEN_WRITE);
    if (hive == nullptr) {
        *error = Problem("hivex cannot open the empty hive " + hivePath);
        return false;
    }
    const char16_t* machine = kRootKeyNames[0];
    const std::uint32_t localMachine =
        FindChildKey(tree, kTopKey, machine, std::char_traits<char16_t>::length(machine));
    const std::uint32_t system =
        localMachine == kNoIndex
            ? kNoIndex
            : FindChildKey(tree, localMachine, kSystemName, sizeof kSystemName / 2 - 1);
    bool built = system == kNoIndex || CopyTree(tree, system, hive, error);
    built = built && (!options.select || AddSelect(hive, options.current, error));
    if (built && hivex_commit(hive, nullptr, 0) != 0) {
        *error = Problem("cannot commit " + hivePath);
        built = false;
    }
    hivex_close(hive);
    return built;
}

bool DumpHive(const std::string& path, std::string* dump, std::string* error) {
    hive_h* hive = hivex_open(path.c_str(), 0);
    if (hive == nullptr) {
        *error = Problem("hivex cannot open " + path);
        return false;
    }
    std::vector<DumpedKey> keys;
    std::vector<std::pair<hive_node_h, std::u16string>> pending{{hivex_root(hive), u""}};
    bool read = true;
    while (read && !pending.empty()) {
        const std::pair<hive_node_h, std::u16string> next = pending.back();
        pending.pop_back();
        DumpedKey key{next.second, {}};
        read = DumpValues(hive, next.first, &key);
        keys.push_back(key);
        hive_node_h* children = read ? hivex_node_children(hive, next.first) : nullptr;
        read = read && children != nullptr;
        for (std::size_t at = 0; read && children[at] != 0; ++at) {
            char* name = hivex_node_name(hive, children[at]);
            read = name != nullptr;
            if (read) {
                pending.emplace_back(children[at], next.second + u"\\" + UnitsOfUtf8(name));
            }
            std::free(name);
        }
        std::free(children);
    }
    hivex_close(hive);
    if (!read) {
        *error = Problem("hivex cannot read all of " + path);
        return false;
    }
    std::sort(keys.begin(), keys.end());
    dump->clear();
    for (const DumpedKey& key : keys) {
        *dump += "key ";
        AppendJsonString(key.path, dump);
        *dump += "\n";
        for (const DumpedValue& value : key.values) {
            *dump += value.line + "\n";
        }
    }
    return true;
}
