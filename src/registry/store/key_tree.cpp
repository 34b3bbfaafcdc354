#include "registry/store/key_tree.h"

#include "registry/store/name_case.h"

#include <algorithm>
#include <cstring>

namespace {

const std::size_t kArenaBlockSize = 1 << 20;
const std::size_t kIndexFirstSize = 1024;
// Keys with at most this many children or values are searched by their lists, which are in
// cache while the key's part of the file is read; only larger ones use the indexes.
const std::uint32_t kListedChildLimit = 8;
const std::uint32_t kListedValueLimit = 8;

// Copies bytes into the arena, at an even address (names are UTF-16 units); null bytes leave
// the place for the caller to fill.
unsigned char* ArenaCopy(TreeArena* arena, const void* bytes, std::size_t length) {
    const std::size_t rounded = (length + 1) & ~static_cast<std::size_t>(1);
    if (rounded > kArenaBlockSize / 4) {
        // A large item gets a block of its own, kept before the block being filled.
        std::unique_ptr<unsigned char[]> block(new unsigned char[rounded]);
        unsigned char* place = block.get();
        const std::size_t at = arena->blocks.empty() ? 0 : arena->blocks.size() - 1;
        arena->blocks.insert(arena->blocks.begin() + static_cast<std::ptrdiff_t>(at),
                             std::move(block));
        if (bytes != nullptr && length != 0) {
            std::memcpy(place, bytes, length);
        }
        return place;
    }
    if (arena->blocks.empty() || arena->used + rounded > kArenaBlockSize) {
        arena->blocks.emplace_back(new unsigned char[kArenaBlockSize]);
        arena->used = 0;
    }
    unsigned char* place = arena->blocks.back().get() + arena->used;
    arena->used += rounded;
    if (bytes != nullptr && length != 0) {
        std::memcpy(place, bytes, length);
    }
    return place;
}

const char16_t* ArenaCopyName(TreeArena* arena, const char16_t* name, std::size_t length) {
    return reinterpret_cast<const char16_t*>(ArenaCopy(arena, name, length * sizeof(char16_t)));
}

std::uint32_t OwnerSeed(std::uint32_t owner) {
    return owner * 0x9E3779B1u;
}

// Where a key with this name hash below parent goes in the key index.
std::uint32_t ChildHash(std::uint32_t parent, std::uint32_t nameHash) {
    std::uint32_t hash = nameHash ^ OwnerSeed(parent);
    hash ^= hash >> 16;
    hash *= 0x85EBCA6Bu;
    return hash ^ (hash >> 13);
}

std::uint32_t KeyHash(const TreeKey& key) {
    return ChildHash(key.parent, key.nameHash);
}

std::uint32_t ValueHash(const TreeValue& value) {
    return HashNameIgnoringCase(OwnerSeed(value.key), value.name, value.nameLength);
}

// A slot holds the record's hash beside its index, so a probe reads a record only when the
// hash matches; most probes cost no cache miss in the records.
std::uint64_t SlotOf(std::uint32_t hash, std::uint32_t record) {
    return (static_cast<std::uint64_t>(hash) << 32) | (static_cast<std::uint64_t>(record) + 1);
}

std::uint32_t SlotRecord(std::uint64_t slot) {
    return static_cast<std::uint32_t>((slot & 0xFFFFFFFFu) - 1);
}

std::uint32_t SlotHash(std::uint64_t slot) {
    return static_cast<std::uint32_t>(slot >> 32);
}

void PlaceInIndex(NameIndex* index, std::uint64_t entry) {
    const std::size_t mask = index->slots.size() - 1;
    std::size_t slot = SlotHash(entry) & mask;
    while (index->slots[slot] != 0) {
        slot = (slot + 1) & mask;
    }
    index->slots[slot] = entry;
}

// Keeps the index at most half full; every record, dead ones too, keeps its slot.
void GrowIndex(NameIndex* index) {
    if ((index->used + 1) * 2 <= index->slots.size()) {
        return;
    }
    std::vector<std::uint64_t> old;
    old.swap(index->slots);
    index->slots.assign(old.empty() ? kIndexFirstSize : old.size() * 2, 0);
    for (std::uint64_t entry : old) {
        if (entry != 0) {
            PlaceInIndex(index, entry);
        }
    }
}

void AddToIndex(NameIndex* index, std::uint32_t hash, std::uint32_t record) {
    GrowIndex(index);
    PlaceInIndex(index, SlotOf(hash, record));
    ++index->used;
}

// Where a probe for hash starts in a non-empty index.
std::size_t FirstProbeSlot(const NameIndex& index, std::uint32_t hash) {
    return hash & (index.slots.size() - 1);
}

// The one probe of both indexes: the next record from *slot on whose hash is hash, with *slot
// moved past it, or kNoIndex once the run of used slots ends.
std::uint32_t NextHashMatch(const NameIndex& index, std::uint32_t hash, std::size_t* slot) {
    const std::size_t mask = index.slots.size() - 1;
    for (; index.slots[*slot] != 0; *slot = (*slot + 1) & mask) {
        if (SlotHash(index.slots[*slot]) == hash) {
            const std::uint32_t record = SlotRecord(index.slots[*slot]);
            *slot = (*slot + 1) & mask;
            return record;
        }
    }
    return kNoIndex;
}

void IndexKey(KeyTree* tree, std::uint32_t key) {
    AddToIndex(&tree->keyIndex, KeyHash(tree->keys[key]), key);
}

// Indexes the new child of parent, or all of its children once it has too many to scan.
void IndexNewChild(KeyTree* tree, std::uint32_t parent, std::uint32_t child) {
    const std::uint32_t records = tree->keys[parent].childRecords;
    if (records == kListedChildLimit + 1) {
        for (std::uint32_t at = tree->keys[parent].firstChild; at != kNoIndex;
             at = tree->keys[at].nextSibling) {
            IndexKey(tree, at);
        }
    } else if (records > kListedChildLimit + 1) {
        IndexKey(tree, child);
    }
}

std::uint32_t FindChildInList(const KeyTree& tree, std::uint32_t parent, const char16_t* name,
                              std::size_t nameLength, std::uint32_t nameHash) {
    for (std::uint32_t at = tree.keys[parent].firstChild; at != kNoIndex;
         at = tree.keys[at].nextSibling) {
        const TreeKey& key = tree.keys[at];
        if (key.nameHash == nameHash && NamesMatch(key.name, key.nameLength, name, nameLength)) {
            return at;
        }
    }
    return kNoIndex;
}

void IndexValue(KeyTree* tree, std::uint32_t value) {
    AddToIndex(&tree->valueIndex, ValueHash(tree->values[value]), value);
}

// Indexes the new value of key, or all of its values once it has too many to scan.
void IndexNewValue(KeyTree* tree, std::uint32_t key, std::uint32_t value) {
    const std::uint32_t records = tree->keys[key].valueRecords;
    if (records == kListedValueLimit + 1) {
        for (std::uint32_t at = tree->keys[key].firstValue; at != kNoIndex;
             at = tree->values[at].next) {
            IndexValue(tree, at);
        }
    } else if (records > kListedValueLimit + 1) {
        IndexValue(tree, value);
    }
}

std::uint32_t FindChildInIndex(const KeyTree& tree, std::uint32_t parent, const char16_t* name,
                               std::size_t nameLength, std::uint32_t nameHash) {
    const NameIndex& index = tree.keyIndex;
    if (index.slots.empty()) {
        return kNoIndex;
    }
    const std::uint32_t hash = ChildHash(parent, nameHash);
    std::size_t slot = FirstProbeSlot(index, hash);
    for (std::uint32_t found = NextHashMatch(index, hash, &slot); found != kNoIndex;
         found = NextHashMatch(index, hash, &slot)) {
        const TreeKey& key = tree.keys[found];
        if (key.live && key.parent == parent &&
            NamesMatch(key.name, key.nameLength, name, nameLength)) {
            return found;
        }
    }
    return kNoIndex;
}

// The child while loading, by the short list or by the index.
std::uint32_t FindLoadingChild(const KeyTree& tree, std::uint32_t parent, const char16_t* name,
                               std::size_t nameLength, std::uint32_t nameHash) {
    if (tree.keys[parent].childRecords <= kListedChildLimit) {
        return FindChildInList(tree, parent, name, nameLength, nameHash);
    }
    return FindChildInIndex(tree, parent, name, nameLength, nameHash);
}

std::uint32_t FindChildSorted(const KeyTree& tree, std::uint32_t parent, const char16_t* name,
                              std::size_t nameLength) {
    std::uint32_t low = 0;
    std::uint32_t high = tree.keys[parent].childCount;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        const std::uint32_t child = tree.sortedChildren[tree.keys[parent].childStart + middle];
        const TreeKey& key = tree.keys[child];
        const int order = CompareNamesIgnoringCase(key.name, key.nameLength, name, nameLength);
        if (order == 0) {
            return child;
        }
        if (order < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return kNoIndex;
}

std::uint32_t FindValueInIndex(const KeyTree& tree, std::uint32_t key, const char16_t* name,
                               std::size_t nameLength) {
    const NameIndex& index = tree.valueIndex;
    if (index.slots.empty()) {
        return kNoIndex;
    }
    const std::uint32_t hash = HashNameIgnoringCase(OwnerSeed(key), name, nameLength);
    std::size_t slot = FirstProbeSlot(index, hash);
    for (std::uint32_t found = NextHashMatch(index, hash, &slot); found != kNoIndex;
         found = NextHashMatch(index, hash, &slot)) {
        const TreeValue& value = tree.values[found];
        if (value.live && value.key == key &&
            NamesMatch(value.name, value.nameLength, name, nameLength)) {
            return found;
        }
    }
    return kNoIndex;
}

std::uint32_t FindValueInList(const KeyTree& tree, std::uint32_t key, const char16_t* name,
                              std::size_t nameLength) {
    for (std::uint32_t at = tree.keys[key].firstValue; at != kNoIndex; at = tree.values[at].next) {
        const TreeValue& value = tree.values[at];
        if (value.live && NamesMatch(value.name, value.nameLength, name, nameLength)) {
            return at;
        }
    }
    return kNoIndex;
}

TreeKey NewKey(const char16_t* name, std::size_t nameLength, std::uint32_t parent) {
    TreeKey key;
    key.name = name;
    key.nameLength = static_cast<std::uint32_t>(nameLength);
    key.nameHash = 0;
    key.parent = parent;
    key.firstChild = kNoIndex;
    key.nextSibling = kNoIndex;
    key.childStart = 0;
    key.childCount = 0;
    key.childRecords = 0;
    key.childrenUnsorted = false;
    key.firstValue = kNoIndex;
    key.lastValue = kNoIndex;
    key.valueCount = 0;
    key.valueRecords = 0;
    key.newValueAt = kNoOffset;
    key.live = true;
    return key;
}

void UnlinkChild(KeyTree* tree, std::uint32_t parent, std::uint32_t child) {
    std::uint32_t* link = &tree->keys[parent].firstChild;
    while (*link != kNoIndex && *link != child) {
        link = &tree->keys[*link].nextSibling;
    }
    if (*link == child) {
        *link = tree->keys[child].nextSibling;
    }
}

// One key's place among its siblings, in subkey order.
struct ChildOrder {
    const char16_t* name;
    std::uint32_t nameLength;
    std::uint32_t key;
};

bool operator<(const ChildOrder& a, const ChildOrder& b) {
    return CompareNamesIgnoringCase(a.name, a.nameLength, b.name, b.nameLength) < 0;
}

// Sorts a key's children, laid out in the order of creation, when that order was not right.
void SortChildren(KeyTree* tree, std::uint32_t key, std::vector<ChildOrder>* scratch) {
    const TreeKey& parent = tree->keys[key];
    const std::size_t start = parent.childStart;
    const std::size_t end = start + parent.childCount;
    scratch->clear();
    for (std::size_t at = start; at < end; ++at) {
        const TreeKey& child = tree->keys[tree->sortedChildren[at]];
        scratch->push_back(ChildOrder{child.name, child.nameLength, tree->sortedChildren[at]});
    }
    std::sort(scratch->begin(), scratch->end());
    for (std::size_t at = start; at < end; ++at) {
        tree->sortedChildren[at] = (*scratch)[at - start].key;
    }
}

std::uint32_t Shifted(std::uint32_t offset, std::uint32_t start, std::uint32_t end,
                      std::int64_t delta) {
    if (offset == kNoOffset || offset <= start || offset < end) {
        return offset;
    }
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(offset) + delta);
}

} // namespace

void InitKeyTree(KeyTree* tree) {
    tree->keys.clear();
    tree->unsortedParents.clear();
    tree->values.clear();
    tree->sortedChildren.clear();
    tree->arena.blocks.clear();
    tree->arena.used = 0;
    tree->keyIndex.slots.clear();
    tree->keyIndex.used = 0;
    tree->valueIndex.slots.clear();
    tree->valueIndex.used = 0;
    tree->finished = false;
    tree->keys.push_back(NewKey(nullptr, 0, kNoIndex));
}

std::uint32_t AddChildKey(KeyTree* tree, std::uint32_t parent, const char16_t* name,
                          std::size_t nameLength) {
    const std::uint32_t nameHash = HashNameIgnoringCase(0, name, nameLength);
    const std::uint32_t found = FindLoadingChild(*tree, parent, name, nameLength, nameHash);
    if (found != kNoIndex) {
        return found;
    }
    const std::uint32_t key = static_cast<std::uint32_t>(tree->keys.size());
    tree->keys.push_back(NewKey(ArenaCopyName(&tree->arena, name, nameLength), nameLength, parent));
    tree->keys[key].nameHash = nameHash;
    const std::uint32_t newest = tree->keys[parent].firstChild;
    // Exports list subkeys in order; noting here, while both are in cache, whether this one
    // keeps the order spares a pass over all names when the tree is finished.
    if (newest != kNoIndex && !tree->keys[parent].childrenUnsorted &&
        CompareNamesIgnoringCase(tree->keys[newest].name, tree->keys[newest].nameLength, name,
                                 nameLength) > 0) {
        tree->keys[parent].childrenUnsorted = true;
        tree->unsortedParents.push_back(parent);
    }
    ++tree->keys[parent].childCount;
    tree->keys[key].nextSibling = tree->keys[parent].firstChild;
    tree->keys[parent].firstChild = key;
    ++tree->keys[parent].childRecords;
    IndexNewChild(tree, parent, key);
    return key;
}

std::uint32_t FindChildKey(const KeyTree& tree, std::uint32_t parent, const char16_t* name,
                           std::size_t nameLength) {
    if (tree.finished) {
        return FindChildSorted(tree, parent, name, nameLength);
    }
    return FindLoadingChild(tree, parent, name, nameLength,
                            HashNameIgnoringCase(0, name, nameLength));
}

void DeleteKey(KeyTree* tree, std::uint32_t key) {
    UnlinkChild(tree, tree->keys[key].parent, key);
    --tree->keys[tree->keys[key].parent].childCount;
    std::vector<std::uint32_t> pending(1, key);
    while (!pending.empty()) {
        const std::uint32_t at = pending.back();
        pending.pop_back();
        tree->keys[at].live = false;
        for (std::uint32_t child = tree->keys[at].firstChild; child != kNoIndex;
             child = tree->keys[child].nextSibling) {
            pending.push_back(child);
        }
    }
}

std::uint32_t FindValue(const KeyTree& tree, std::uint32_t key, const char16_t* name,
                        std::size_t nameLength) {
    if (tree.finished || tree.keys[key].valueRecords <= kListedValueLimit) {
        return FindValueInList(tree, key, name, nameLength);
    }
    return FindValueInIndex(tree, key, name, nameLength);
}

std::uint32_t SetValueSpace(KeyTree* tree, std::uint32_t key, const char16_t* name,
                            std::size_t nameLength, std::uint32_t type, std::size_t dataLength,
                            unsigned char** place) {
    std::uint32_t value = FindValue(*tree, key, name, nameLength);
    if (value == kNoIndex) {
        value = static_cast<std::uint32_t>(tree->values.size());
        TreeValue added;
        added.name = ArenaCopyName(&tree->arena, name, nameLength);
        added.nameLength = static_cast<std::uint32_t>(nameLength);
        added.key = key;
        added.next = kNoIndex;
        added.sourceStart = kNoOffset;
        added.sourceEnd = kNoOffset;
        added.live = true;
        tree->values.push_back(added);
        TreeKey& owner = tree->keys[key];
        if (owner.lastValue == kNoIndex) {
            owner.firstValue = value;
        } else {
            tree->values[owner.lastValue].next = value;
        }
        owner.lastValue = value;
        ++owner.valueCount;
        ++owner.valueRecords;
        if (!tree->finished) {
            IndexNewValue(tree, key, value);
        }
    }
    TreeValue& target = tree->values[value];
    target.type = type;
    *place = ArenaCopy(&tree->arena, nullptr, dataLength);
    target.data = *place;
    target.dataLength = static_cast<std::uint32_t>(dataLength);
    return value;
}

std::uint32_t SetValue(KeyTree* tree, std::uint32_t key, const char16_t* name,
                       std::size_t nameLength, std::uint32_t type, const unsigned char* data,
                       std::size_t dataLength) {
    unsigned char* place = nullptr;
    const std::uint32_t value =
        SetValueSpace(tree, key, name, nameLength, type, dataLength, &place);
    if (dataLength != 0) {
        std::memcpy(place, data, dataLength);
    }
    return value;
}

void DeleteValue(KeyTree* tree, std::uint32_t value) {
    tree->values[value].live = false;
    --tree->keys[tree->values[value].key].valueCount;
}

void FinishKeyTree(KeyTree* tree) {
    // Two passes over the keys in order of creation, which read each record once, rather than
    // walks of the sibling lists, which would miss the cache at every step.
    std::uint32_t next = 0;
    for (TreeKey& key : tree->keys) {
        key.childStart = next;
        next += key.live ? key.childCount : 0;
        key.childCount = 0;
    }
    tree->sortedChildren.assign(next, kNoIndex);
    const std::uint32_t count = static_cast<std::uint32_t>(tree->keys.size());
    for (std::uint32_t key = 1; key < count; ++key) {
        if (tree->keys[key].live) {
            TreeKey& parent = tree->keys[tree->keys[key].parent];
            tree->sortedChildren[parent.childStart + parent.childCount++] = key;
        }
    }
    std::vector<ChildOrder> scratch;
    for (std::uint32_t key : tree->unsortedParents) {
        if (tree->keys[key].live) {
            SortChildren(tree, key, &scratch);
        }
    }
    std::vector<std::uint32_t>().swap(tree->unsortedParents);
    // The indexes are only needed while loading; a finished tree searches its sorted children.
    std::vector<std::uint64_t>().swap(tree->keyIndex.slots);
    std::vector<std::uint64_t>().swap(tree->valueIndex.slots);
    tree->keyIndex.used = 0;
    tree->valueIndex.used = 0;
    tree->finished = true;
}

std::uint32_t ChildKeyAt(const KeyTree& tree, std::uint32_t key, std::uint32_t index) {
    const TreeKey& parent = tree.keys[key];
    return index < parent.childCount ? tree.sortedChildren[parent.childStart + index] : kNoIndex;
}

void ShiftSourceOffsets(KeyTree* tree, std::uint32_t start, std::uint32_t end, std::int64_t delta) {
    for (TreeKey& key : tree->keys) {
        key.newValueAt = Shifted(key.newValueAt, start, end, delta);
    }
    for (TreeValue& value : tree->values) {
        value.sourceStart = Shifted(value.sourceStart, start, end, delta);
        value.sourceEnd = Shifted(value.sourceEnd, start, end, delta);
    }
}
