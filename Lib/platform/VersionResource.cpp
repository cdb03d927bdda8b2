// Module version blocks: a shared object has none, so the strings come from a sidecar INI file
// "<module>.version" whose section StringFileInfo holds them.
#include "platform/VersionResource.h"

#include "platform/Profile.h"
#include "platform/Text.h"

#include <utility>
#include <vector>

namespace Platform {

bool ReadVersionStrings(const std::string &modulePath, std::map<std::wstring, std::wstring> &strings) {
    strings.clear();
    if (modulePath.empty())
        return false;
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    if (!ReadProfileSection(L"StringFileInfo", entries, Utf8ToWide(modulePath + ".version")))
        return false;
    for (auto &entry : entries)
        strings.emplace(std::move(entry.first), std::move(entry.second));
    return true;
}

} // namespace Platform
