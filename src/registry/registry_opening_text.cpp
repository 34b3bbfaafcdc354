#include "registry/registry_opening_text.h"

#include "text/utf8.h"

#include <algorithm>
#include <cstddef>

namespace {

const std::size_t kShownOutsideKeys = 3; // the rest of them stand as "..."

std::vector<std::u16string> SplitPath(const std::u16string& path) {
    std::vector<std::u16string> names;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(u'\\', start);
        end = end == std::u16string::npos ? path.size() : end;
        names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::string Utf8(const std::u16string& text) {
    std::string out;
    AppendUtf8(text.data(), text.size(), &out);
    return out;
}

// The names from the first one on, joined again.
std::string JoinFrom(const std::vector<std::u16string>& names, std::size_t first) {
    std::string path;
    for (std::size_t at = first; at < names.size(); ++at) {
        path += (at == first ? "" : "\\") + Utf8(names[at]);
    }
    return path;
}

// "A", "A nor B" or "A, B nor C", each an area's path below the common key.
std::string AreaList(const std::vector<std::string>& areas, const char* last) {
    std::string list;
    for (std::size_t at = 0; at < areas.size(); ++at) {
        list += (at == 0 ? "" : at + 1 == areas.size() ? last : ", ") + areas[at];
    }
    return list;
}

// The number of leading names the areas share, one at least left to each. The areas are the
// program's own key paths, whose shared names are written alike: they are compared as written.
std::size_t CommonLength(const std::vector<std::vector<std::u16string>>& split) {
    std::size_t common = split.empty() ? 0 : split[0].size() - 1;
    for (const std::vector<std::u16string>& names : split) {
        std::size_t shared = 0;
        while (shared < common && shared + 1 < names.size() && names[shared] == split[0][shared]) {
            ++shared;
        }
        common = shared;
    }
    return common;
}

} // namespace

std::string StorePlace(const RegistryOpening& opening) {
    return opening.line == 0 ? opening.path : opening.path + ":" + std::to_string(opening.line);
}

std::string IncompleteText(const RegistryOpening& opening) {
    return "the hive was not shut down cleanly and may be incomplete, as " + opening.incomplete;
}

std::string NotUpToDateText(const RegistryOpening& opening) {
    return "the hive was not shut down cleanly and cannot be brought up to date, as " +
           opening.incomplete + ": start the image once and shut it down cleanly, then run again";
}

std::string MissingAreasText(const RegistryOpening& opening, std::string* key) {
    std::vector<std::vector<std::u16string>> split;
    for (const std::u16string& area : opening.areas) {
        split.push_back(SplitPath(area));
    }
    const std::size_t common = CommonLength(split);
    std::vector<std::string> held;
    std::vector<std::string> missing;
    for (std::size_t at = 0; at < opening.areas.size(); ++at) {
        const bool found = std::find(opening.missingAreas.begin(), opening.missingAreas.end(),
                                     opening.areas[at]) == opening.missingAreas.end();
        (found ? held : missing).push_back(JoinFrom(split[at], common));
    }
    *key = split.empty() ? std::string()
                         : JoinFrom(std::vector<std::u16string>(
                                        split[0].begin(),
                                        split[0].begin() + static_cast<std::ptrdiff_t>(common)),
                                    0);
    if (!held.empty()) {
        return "holds " + AreaList(held, " and ") + " but not " + AreaList(missing, " nor ") +
               " below HKEY_LOCAL_MACHINE\\" + *key;
    }
    std::string text = "holds ";
    text += missing.size() == 1 ? "no " : missing.size() == 2 ? "neither " : "none of ";
    text += AreaList(missing, missing.size() == 2 ? " nor " : ", ") +
            " below HKEY_LOCAL_MACHINE\\" + *key;
    const std::vector<std::u16string>& outside = opening.keysOutside;
    for (std::size_t at = 0; at < outside.size() && at <= kShownOutsideKeys; ++at) {
        text += (at == 0 ? ", but " : ", ") +
                (at == kShownOutsideKeys ? std::string("...") : Utf8(outside[at]));
    }
    return text;
}
