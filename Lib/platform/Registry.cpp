// Registry reads over the profile engine: the INI file named by $KORVALIS_REGISTRY holds one
// section per key path and one line per value ("dword:<decimal>" or plain text).
#include "platform/Registry.h"

#include "platform/Profile.h"
#include "platform/Text.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace Platform {

namespace {

const std::wstring DwordPrefix = L"dword:";

bool FindRegistryValue(const std::wstring &keyPath, const std::wstring &valueName, std::wstring &value) {
    const char *file = getenv("KORVALIS_REGISTRY");
    if (file == nullptr || *file == '\0')
        return false;
    return FindProfileString(keyPath, valueName, value, Utf8ToWide(file));
}

bool IsDword(const std::wstring &value) {
    return value.size() >= DwordPrefix.size() &&
           AsciiLower(value.substr(0, DwordPrefix.size())) == DwordPrefix;
}

} // namespace

RegistryResult ReadRegistryDword(const std::wstring &keyPath, const std::wstring &valueName,
                                 uint32_t &value) {
    std::wstring text;
    if (!FindRegistryValue(keyPath, valueName, text))
        return RegistryResult::NotFound;
    if (!IsDword(text))
        return RegistryResult::WrongType;
    // Decimal digits only, within 32 bits; anything else cannot be a number's data.
    const std::wstring digits = text.substr(DwordPrefix.size());
    if (digits.empty() || digits.size() > 10)
        return RegistryResult::WrongType;
    uint64_t number = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9')
            return RegistryResult::WrongType;
        number = number * 10 + static_cast<uint64_t>(c - L'0');
    }
    if (number > UINT32_MAX)
        return RegistryResult::WrongType;
    value = static_cast<uint32_t>(number);
    return RegistryResult::Ok;
}

bool RegistryKeyExists(const std::wstring &keyPath) {
    const char *file = getenv("KORVALIS_REGISTRY");
    if (file == nullptr || *file == '\0')
        return false;
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    return ReadProfileSection(keyPath, entries, Utf8ToWide(file));
}

RegistryResult ReadRegistryString(const std::wstring &keyPath, const std::wstring &valueName,
                                  std::wstring &value) {
    std::wstring text;
    if (!FindRegistryValue(keyPath, valueName, text))
        return RegistryResult::NotFound;
    if (IsDword(text))
        return RegistryResult::WrongType;
    value = text;
    return RegistryResult::Ok;
}

} // namespace Platform
