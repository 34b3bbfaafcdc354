#include "registry/store/hive_file.h"

#include "cli/utf8.h"
#include "registry/store/hive_layout.h"
#include "registry/store/store_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <hivex.h>

namespace {

// hivex's type is an enumeration of the types it names, but a hive may hold any 32-bit type:
// it is moved as its bytes, never converted.
static_assert(sizeof(hive_type) == sizeof(DWORD), "hivex holds a value type in 32 bits");

hive_type HiveTypeOf(DWORD type) {
    hive_type converted;
    std::memcpy(&converted, &type, sizeof converted);
    return converted;
}

DWORD TypeOfHive(const hive_type* type) {
    DWORD converted;
    std::memcpy(&converted, type, sizeof converted);
    return converted;
}

// hivex gives and takes names as UTF-8.
std::u16string UnitsOfUtf8(const char* text) {
    const std::wstring wide = DecodeUtf8(text, std::strlen(text));
    std::u16string units;
    units.reserve(wide.size());
    for (wchar_t unit : wide) {
        units.push_back(static_cast<char16_t>(static_cast<std::uint32_t>(unit) & 0xFFFFu));
    }
    return units;
}

std::string Utf8OfUnits(const char16_t* units, std::size_t length) {
    std::wstring wide;
    wide.reserve(length);
    for (std::size_t at = 0; at < length; ++at) {
        wide.push_back(static_cast<wchar_t>(units[at]));
    }
    std::string text;
    AppendUtf8(wide.data(), wide.size(), &text);
    return text;
}

struct PendingKey {
    hive_node_h node;
    std::uint32_t key;
};

// What went wrong in a call of hivex's that has just failed.
std::string HiveProblem(const char* doing) {
    const int error = errno;
    return std::string("the registry hive is damaged (") + doing +
           (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) + ")";
}

bool ReadKeyValues(hive_h* hive, hive_node_h node, KeyTree* tree, std::uint32_t key,
                   std::string* what) {
    errno = 0;
    hive_value_h* values = hivex_node_values(hive, node);
    if (values == nullptr) {
        *what = HiveProblem("a key's values");
        return false;
    }
    bool read = true;
    for (std::size_t at = 0; read && values[at] != 0; ++at) {
        errno = 0;
        char* name = hivex_value_key(hive, values[at]);
        hive_type type = hive_t_REG_NONE;
        std::size_t length = 0;
        char* data =
            name == nullptr ? nullptr : hivex_value_value(hive, values[at], &type, &length);
        if (data == nullptr) {
            *what = HiveProblem("a value");
            read = false;
        } else {
            const std::u16string units = UnitsOfUtf8(name);
            SetValue(tree, key, units.data(), units.size(), TypeOfHive(&type),
                     reinterpret_cast<const unsigned char*>(data), length);
        }
        std::free(data);
        std::free(name);
    }
    std::free(values);
    return read;
}

bool ReadKeyChildren(hive_h* hive, hive_node_h node, KeyTree* tree, std::uint32_t key,
                     std::vector<PendingKey>* pending, std::string* what) {
    errno = 0;
    hive_node_h* children = hivex_node_children(hive, node);
    if (children == nullptr) {
        *what = HiveProblem("a key's subkeys");
        return false;
    }
    bool read = true;
    for (std::size_t at = 0; read && children[at] != 0; ++at) {
        errno = 0;
        char* name = hivex_node_name(hive, children[at]);
        if (name == nullptr) {
            *what = HiveProblem("a key's name");
            read = false;
        } else {
            const std::u16string units = UnitsOfUtf8(name);
            pending->push_back(
                PendingKey{children[at], AddChildKey(tree, key, units.data(), units.size())});
        }
        std::free(name);
    }
    std::free(children);
    return read;
}

hive_node_h FindHiveKey(hive_h* hive, const std::vector<std::u16string>& keyPath) {
    hive_node_h node = hivex_root(hive);
    for (std::size_t at = 0; node != 0 && at < keyPath.size(); ++at) {
        const std::string name = Utf8OfUnits(keyPath[at].data(), keyPath[at].size());
        node = hivex_node_get_child(hive, node, name.c_str());
    }
    return node;
}

} // namespace

bool ReadHiveFile(const char* path, const std::vector<std::u16string>&, KeyTree* tree,
                  std::uint32_t* systemKey, std::string* what) {
    InitKeyTree(tree);
    *systemKey = kNoIndex;
    errno = 0;
    hive_h* hive = hivex_open(path, 0);
    if (hive == nullptr) {
        *what = std::string("not a registry hive that can be read: ") + std::strerror(errno);
        return false;
    }
    const std::uint32_t root = AddHiveRootKey(tree);
    std::vector<PendingKey> pending{PendingKey{hivex_root(hive), root}};
    bool read = true;
    while (read && !pending.empty()) {
        const PendingKey next = pending.back();
        pending.pop_back();
        read = ReadKeyValues(hive, next.node, tree, next.key, what) &&
               ReadKeyChildren(hive, next.node, tree, next.key, &pending, what);
    }
    hivex_close(hive);
    if (!read) {
        InitKeyTree(tree);
        return false;
    }
    FinishKeyTree(tree);
    *systemKey = root;
    return true;
}

LSTATUS CommitHiveValue(const char* inPath, const char* outPath,
                        const std::vector<std::u16string>& keyPath, const char16_t* name,
                        std::size_t nameLength, DWORD type, const unsigned char* data,
                        std::size_t dataLength) {
    errno = 0;
    hive_h* hive = hivex_open(inPath, HIVEX_OPEN_WRITE);
    if (hive == nullptr) {
        return errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_BADDB;
    }
    std::string valueName = Utf8OfUnits(name, nameLength);
    std::string bytes(reinterpret_cast<const char*>(data), dataLength);
    hive_set_value value;
    value.key = &valueName[0];
    value.t = HiveTypeOf(type);
    value.len = bytes.size();
    value.value = &bytes[0];
    LSTATUS status = ERROR_SUCCESS;
    errno = 0;
    const hive_node_h node = FindHiveKey(hive, keyPath);
    if (node == 0) {
        status = errno == 0 ? ERROR_KEY_DELETED : ERROR_BADDB;
    } else if (hivex_node_set_value(hive, node, &value, 0) != 0) {
        status = errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_BADDB;
    } else if (hivex_commit(hive, outPath, 0) != 0) {
        status = ErrorFromErrno(errno);
    }
    hivex_close(hive);
    return status;
}
