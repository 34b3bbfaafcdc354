// Writes one value into a .reg file so that nothing else in it changes: the value's last
// definition is rewritten in place, or a line is added at the end of its key's last own
// section, or, for a key without a section of its own, a section is added at the end. The
// file keeps its encoding, byte-order mark, line endings, comments, order and spellings.
#pragma once

#include "registry/store/key_tree.h"
#include "registry/store/reg_file/reg_file_reader.h"
#include "registry/store/registry_types.h"
#include "registry/store/store_replace.h"
#include "registry/store/value_to_write.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct RegFileValueEdit {
    FileEdit file;
    std::uint32_t sourceStart; // where the value's data lie in the edited file
    std::uint32_t sourceEnd;
    std::uint32_t newValueAt; // the key's place for new values afterwards; kNoOffset: as before
};

// Plans writing the value into the file open on fd (fileSize bytes) whose tree is tree.
// Fails with ERROR_INVALID_PARAMETER for a name, or data, that no .reg line can hold.
LSTATUS PlanRegFileValueWrite(const KeyTree& tree, std::uint32_t key, const ValueToWrite& value,
                              const RegFileLayout& layout, int fd, std::uint64_t fileSize,
                              RegFileValueEdit* edit);

// The .reg format's write into the store: sets one value of key in the file at path, open and
// locked in lock, whose tree is tree, by replacing the file with one edited as planned above;
// the tree then takes on the edit. On failure the file and the tree are as they were.
LSTATUS WriteRegFileValue(const std::string& path, const RegFileLayout& layout, std::uint32_t key,
                          const ValueToWrite& write, StoreLock* lock, KeyTree* tree);
