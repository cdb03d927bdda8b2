// Version: a dotted version text ("2024.1.1") read into four numbers that compare field by
// field, and the reader of a module file's version block (the name/value pairs of its string
// table), which the call log records for the libraries it loads.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class Version {
public:
    Version();
    explicit Version(const std::string &sText);
    virtual ~Version();

    // All components 0, empty text.
    void Clear();
    // Stores the text and reads the four components from it.
    void Parse(const std::string &sText);
    // Sign of the first unequal component (this against other): -1, 0 or 1. The text plays no part.
    int Compare(const Version &other) const;

    const std::string &GetText() const { return msText; }
    // Component 0 (most significant) to 3.
    int32_t GetComponent(size_t nIndex) const {
        return nIndex < mComponents.size() ? mComponents[nIndex] : 0;
    }

    bool operator<(const Version &other) const { return Compare(other) < 0; }
    bool operator>(const Version &other) const { return Compare(other) > 0; }
    bool operator<=(const Version &other) const { return Compare(other) <= 0; }
    bool operator>=(const Version &other) const { return Compare(other) >= 0; }
    bool operator==(const Version &other) const { return Compare(other) == 0; }
    bool operator!=(const Version &other) const { return Compare(other) != 0; }

    // The twelve keys of a version block, in the order ReadStrings lists them.
    static const std::vector<std::wstring> &VersionKeys();
    // Names become the twelve keys; each value is the key's text in the file's version block, or
    // the key's own name when the file has no block. Always true.
    static bool ReadStrings(const std::wstring &sModulePath, std::vector<std::wstring> &names,
                            std::vector<std::wstring> &values);
    // One key of the file's version block: false when the file has none; a key that the block
    // lacks reads as the empty text.
    static bool QueryVersionValue(const std::wstring &sModulePath, const std::wstring &sKey,
                                  std::wstring &sValue);

private:
    // Reads one component from the front of the rest and returns what follows it.
    static std::string ParseComponent(const std::string &sRest, int32_t &nComponent);

    std::array<int32_t, 4> mComponents;
    std::string msText;
};
