// Settings members that register with a manager when built and are loaded and saved together, in
// the order in which they were built.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/SavableLoadableClass.h"

class StorableMembersManager : public SavableLoadableClass {
public:
    // Not owned: members are destroyed before their manager and never unregister.
    void RegisterMember(SavableLoadableClass *member);
    // Each member in turn until one returns non-zero; that result stops the walk. No database,
    // no member called and 0.
    DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;

private:
    DWORD ForEachMember(std::shared_ptr<ProgramSettingsDatabase> &database,
                        DWORD (SavableLoadableClass::*operation)(HostWindow,
                                                                 std::shared_ptr<ProgramSettingsDatabase> &),
                        HostWindow hWnd);
    std::vector<SavableLoadableClass *> mMembers;
};

// One stored value: T = unsigned int or std::string, at key in the table.
template <typename T> class StorableMemberVariable : public SavableLoadableClass {
public:
    StorableMemberVariable(T value, StorableMembersManager &manager, std::string table, std::string key);

    // The current value is the default: a missing key leaves it unchanged. Always 0.
    DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;

    T GetValue() const { return mValue; }
    void SetValue(T value) { mValue = std::move(value); }
    const std::string &GetTable() const { return mTable; }
    const std::string &GetKey() const { return mKey; }

private:
    T mValue;
    std::string mTable;
    std::string mKey;
};

extern template class StorableMemberVariable<unsigned int>;
extern template class StorableMemberVariable<std::string>;
