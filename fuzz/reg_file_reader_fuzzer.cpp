// Feeds the .reg reader with arbitrary files. A file it accepts must stay acceptable after a
// value is written into it, and must then read as the same tree with that value set: the
// writer's promise that the file stays importable and that nothing else changes.
#include "tree_text.h"

#include "registry/store/key_tree.h"
#include "registry/store/reg_file_reader.h"
#include "registry/store/reg_file_writer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("store", 0);
    const std::string original(reinterpret_cast<const char*>(data), size);
    KeyTree tree;
    RegFileLayout layout;
    RegFileError error;
    if (fd < 0 || !Fill(fd, original) || !ReadRegFile(fd, {}, &tree, &layout, &error)) {
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
