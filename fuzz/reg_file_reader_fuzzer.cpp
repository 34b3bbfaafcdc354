// Feeds the .reg reader with arbitrary files. A file it accepts must stay acceptable after a
// value is written into it, and must then read as the same tree with that value set: the
// writer's promise that the file stays importable and that nothing else changes. Read with a
// set of areas, every file must be accepted or refused as when read whole (at the same line,
// for the same reason), and give the whole tree restricted to the areas: the keys of
// HKEY_LOCAL_MACHINE in an area, below one or above one, with their values.
#include "tree_text.h"

#include "registry/store/key_tree.h"
#include "registry/store/name_case.h"
#include "registry/store/reg_file/reg_file_reader.h"
#include "registry/store/reg_file/reg_file_writer.h"
#include "registry/store/registry_types.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

const char16_t kName[] = u"GUIDMask";
const unsigned char kData[] = {'2', 0, '3', 0, '1', 0, 0, 0};

bool Fill(int fd, const std::string& bytes) {
    return ftruncate(fd, 0) == 0 &&
           pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
}

// The first subkey of HKEY_LOCAL_MACHINE, or the root itself when it has none.
std::uint32_t SomeKey(const KeyTree& tree) {
    const std::uint32_t root = FindChildKey(tree, kTopKey, kRootKeyNames[0], 18);
    const std::uint32_t child = ChildKeyAt(tree, root, 0);
    return child != kNoIndex ? child : root;
}

// Names below HKEY_LOCAL_MACHINE, split; the reader is given them joined by backslashes.
const std::vector<std::vector<std::u16string>> kAreaNames = {
    {u"SYSTEM", u"CurrentControlSet", u"Control"},
    {u"a", u"b"},
};

std::vector<std::u16string> JoinedAreas() {
    std::vector<std::u16string> joined;
    for (const std::vector<std::u16string>& names : kAreaNames) {
        joined.emplace_back();
        for (const std::u16string& name : names) {
            joined.back() += (joined.back().empty() ? u"" : u"\\") + name;
        }
    }
    return joined;
}

// Whether a key whose path below HKEY_LOCAL_MACHINE is path lies in, below or above an area.
bool RelatedToAnArea(const KeyTree& tree, const std::vector<std::uint32_t>& path) {
    for (const std::vector<std::u16string>& names : kAreaNames) {
        bool related = true;
        for (std::size_t at = 0; related && at < path.size() && at < names.size(); ++at) {
            const TreeKey& key = tree.keys[path[at]];
            related = NamesMatch(key.name, key.nameLength, names[at].data(), names[at].size());
        }
        if (related) {
            return true;
        }
    }
    return false;
}

// A copy of the keys of tree below from that relate to an area, made below to in restricted.
void CopyRelated(const KeyTree& tree, std::uint32_t from, std::vector<std::uint32_t>* path,
                 KeyTree* restricted, std::uint32_t to) {
    const TreeKey& record = tree.keys[from];
    for (std::uint32_t at = record.firstValue; at != kNoIndex; at = tree.values[at].next) {
        const TreeValue& value = tree.values[at];
        if (value.live) {
            SetValue(restricted, to, value.name, value.nameLength, value.type, value.data,
                     value.dataLength);
        }
    }
    for (std::uint32_t index = 0; index < record.childCount; ++index) {
        const std::uint32_t child = ChildKeyAt(tree, from, index);
        path->push_back(child);
        if (RelatedToAnArea(tree, *path)) {
            const TreeKey& key = tree.keys[child];
            CopyRelated(tree, child, path, restricted,
                        AddChildKey(restricted, to, key.name, key.nameLength));
        }
        path->pop_back();
    }
}

std::string RestrictedText(const KeyTree& tree) {
    KeyTree restricted;
    InitKeyTree(&restricted);
    const std::uint32_t root = FindChildKey(tree, kTopKey, kRootKeyNames[0], 18);
    std::vector<std::uint32_t> path;
    CopyRelated(tree, root, &path, &restricted,
                AddChildKey(&restricted, kTopKey, kRootKeyNames[0], 18));
    FinishKeyTree(&restricted);
    return TreeText(restricted);
}

// The same file read with the areas agrees with the whole read.
void CheckAreasRead(int fd, bool wholeRead, const KeyTree& whole, const RegFileError& error) {
    KeyTree filtered;
    RegFileLayout layout;
    RegFileError filteredError;
    const bool filteredRead = ReadRegFile(fd, JoinedAreas(), &filtered, &layout, &filteredError);
    if (filteredRead != wholeRead) {
        std::abort();
    }
    if (!wholeRead && (filteredError.line != error.line || filteredError.what != error.what)) {
        std::abort();
    }
    if (wholeRead && TreeText(filtered) != RestrictedText(whole)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("store", 0);
    const std::string original(reinterpret_cast<const char*>(data), size);
    KeyTree tree;
    RegFileLayout layout;
    RegFileError error;
    if (fd < 0 || !Fill(fd, original)) {
        return 0;
    }
    const bool read = ReadRegFile(fd, {}, &tree, &layout, &error);
    CheckAreasRead(fd, read, tree, error);
    if (!read) {
        return 0;
    }
    RegFileValueEdit edit;
    const std::uint32_t key = SomeKey(tree);
    if (PlanRegFileValueWrite(tree, key, {kName, 8, 1, kData, sizeof kData}, layout, fd, size,
                              &edit) != 0) {
        return 0;
    }
    if (edit.file.start > edit.file.end || edit.file.end > size) {
        std::abort();
    }
    SetValue(&tree, key, kName, 8, 1, kData, sizeof kData);
    const std::string expected = TreeText(tree);
    const std::string written =
        original.substr(0, edit.file.start) + edit.file.bytes + original.substr(edit.file.end);
    KeyTree reread;
    if (!Fill(fd, written) || !ReadRegFile(fd, {}, &reread, &layout, &error)) {
        std::abort();
    }
    if (TreeText(reread) != expected) {
        std::abort();
    }
    return 0;
}
