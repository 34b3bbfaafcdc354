// The keys and values of a registry store, in memory, from either of the store's file formats.
// Beside them a key and a value keep the byte offsets where a .reg file holds them (newValueAt,
// sourceStart, sourceEnd), so a write edits the file in place; a hive leaves them kNoOffset.
//
// Records live in deques and refer to one another by index; names and data live in a block
// arena, so a large store costs few allocations and never a reallocation of what is loaded.
// Key 0 is the top of the tree; its children are the root keys (HKEY_LOCAL_MACHINE, ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

const std::uint32_t kNoIndex = 0xFFFFFFFFu;
const std::uint32_t kNoOffset = 0xFFFFFFFFu;
const std::uint32_t kTopKey = 0;

struct TreeKey {
    const char16_t* name;
    std::uint32_t nameLength;
    std::uint32_t nameHash; // of the upper-cased name: a cheap first test in searches
    std::uint32_t parent;
    std::uint32_t firstChild; // while loading: children, newest first, linked by nextSibling
    std::uint32_t nextSibling;
    std::uint32_t childStart;   // once finished: the children in subkey order, in sortedChildren
    std::uint32_t childCount;   // live children
    std::uint32_t childRecords; // while loading: children ever linked, deleted ones too
    std::uint32_t firstValue;   // linked by TreeValue::next
    std::uint32_t lastValue;
    std::uint32_t valueCount;   // live values
    std::uint32_t valueRecords; // values in the list, deleted ones too
    // Where the store's format puts a new value of this key (a .reg file: the byte behind the
    // key's last own line); kNoOffset when the key has no place of its own.
    std::uint32_t newValueAt;
    bool live;
    bool childrenUnsorted; // while loading: a child came before one created earlier
};

struct TreeValue {
    const char16_t* name;
    const unsigned char* data;
    std::uint32_t nameLength;
    std::uint32_t dataLength;
    std::uint32_t type;
    std::uint32_t key;
    std::uint32_t next;
    // The value's data as the store file spells them (a .reg file: the bytes from behind the
    // '=' to the end of the data), for a write that replaces them.
    std::uint32_t sourceStart;
    std::uint32_t sourceEnd;
    bool live;
};

struct TreeArena {
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    std::size_t used; // bytes used in the last block
};

// Finds the children of keys with many children, and the values of keys with many values, while
// a tree is being loaded; other keys' short lists are scanned, which costs no cache miss.
struct NameIndex {
    std::vector<std::uint64_t> slots; // hash << 32 | record; 0 when free (records are + 1)
    std::size_t used;
};

struct KeyTree {
    std::deque<TreeKey> keys;
    std::vector<std::uint32_t> unsortedParents; // while loading: keys with childrenUnsorted
    std::deque<TreeValue> values;
    std::vector<std::uint32_t> sortedChildren;
    TreeArena arena;
    NameIndex keyIndex;
    NameIndex valueIndex;
    bool finished;
};

// An empty tree holding only the top key.
void InitKeyTree(KeyTree* tree);

// The child of parent with this name, created (with the name's spelling) if there is none.
std::uint32_t AddChildKey(KeyTree* tree, std::uint32_t parent, const char16_t* name,
                          std::size_t nameLength);

// kNoIndex when parent has no such child.
std::uint32_t FindChildKey(const KeyTree& tree, std::uint32_t parent, const char16_t* name,
                           std::size_t nameLength);

// Removes a key with everything below it.
void DeleteKey(KeyTree* tree, std::uint32_t key);

// kNoIndex when key has no such value.
std::uint32_t FindValue(const KeyTree& tree, std::uint32_t key, const char16_t* name,
                        std::size_t nameLength);

// Sets a value's type and data, adding the value (with the name's spelling) if it is new.
std::uint32_t SetValue(KeyTree* tree, std::uint32_t key, const char16_t* name,
                       std::size_t nameLength, std::uint32_t type, const unsigned char* data,
                       std::size_t dataLength);

// As SetValue, but leaves dataLength bytes of data for the caller to write at *place, so that
// long data are written once, where they are kept.
std::uint32_t SetValueSpace(KeyTree* tree, std::uint32_t key, const char16_t* name,
                            std::size_t nameLength, std::uint32_t type, std::size_t dataLength,
                            unsigned char** place);

void DeleteValue(KeyTree* tree, std::uint32_t value);

// Ends loading: sorts every key's children into subkey order and drops the load-time indexes.
void FinishKeyTree(KeyTree* tree);

// The index-th child of key in subkey order (finished trees only).
std::uint32_t ChildKeyAt(const KeyTree& tree, std::uint32_t key, std::uint32_t index);

// Moves the source offsets behind an edit of bytes [start, end) by delta.
void ShiftSourceOffsets(KeyTree* tree, std::uint32_t start, std::uint32_t end, std::int64_t delta);
