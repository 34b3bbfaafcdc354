#include "registry/store/hive/hive_layout.h"

#include "registry/store/hive/hive_format.h"
#include "registry/store/name_case.h"
#include "registry/store/registry_types.h"

#include <algorithm>
#include <cstring>

namespace {

const char16_t kSystemName[] = u"SYSTEM";
const char16_t kSelectName[] = u"Select";
const char16_t kCurrentName[] = u"Current";
const char16_t kCurrentControlSetName[] = u"CurrentControlSet";

template <std::size_t size>
std::size_t LengthOf(const char16_t (&)[size]) {
    return size - 1;
}

// ControlSet00N: the number with at least three digits.
std::string ControlSetName(std::uint32_t number) {
    std::string digits = std::to_string(number);
    digits.insert(0, digits.size() < 3 ? 3 - digits.size() : 0, '0');
    return "ControlSet" + digits;
}

} // namespace

bool StartsAsHive(const unsigned char* bytes, std::size_t length) {
    return length >= kHiveSignatureLength &&
           std::memcmp(bytes, kHiveSignature, kHiveSignatureLength) == 0;
}

std::uint32_t AddHiveRootKey(KeyTree* tree) {
    const char16_t* machine = kRootKeyNames[0];
    const std::uint32_t localMachine =
        AddChildKey(tree, kTopKey, machine, std::char_traits<char16_t>::length(machine));
    return AddChildKey(tree, localMachine, kSystemName, LengthOf(kSystemName));
}

bool CurrentControlSetName(const KeyTree& tree, std::uint32_t systemKey, std::string* name) {
    const std::uint32_t select = FindChildKey(tree, systemKey, kSelectName, LengthOf(kSelectName));
    const std::uint32_t current =
        select == kNoIndex ? kNoIndex
                           : FindValue(tree, select, kCurrentName, LengthOf(kCurrentName));
    if (current == kNoIndex || tree.values[current].type != REG_DWORD ||
        tree.values[current].dataLength != 4) {
        return false;
    }
    const unsigned char* data = tree.values[current].data;
    *name = ControlSetName(LittleEndianDword(data));
    return true;
}

bool FindCurrentControlSet(const KeyTree& tree, std::uint32_t systemKey, HiveLayout* layout,
                           std::string* what) {
    std::string name;
    if (!CurrentControlSetName(tree, systemKey, &name)) {
        *what = "the hive has no dword Select\\Current to name its current control set";
        return false;
    }
    const std::u16string units(name.begin(), name.end());
    const std::uint32_t controlSet = FindChildKey(tree, systemKey, units.data(), units.size());
    if (controlSet == kNoIndex) {
        *what =
            "the hive has no " + name + ", which Select\\Current names as the current control set";
        return false;
    }
    layout->systemKey = systemKey;
    layout->controlSetKey = controlSet;
    return true;
}

std::uint32_t HiveLinkTarget(const HiveLayout& layout, std::uint32_t key, const char16_t* name,
                             std::size_t nameLength) {
    if (key != layout.systemKey || layout.systemKey == kNoIndex ||
        !NamesMatch(name, nameLength, kCurrentControlSetName, LengthOf(kCurrentControlSetName))) {
        return kNoIndex;
    }
    return layout.controlSetKey;
}

bool HiveKeyPath(const KeyTree& tree, const HiveLayout& layout, std::uint32_t key,
                 std::vector<std::u16string>* names) {
    names->clear();
    for (; key != layout.systemKey; key = tree.keys[key].parent) {
        if (key == kNoIndex || key == kTopKey) {
            return false;
        }
        names->emplace_back(tree.keys[key].name, tree.keys[key].nameLength);
    }
    std::reverse(names->begin(), names->end());
    return true;
}
