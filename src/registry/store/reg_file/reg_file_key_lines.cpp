// Key lines: [path] makes a key and every key above it exist, [-path] deletes a key and its
// subtree; a path outside the store's areas is checked but not kept.
#include "registry/store/name_case.h"
#include "registry/store/reg_file/reg_file_parse.h"

#include <cstring>

namespace {

const std::size_t kMaxQuotedInMessage = 64;
// In units of either encoding: a few times the deepest path Windows allows (512 levels of names
// of up to 255 characters, each up to 3 bytes of UTF-8).
const std::size_t kRememberedPathLength = 4 * 512 * (kMaxKeyNameLength + 1);

// The number of the root key of that name in kRootKeyNames, or kRootKeyCount.
std::size_t FindRootName(std::u16string_view name) {
    std::size_t root = 0;
    for (; root < kRootKeyCount; ++root) {
        const char16_t* rootName = kRootKeyNames[root];
        if (NamesMatch(name.data(), name.size(), rootName,
                       std::char_traits<char16_t>::length(rootName))) {
            break;
        }
    }
    return root;
}

// Whether the store keeps the key of a key line's path (split into paths->pathEnds): a key of
// HKEY_LOCAL_MACHINE that lies in an area or above one. When it does not, keptNames is the
// number of its leading names that do name such keys (above an area), which exist all the same.
template <typename Unit>
bool KeptPath(RegLine<Unit>* line, const RegKeyPaths<Unit>& paths, std::size_t start,
              std::size_t root, std::size_t* keptNames) {
    *keptNames = 0;
    if (paths.areas.empty()) {
        return true;
    }
    if (root != 0) {
        return false;
    }
    const std::vector<std::size_t>& ends = paths.pathEnds;
    const std::size_t names = ends.size() - 1;
    for (const std::vector<std::u16string>& area : paths.areas) {
        std::size_t matched = 0;
        while (matched < names && matched < area.size()) {
            const std::u16string_view name = UnitsOf(line, start + ends[matched] + 1,
                                                     start + ends[matched + 1], kMaxKeyNameLength);
            const std::u16string& areaName = area[matched];
            if (!NamesMatch(name.data(), name.size(), areaName.data(), areaName.size())) {
                break;
            }
            ++matched;
        }
        if (matched == names || matched == area.size()) {
            return true;
        }
        *keptNames = std::max(*keptNames, matched);
    }
    return false;
}

// The keys above an area that a key line outside the areas names on its way.
template <typename Unit>
void AddKeysAboveAreas(RegLine<Unit>* line, const RegKeyPaths<Unit>& paths, KeyTree* tree,
                       std::size_t start, std::size_t keptNames) {
    const std::vector<std::size_t>& ends = paths.pathEnds;
    std::uint32_t key = keptNames == 0 ? kNoIndex : AddRootKey(tree, 0);
    for (std::size_t name = 1; name <= keptNames; ++name) {
        const std::u16string_view units =
            UnitsOf(line, start + ends[name - 1] + 1, start + ends[name], kMaxKeyNameLength);
        key = AddChildKey(tree, key, units.data(), units.size());
    }
}

// Notes where a key line outside the areas leaves them: its root and the names down to the
// first one that no area holds.
template <typename Unit>
void NoteKeyOutsideAreas(RegLine<Unit>* line, const RegKeyPaths<Unit>& paths, std::size_t start,
                         std::size_t root, std::size_t keptNames) {
    const std::size_t kMaxNoted = 4;
    if (paths.outside->size() >= kMaxNoted) {
        return;
    }
    const std::vector<std::size_t>& ends = paths.pathEnds;
    std::u16string key = kRootKeyNames[root];
    for (std::size_t name = 1; name < ends.size() && name <= keptNames + 1; ++name) {
        const std::u16string_view units =
            UnitsOf(line, start + ends[name - 1] + 1, start + ends[name], kMaxKeyNameLength);
        key.append(u"\\").append(units.data(), units.size());
    }
    if (std::find(paths.outside->begin(), paths.outside->end(), key) == paths.outside->end()) {
        paths.outside->push_back(key);
    }
}

// The length of the text that a key line's path shares with the previous key line's.
template <typename Unit>
std::size_t SharedPathLength(const RegLine<Unit>& line, const RegKeyPaths<Unit>& paths,
                             std::size_t start, std::size_t close) {
    const Text<Unit> path = line.text.substr(start, close - start);
    const std::basic_string<Unit>& previous = paths.previousPath;
    const std::size_t length = path.size() < previous.size() ? path.size() : previous.size();
    const std::size_t step = sizeof(std::uint64_t) / sizeof(Unit);
    std::size_t common = 0;
    // A word at a time while they match; paths share most of their text.
    for (std::uint64_t mine, theirs; common + step <= length; common += step) {
        std::memcpy(&mine, path.data() + common, sizeof mine);
        std::memcpy(&theirs, previous.data() + common, sizeof theirs);
        if (mine != theirs) {
            break;
        }
    }
    while (common < length && path[common] == previous[common]) {
        ++common;
    }
    return common;
}

// Splits the path of a key line (root first) into paths->pathEnds; a trailing backslash is
// allowed, an empty or overlong name is not. Names that lie within the text the path shares
// with the previous key line's are that line's names, already split and checked.
template <typename Unit>
bool SplitKeyPath(RegLine<Unit>* line, RegKeyPaths<Unit>* paths, std::size_t start,
                  std::size_t close, std::size_t shared) {
    const Text<Unit> text = line->text;
    std::vector<std::size_t>* ends = &paths->pathEnds;
    ends->clear();
    std::size_t pos = start;
    for (std::size_t end : paths->previousEnds) {
        if (end >= shared) {
            break;
        }
        ends->push_back(end);
        pos = start + end + 1;
    }
    for (;; ++pos) {
        std::size_t end = text.find('\\', pos);
        end = end == Text<Unit>::npos || end > close ? close : end;
        if (end == pos && pos == close && !ends->empty()) {
            return true; // a trailing backslash
        }
        if (end == pos && !ends->empty()) {
            return Fail(line, "empty key name in the key path");
        }
        // A UTF-8 name holds no more units than bytes: only a long one needs counting.
        if (!ends->empty() && end - pos > kMaxKeyNameLength &&
            UnitCount(text, pos, end) > kMaxKeyNameLength) {
            return Fail(line, "key name longer than 255 characters");
        }
        ends->push_back(end - start);
        if (end == close) {
            return true;
        }
        pos = end;
    }
}

template <typename Unit>
void ForgetPath(RegKeyPaths<Unit>* paths) {
    paths->previousPath.clear();
    paths->previousEnds.clear();
    paths->previousKeys.clear();
}

// Keeps a key line's path, as split, and its keys (none: they are not kept) for the next key
// line. A path far longer than any Windows allows is not kept: that costs the next line only the
// work it would have saved, and the line no copy of itself.
template <typename Unit>
void RememberPath(const RegLine<Unit>& line, RegKeyPaths<Unit>* paths, std::size_t start,
                  std::size_t close, bool withKeys) {
    if (close - start > kRememberedPathLength) {
        ForgetPath(paths);
        return;
    }
    paths->previousPath.assign(line.text.data() + start, close - start);
    paths->previousEnds = paths->pathEnds;
    if (withKeys) {
        paths->previousKeys = paths->pathKeys;
    } else {
        paths->previousKeys.clear();
    }
}

// Creates the keys of a key line's path. Exports name one key after another below the same
// parents, so the names this path shares with the previous one reuse that one's keys.
template <typename Unit>
std::uint32_t CreateKeyPath(RegLine<Unit>* line, RegKeyPaths<Unit>* paths, KeyTree* tree,
                            std::size_t start, std::size_t close, std::size_t shared,
                            std::uint32_t root) {
    const std::vector<std::size_t>& ends = paths->pathEnds;
    std::vector<std::uint32_t>* keys = &paths->pathKeys;
    const std::size_t known = paths->previousKeys.size(); // none when that line was not kept
    bool reusing = known > 0 && paths->previousKeys[0] == root;
    keys->assign(1, root);
    for (std::size_t name = 1; name < ends.size(); ++name) {
        reusing = reusing && name < known && paths->previousEnds[name] == ends[name] &&
                  ends[name] <= shared;
        if (reusing) {
            keys->push_back(paths->previousKeys[name]);
        } else {
            const std::u16string_view units =
                UnitsOf(line, start + ends[name - 1] + 1, start + ends[name], kMaxKeyNameLength);
            keys->push_back(AddChildKey(tree, keys->back(), units.data(), units.size()));
        }
    }
    RememberPath(*line, paths, start, close, true);
    return keys->back();
}

// [-path]: the key and its subtree go; keys outside the areas are checked but not kept, so
// there is nothing of them to delete.
template <typename Unit>
void DeleteKeyPath(RegLine<Unit>* line, RegKeyPaths<Unit>* paths, RegSection* section,
                   std::size_t start, std::size_t root, bool kept) {
    const std::vector<std::size_t>& ends = paths->pathEnds;
    std::uint32_t key = kept ? AddRootKey(section->tree, root) : kNoIndex;
    for (std::size_t name = 1; name < ends.size() && key != kNoIndex; ++name) {
        const std::u16string_view units =
            UnitsOf(line, start + ends[name - 1] + 1, start + ends[name], kMaxKeyNameLength);
        key = FindChildKey(*section->tree, key, units.data(), units.size());
    }
    if (key != kNoIndex) {
        DeleteKey(section->tree, key);
    }
    section->inSection = false;
    section->currentKey = kNoIndex;
    ForgetPath(paths); // its keys may be gone
}

} // namespace

std::uint32_t AddRootKey(KeyTree* tree, std::size_t root) {
    const char16_t* rootName = kRootKeyNames[root];
    return AddChildKey(tree, kTopKey, rootName, std::char_traits<char16_t>::length(rootName));
}

std::vector<std::vector<std::u16string>> SplitAreas(const std::vector<std::u16string>& areas) {
    std::vector<std::vector<std::u16string>> split;
    for (const std::u16string& area : areas) {
        split.emplace_back();
        for (std::size_t start = 0; start < area.size();) {
            std::size_t end = area.find(u'\\', start);
            end = end == std::u16string::npos ? area.size() : end;
            split.back().push_back(area.substr(start, end - start));
            start = end + 1;
        }
    }
    return split;
}

template <typename Unit>
bool ParseKeyLine(RegLine<Unit>* line, RegKeyPaths<Unit>* paths, RegSection* section,
                  std::size_t at) {
    const Text<Unit> text = line->text;
    const std::size_t close = text.rfind(']');
    if (close == Text<Unit>::npos || close < at) {
        return FailSkippable(line, "key line without a closing ']'");
    }
    if (SkipBlanks(text, close + 1) != text.size()) {
        return Fail(line, "text behind the closing ']' of the key line");
    }
    std::size_t start = at + 1;
    const bool deletion = start < close && text[start] == '-';
    if (deletion) {
        ++start;
    }
    const std::size_t shared = SharedPathLength(*line, *paths, start, close);
    if (!SplitKeyPath(line, paths, start, close, shared)) {
        return false;
    }
    const std::vector<std::size_t>& ends = paths->pathEnds;
    const bool sameRoot = !paths->previousEnds.empty() && ends[0] < shared;
    std::size_t root = paths->previousRoot;
    if (!sameRoot) {
        // Enough of the name for the message; more than any root key's name.
        const std::u16string_view name = UnitsOf(line, start, start + ends[0], kMaxQuotedInMessage);
        root = FindRootName(name);
        if (root == kRootKeyCount) {
            const std::size_t shown = std::min(name.size(), kMaxQuotedInMessage);
            return Fail(line, "unknown root key \"" + Utf8Of(name.data(), shown) + "\"");
        }
    }
    if (deletion && ends.size() == 1) {
        return Fail(line, "a root key cannot be deleted");
    }
    std::size_t keptNames = 0;
    const bool kept = KeptPath(line, *paths, start, root, &keptNames);
    if (deletion) {
        DeleteKeyPath(line, paths, section, start, root, kept);
        return true;
    }
    section->inSection = true;
    paths->previousRoot = root;
    if (!kept) {
        AddKeysAboveAreas(line, *paths, section->tree, start, keptNames);
        NoteKeyOutsideAreas(line, *paths, start, root, keptNames);
        section->currentKey = kNoIndex;
        RememberPath(*line, paths, start, close, false);
        return true;
    }
    const std::uint32_t rootKey = sameRoot && !paths->previousKeys.empty()
                                      ? paths->previousKeys[0]
                                      : AddRootKey(section->tree, root);
    const std::uint32_t key =
        CreateKeyPath(line, paths, section->tree, start, close, shared, rootKey);
    section->currentKey = key;
    section->tree->keys[key].newValueAt = static_cast<std::uint32_t>(line->physical.contentEnd);
    return true;
}

template bool ParseKeyLine(RegLine<char>*, RegKeyPaths<char>*, RegSection*, std::size_t);
template bool ParseKeyLine(RegLine<char16_t>*, RegKeyPaths<char16_t>*, RegSection*, std::size_t);
