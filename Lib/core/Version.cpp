// Version texts and the module version-block reader (over the platform's version strings).
#include "core/Version.h"

#include "core/DLLMain.h"
#include "core/NeverDestroyed.h"
#include "core/StringUtils.h"
#include "platform/Text.h"
#include "platform/VersionResource.h"

#include <climits>
#include <map>

namespace {

const char *const Digits = "0123456789";

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// True when the leading run of digits is larger than a component can hold.
bool LeadingNumberTooLarge(const std::string &sText) {
    size_t nBegin = 0;
    while (nBegin < sText.size() && sText[nBegin] == '0')
        ++nBegin;
    size_t nEnd = nBegin;
    while (nEnd < sText.size() && Platform::IsAsciiDigit(sText[nEnd]))
        ++nEnd;
    const std::string sLargest = std::to_string(INT32_MAX);
    const std::string sDigits = sText.substr(nBegin, nEnd - nBegin);
    return sDigits.size() > sLargest.size() || (sDigits.size() == sLargest.size() && sDigits > sLargest);
}

} // namespace

Version::Version() {
    Clear();
}

Version::Version(const std::string &sText) : Version() {
    Parse(sText);
}

Version::~Version() = default;

void Version::Clear() {
    mComponents.fill(0);
    msText.clear();
}

void Version::Parse(const std::string &sText) {
    msText = sText;
    std::string sRest = sText;
    for (int32_t &nComponent : mComponents)
        sRest = ParseComponent(sRest, nComponent);
}

std::string Version::ParseComponent(const std::string &sRest, int32_t &nComponent) {
    nComponent = 0;
    if (sRest.empty())
        return sRest;
    std::string sNext = sRest;
    const char cFirst = sRest[0];
    if (Platform::IsAsciiDigit(cFirst)) {
        // A number beyond the component's range counts as the largest one, so that it still
        // orders above every smaller number.
        nComponent = LeadingNumberTooLarge(sRest) ? INT32_MAX : ParseInt(sRest);
        sNext = TrimLeftWith(sRest, Digits);
    } else if (IsAsciiLetter(cFirst)) {
        nComponent = (cFirst | 0x20) - 'a' + 1;
        const size_t nDot = sRest.find('.');
        sNext = nDot == std::string::npos ? std::string() : sRest.substr(nDot);
    }
    if (!sNext.empty())
        sNext = TrimLeftWith(sNext, ".");
    return sNext;
}

int Version::Compare(const Version &other) const {
    for (size_t i = 0; i < mComponents.size(); ++i) {
        if (mComponents[i] < other.mComponents[i])
            return -1;
        if (mComponents[i] > other.mComponents[i])
            return 1;
    }
    return 0;
}

namespace {
// Never destroyed: a call on another thread may read them while the process exits. Emptied at an
// unload, as the driver table is.
std::vector<std::wstring> &Keys() {
    static NeverDestroyed<std::vector<std::wstring>> keys(std::vector<std::wstring>{
        L"Comments", L"InternalName", L"ProductName", L"CompanyName", L"LegalCopyright", L"ProductVersion",
        L"FileDescription", L"LegalTrademarks", L"PrivateBuild", L"FileVersion", L"OriginalFilename",
        L"SpecialBuild"});
    return keys.Get();
}

void ReleaseKeysAtUnload() {
    if (!DLLProcessIsEnding())
        std::vector<std::wstring>().swap(Keys());
}
const bool gReleaseKeysAtDetach = (AddProcessDetachStep(&ReleaseKeysAtUnload), true);
} // namespace

const std::vector<std::wstring> &Version::VersionKeys() {
    return Keys();
}

bool Version::ReadStrings(const std::wstring &sModulePath, std::vector<std::wstring> &names,
                          std::vector<std::wstring> &values) {
    names = VersionKeys();
    values = names;
    for (size_t i = 0; i < names.size(); ++i) {
        std::wstring sValue;
        if (QueryVersionValue(sModulePath, names[i], sValue))
            values[i] = sValue;
    }
    return true;
}

bool Version::QueryVersionValue(const std::wstring &sModulePath, const std::wstring &sKey,
                                std::wstring &sValue) {
    std::map<std::wstring, std::wstring> strings;
    if (!Platform::ReadVersionStrings(Platform::WideToUtf8(sModulePath), strings))
        return false;
    // Keys of the block are matched without regard to case, as the sidecar is an INI file.
    sValue.clear();
    const std::wstring sWanted = Platform::AsciiUpper(sKey);
    for (const auto &entry : strings)
        if (Platform::AsciiUpper(entry.first) == sWanted) {
            sValue = entry.second;
            break;
        }
    return true;
}
