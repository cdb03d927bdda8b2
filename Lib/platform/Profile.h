// INI files with the rules of the Windows profile API.
//
// Sections and keys are matched case-insensitively, the first occurrence wins, values are
// trimmed and one pair of enclosing quotes is stripped. Writes create file, section and key,
// replace a value in place, keep comments, foreign sections and every unchanged line byte for byte,
// and replace the file atomically under a process mutex and flock (through a symbolic link, its
// target). Files are UTF-8; LF and CRLF are read; only regular files up to 16 MB are read. A file
// name without a directory is relative to the current directory.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Platform {

// Copies the value (or the default when the file, section or key is missing) into buffer, cut to
// size - 1 characters and terminated; returns the count copied. A null or zero-sized buffer gets
// nothing and returns 0. A null default counts as "".
// A default loses its trailing blanks. A null section lists the section names, a null key the key
// names of the section (lines with "=" only): each name
// ends with a NUL and the list with a second one; a list cut to fit ends with two NULs and
// returns size - 2.
uint32_t GetPrivateProfileString(const wchar_t *section, const wchar_t *key, const wchar_t *defaultValue,
                                 wchar_t *buffer, uint32_t size, const wchar_t *fileName);

// Writes the value. A null value deletes the key; a null key deletes the section. False when the
// file cannot be written (errno tells why), and (EINVAL) for a null section or file name and for
// a text that could not be read back as written: a line break anywhere, "]" in the section, "="
// in the key, a key that is empty or starts with "[" or ";".
bool WritePrivateProfileString(const wchar_t *section, const wchar_t *key, const wchar_t *value,
                               const wchar_t *fileName);

// True when the file exists but is not read: no regular file, larger than 16 MB, or not
// readable. A missing file is not refused (its reads give the defaults).
bool IsProfileFileRefused(const wchar_t *fileName);

// Convenience forms over std::wstring.
std::wstring ReadProfileString(const std::wstring &section, const std::wstring &key,
                               const std::wstring &defaultValue, const std::wstring &fileName);

// True when the file holds the key in the section; value gets it (trimmed, quotes stripped).
bool FindProfileString(const std::wstring &section, const std::wstring &key, std::wstring &value,
                       const std::wstring &fileName);

// Every key of the section with its value, in file order (the first occurrence of each key).
// False when the file or the section is missing.
bool ReadProfileSection(const std::wstring &section,
                        std::vector<std::pair<std::wstring, std::wstring>> &entries,
                        const std::wstring &fileName);

} // namespace Platform
