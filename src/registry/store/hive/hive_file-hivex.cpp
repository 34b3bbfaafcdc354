#include "registry/store/hive/hive_file.h"

#include "registry/store/file_io.h"
#include "registry/store/hive/hive_layout.h"
#include "registry/store/name_case.h"
#include "text/utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <hivex.h>
#include <unordered_set>

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
    std::u16string units;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(text), std::strlen(text), &units);
    return units;
}

std::string Utf8OfUnits(const char16_t* units, std::size_t length) {
    std::string text;
    AppendUtf8(units, length, &text);
    return text;
}

// Windows refuses keys nested deeper than this below the hive's root.
const std::uint32_t kMaxKeyDepth = 512;

struct PendingKey {
    hive_node_h node;
    std::uint32_t key;
    std::uint32_t depth; // below the hive's root
};

// One read of a hive into a tree. Every key is read at most once, so that a subkey list
// pointing back at a key or an ancestor ends the read instead of looping.
struct HiveWalk {
    hive_h* hive;
    KeyTree* tree;
    std::unordered_set<hive_node_h> seen;
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

bool ReadKeyChildren(hive_h* hive, const PendingKey& parent, KeyTree* tree,
                     std::vector<PendingKey>* pending, std::string* what) {
    errno = 0;
    hive_node_h* children = hivex_node_children(hive, parent.node);
    if (children == nullptr) {
        *what = HiveProblem("a key's subkeys");
        return false;
    }
    bool read = true;
    if (children[0] != 0 && parent.depth >= kMaxKeyDepth) {
        *what = "the registry hive is damaged (keys nested deeper than " +
                std::to_string(kMaxKeyDepth) + " levels)";
        read = false;
    }
    for (std::size_t at = 0; read && children[at] != 0; ++at) {
        errno = 0;
        char* name = hivex_node_name(hive, children[at]);
        if (name == nullptr) {
            *what = HiveProblem("a key's name");
            read = false;
        } else {
            const std::u16string units = UnitsOfUtf8(name);
            pending->push_back(PendingKey{children[at],
                                          AddChildKey(tree, parent.key, units.data(), units.size()),
                                          parent.depth + 1});
        }
        std::free(name);
    }
    std::free(children);
    return read;
}

// Reads the key at top with everything below it.
bool ReadSubtree(HiveWalk* walk, const PendingKey& top, std::string* what) {
    std::vector<PendingKey> pending{top};
    bool read = true;
    while (read && !pending.empty()) {
        const PendingKey next = pending.back();
        pending.pop_back();
        if (!walk->seen.insert(next.node).second) {
            *what = "the registry hive is damaged (a key is listed below itself or twice)";
            return false;
        }
        read = ReadKeyValues(walk->hive, next.node, walk->tree, next.key, what) &&
               ReadKeyChildren(walk->hive, next, walk->tree, &pending, what);
    }
    return read;
}

// The child of parent named name, added to the tree with the hive's spelling; its node is 0
// when the hive has none.
PendingKey AddNamedChild(HiveWalk* walk, const PendingKey& parent, const std::string& name,
                         std::string* what) {
    errno = 0;
    const hive_node_h node = hivex_node_get_child(walk->hive, parent.node, name.c_str());
    char* spelling = node == 0 ? nullptr : hivex_node_name(walk->hive, node);
    if (spelling == nullptr) {
        if (errno != 0) {
            *what = HiveProblem("a key's subkeys");
        }
        return PendingKey{0, kNoIndex, parent.depth + 1};
    }
    const std::u16string units = UnitsOfUtf8(spelling);
    std::free(spelling);
    return PendingKey{node, AddChildKey(walk->tree, parent.key, units.data(), units.size()),
                      parent.depth + 1};
}

std::vector<std::string> SplitKeyPath(const std::u16string& path) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        end = end == std::u16string::npos ? path.size() : end;
        names.push_back(Utf8OfUnits(path.data() + start, end - start));
        start = end + 1;
    }
    return names;
}

bool SameName(const std::string& a, const char* b) {
    const std::u16string left = UnitsOfUtf8(a.c_str());
    const std::u16string right = UnitsOfUtf8(b);
    return NamesMatch(left.data(), left.size(), right.data(), right.size());
}

// Reads one area, a path below HKEY_LOCAL_MACHINE: the keys down to it, then all of it. An
// area outside the hive, or that the hive lacks, adds what the hive has of its path.
bool ReadArea(HiveWalk* walk, const PendingKey& root, const std::u16string& area,
              std::string* what) {
    const std::vector<std::string> names = SplitKeyPath(area);
    if (names.empty() || !SameName(names[0], "SYSTEM")) {
        return true;
    }
    PendingKey at = root;
    for (std::size_t index = 1; index < names.size(); ++index) {
        std::string name = names[index];
        if (index == 1 && SameName(name, "CurrentControlSet") &&
            !CurrentControlSetName(*walk->tree, root.key, &name)) {
            return true; // the hive's layout is judged once it is read
        }
        walk->seen.insert(at.node);
        what->clear();
        at = AddNamedChild(walk, at, name, what);
        if (at.node == 0) {
            return what->empty();
        }
    }
    // An area inside one read before is there already.
    return walk->seen.count(at.node) != 0 || ReadSubtree(walk, at, what);
}

// Areas nearer the root first, so that one holding another is read whole first.
std::vector<std::u16string> AreasByDepth(const std::vector<std::u16string>& areas) {
    std::vector<std::u16string> sorted = areas;
    for (std::size_t at = 1; at < sorted.size(); ++at) {
        for (std::size_t back = at;
             back > 0 && std::count(sorted[back].begin(), sorted[back].end(), u'\\') <
                             std::count(sorted[back - 1].begin(), sorted[back - 1].end(), u'\\');
             --back) {
            sorted[back].swap(sorted[back - 1]);
        }
    }
    return sorted;
}

// Select, whose Current names the control set that CurrentControlSet stands for.
bool ReadSelectKey(HiveWalk* walk, const PendingKey& root, std::string* what) {
    what->clear();
    const PendingKey select = AddNamedChild(walk, root, "Select", what);
    return select.node == 0 ? what->empty()
                            : ReadKeyValues(walk->hive, select.node, walk->tree, select.key, what);
}

bool ReadHiveKeys(HiveWalk* walk, const std::vector<std::u16string>& areas, std::uint32_t systemKey,
                  std::string* what) {
    const PendingKey root{hivex_root(walk->hive), systemKey, 0};
    if (areas.empty()) {
        return ReadSubtree(walk, root, what);
    }
    if (!ReadSelectKey(walk, root, what)) {
        return false;
    }
    for (const std::u16string& area : AreasByDepth(areas)) {
        if (!ReadArea(walk, root, area, what)) {
            return false;
        }
    }
    return true;
}

hive_node_h FindHiveKey(hive_h* hive, const std::vector<std::u16string>& keyPath) {
    hive_node_h node = hivex_root(hive);
    for (std::size_t at = 0; node != 0 && at < keyPath.size(); ++at) {
        const std::string name = Utf8OfUnits(keyPath[at].data(), keyPath[at].size());
        node = hivex_node_get_child(hive, node, name.c_str());
    }
    return node;
}

// The written file opens as the next run will open it, and holds the value as it was set.
bool HoldsValue(const char* path, const std::vector<std::u16string>& keyPath,
                const hive_set_value& value) {
    hive_h* hive = hivex_open(path, 0);
    if (hive == nullptr) {
        return false;
    }
    const hive_node_h node = FindHiveKey(hive, keyPath);
    const hive_value_h handle = node == 0 ? 0 : hivex_node_get_value(hive, node, value.key);
    hive_type type = hive_t_REG_NONE;
    std::size_t length = 0;
    char* data = handle == 0 ? nullptr : hivex_value_value(hive, handle, &type, &length);
    const bool same = data != nullptr && type == value.t && length == value.len &&
                      std::memcmp(data, value.value, length) == 0;
    std::free(data);
    hivex_close(hive);
    return same;
}

} // namespace

bool ReadHiveFile(const char* path, const std::vector<std::u16string>& areas, KeyTree* tree,
                  std::uint32_t* systemKey, std::string* what) {
    InitKeyTree(tree);
    *systemKey = kNoIndex;
    errno = 0;
    hive_h* hive = hivex_open(path, 0);
    if (hive == nullptr) {
        // The header has been checked before: what hivex refuses now is in the bins, and its
        // errno for that (EINVAL, ENOTSUP, ...) says no more than this.
        const int error = errno;
        *what = error == EINVAL || error == ENOTSUP || error == EFAULT || error == ERANGE
                    ? std::string("the registry hive is damaged: its bins or its root key cannot "
                                  "be read")
                    : std::string("cannot read the registry hive: ") + std::strerror(error);
        return false;
    }
    HiveWalk walk{hive, tree, {}};
    const std::uint32_t root = AddHiveRootKey(tree);
    const bool read = ReadHiveKeys(&walk, areas, root, what);
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
                        const std::vector<std::u16string>& keyPath, const ValueToWrite& write) {
    errno = 0;
    hive_h* hive = hivex_open(inPath, HIVEX_OPEN_WRITE);
    if (hive == nullptr) {
        return errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_BADDB;
    }
    std::string valueName = Utf8OfUnits(write.name, write.nameLength);
    std::string bytes(reinterpret_cast<const char*>(write.data), write.dataLength);
    hive_set_value value;
    value.key = &valueName[0];
    value.t = HiveTypeOf(write.type);
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
    // hivex can write a hive that it cannot open again; such a file must never take the
    // old one's place.
    if (status == ERROR_SUCCESS && !HoldsValue(outPath, keyPath, value)) {
        status = ERROR_BADDB;
    }
    return status;
}
