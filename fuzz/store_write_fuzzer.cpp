// Drives the store's write path on arbitrary .reg files: load the file, write two values (of
// any key, name, type and data the input chooses) through the lock and the file replacement,
// and after each write reload the file. The written value must read back and nothing else in
// the tree may change; a refused write must leave the file byte for byte as it was. The
// second write checks that the store's own tree kept its places in the file after the first.
//
// Input, for each of the two writes: the key's number (2 bytes, little-endian, modulo the
// keys below HKEY_LOCAL_MACHINE in subkey order, the root being 0), the name's length (1 byte,
// modulo 13) and its UTF-16LE units, the type (1 byte: an index into kTypes, or from 0xF8 on
// 4 bytes of any type that follow) and the data's length (1 byte, modulo 41) and bytes. The
// rest is the file.
#include "tree_text.h"

#include "registry/store/key_tree.h"
#include "registry/store/reg_file/reg_file_reader.h"
#include "registry/store/registry_store.h"
#include "registry/store/registry_types.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::uint32_t kTypes[] = {1, 2, 3, 4, 7, 11, 0};

struct PlannedWrite {
    std::uint16_t keyChoice;
    std::u16string name;
    std::uint32_t type;
    std::vector<unsigned char> data;
};

// The input's bytes, taken from the front; 0 once they run out.
struct InputBytes {
    const std::uint8_t* data;
    std::size_t size;
};

std::uint32_t TakeNumber(InputBytes* input, std::size_t bytes) {
    std::uint32_t number = 0;
    for (std::size_t at = 0; at < bytes && input->size > 0; ++at) {
        number |= static_cast<std::uint32_t>(*input->data) << (8 * at);
        ++input->data;
        --input->size;
    }
    return number;
}

PlannedWrite TakeWrite(InputBytes* input) {
    PlannedWrite write;
    write.keyChoice = static_cast<std::uint16_t>(TakeNumber(input, 2));
    const std::uint32_t nameLength = TakeNumber(input, 1) % 13;
    for (std::uint32_t at = 0; at < nameLength; ++at) {
        write.name.push_back(static_cast<char16_t>(TakeNumber(input, 2)));
    }
    const std::uint32_t type = TakeNumber(input, 1);
    write.type =
        type < 0xF8 ? kTypes[type % (sizeof kTypes / sizeof kTypes[0])] : TakeNumber(input, 4);
    const std::uint32_t dataLength = TakeNumber(input, 1) % 41;
    for (std::uint32_t at = 0; at < dataLength; ++at) {
        write.data.push_back(static_cast<unsigned char>(TakeNumber(input, 1)));
    }
    return write;
}

// The keys below HKEY_LOCAL_MACHINE, the root first, each with its path as FindStoreKey takes
// it.
void CollectKeys(const KeyTree& tree, std::uint32_t key, const std::u16string& path,
                 std::vector<std::uint32_t>* keys, std::vector<std::u16string>* paths) {
    keys->push_back(key);
    paths->push_back(path);
    for (std::uint32_t index = 0; index < tree.keys[key].childCount; ++index) {
        const std::uint32_t child = ChildKeyAt(tree, key, index);
        const std::u16string name(tree.keys[child].name, tree.keys[child].nameLength);
        CollectKeys(tree, child, path.empty() ? name : path + u'\\' + name, keys, paths);
    }
}

bool ReadFileTree(const std::string& path, KeyTree* tree) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    RegFileLayout layout;
    RegFileError error;
    const bool read = fd >= 0 && ReadRegFile(fd, {}, tree, &layout, &error);
    if (fd >= 0) {
        close(fd);
    }
    return read;
}

std::string FileBytes(const std::string& path) {
    std::string bytes;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[65536];
    for (ssize_t got; fd >= 0 && (got = read(fd, buffer, sizeof buffer)) > 0;) {
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    if (fd >= 0) {
        close(fd);
    }
    return bytes;
}

bool PutFileBytes(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool put =
        fd >= 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (fd >= 0) {
        close(fd);
    }
    return put;
}

// One write through the store, checked against the same value set in a tree read from the
// file beforehand.
void WriteAndCompare(const std::string& path, const PlannedWrite& write) {
    KeyTree expected;
    if (!ReadFileTree(path, &expected)) {
        std::abort(); // the store loaded the file, or wrote it, a moment ago
    }
    const std::uint32_t root = FindChildKey(expected, kTopKey, kRootKeyNames[0], 18);
    std::vector<std::uint32_t> keys;
    std::vector<std::u16string> paths;
    CollectKeys(expected, root, std::u16string(), &keys, &paths);
    const std::size_t chosen = write.keyChoice % keys.size();
    const std::string before = FileBytes(path);
    const LSTATUS status = WriteStoreValue(
        paths[chosen].data(), paths[chosen].size(),
        {write.name.data(), write.name.size(), write.type, write.data.data(), write.data.size()});
    if (status != ERROR_SUCCESS) {
        if (FileBytes(path) != before) {
            std::abort();
        }
        return;
    }
    SetValue(&expected, keys[chosen], write.name.data(), write.name.size(), write.type,
             write.data.data(), write.data.size());
    const std::string wanted = TreeText(expected);
    KeyTree reread;
    if (!ReadFileTree(path, &reread) || TreeText(reread) != wanted ||
        TreeText(StoreTree()) != wanted) {
        std::abort();
    }
}

std::string gScratch;

void RemoveScratch() {
    unlink((gScratch + "/store.reg").c_str());
    rmdir(gScratch.c_str());
}

// A directory of the process's own for the store, removed when the fuzzer ends.
std::string ScratchDirectory() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/store-write-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        std::abort();
    }
    gScratch = pattern;
    std::atexit(RemoveScratch);
    return pattern;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = ScratchDirectory() + "/store.reg";
    InputBytes input = {data, size};
    const PlannedWrite first = TakeWrite(&input);
    const PlannedWrite second = TakeWrite(&input);
    if (!PutFileBytes(path, std::string(reinterpret_cast<const char*>(input.data), input.size))) {
        std::abort();
    }
    std::string error;
    if (!LoadRegistryStore(path.c_str(), &error)) {
        return 0;
    }
    WriteAndCompare(path, first);
    WriteAndCompare(path, second);
    UnloadRegistryStore();
    return 0;
}
