// Registry reads from the INI file named by $KORVALIS_REGISTRY: section = hive and key path,
// key = value name, value "dword:<decimal>" for a number, plain text for a string.
#pragma once

#include <cstdint>
#include <string>

namespace Platform {

enum class RegistryResult { Ok, NotFound, WrongType };

RegistryResult ReadRegistryDword(const std::wstring &keyPath, const std::wstring &valueName, uint32_t &value);
// True when the key (the section) exists, with or without values.
bool RegistryKeyExists(const std::wstring &keyPath);
RegistryResult ReadRegistryString(const std::wstring &keyPath, const std::wstring &valueName,
                                  std::wstring &value);

} // namespace Platform
