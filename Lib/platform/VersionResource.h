// Module version blocks. A shared object has none; a stand-in library may carry a sidecar
// "<library>.version" (INI, section StringFileInfo) that is read instead.
#pragma once

#include <map>
#include <string>

namespace Platform {

// False when the file has no version block. Keys are the StringFileInfo names
// ("FileVersion", "ProductName", ...).
bool ReadVersionStrings(const std::string &modulePath, std::map<std::wstring, std::wstring> &strings);

} // namespace Platform
