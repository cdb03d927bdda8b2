// Storable members and their manager: load and save in registration order, one note record per
// member.
#include "core/StorableMembers.h"

#include "core/ProgramSettingsDatabase.h"
#include "core/StringUtils.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"

void StorableMembersManager::RegisterMember(SavableLoadableClass *member) {
    mMembers.push_back(member);
}

// Calls the operation on every member in registration order and stops at the first non-zero
// result; an empty database calls no member.
DWORD StorableMembersManager::ForEachMember(
    std::shared_ptr<ProgramSettingsDatabase> &database,
    DWORD (SavableLoadableClass::*operation)(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &),
    HostWindow hWnd) {
    DWORD result = 0;
    if (!database)
        return result;
    for (size_t i = 0; i < mMembers.size() && result == 0; ++i)
        if (mMembers[i] != nullptr)
            result = (mMembers[i]->*operation)(hWnd, database);
    return result;
}

DWORD StorableMembersManager::LoadProgramSettings(HostWindow hWnd,
                                                  std::shared_ptr<ProgramSettingsDatabase> &database) {
    return ForEachMember(database, &SavableLoadableClass::LoadProgramSettings, hWnd);
}

DWORD StorableMembersManager::SaveProgramSettings(HostWindow hWnd,
                                                  std::shared_ptr<ProgramSettingsDatabase> &database) {
    return ForEachMember(database, &SavableLoadableClass::SaveProgramSettings, hWnd);
}

template <typename T>
StorableMemberVariable<T>::StorableMemberVariable(T value, StorableMembersManager &manager, std::string table,
                                                  std::string key)
    : mValue(std::move(value)), mTable(std::move(table)), mKey(std::move(key)) {
    manager.RegisterMember(this);
}

template <typename T>
DWORD StorableMemberVariable<T>::LoadProgramSettings(HostWindow,
                                                     std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (database) {
        database->PushTable(mTable);
        mValue = database->ReadValue(mKey, mValue);
        database->PopTable();
    }
    QuellinEntry entry("StorableMemberVariable",
                       MakeString("LoadProgramSettings(", QuoteString(mTable), ", ", QuoteString(mKey), ")"));
    entry.Log(QuellinLevelNote, QuellinMarkerInput, "Table", mTable, "Key", mKey, QuellinMarkerOutput,
              "Value", mValue);
    return 0;
}

template <typename T>
DWORD StorableMemberVariable<T>::SaveProgramSettings(HostWindow,
                                                     std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (database) {
        database->PushTable(mTable);
        database->WriteValue(mKey, mValue);
        database->PopTable();
    }
    QuellinEntry entry("StorableMemberVariable",
                       MakeString("SaveProgramSettings(", QuoteString(mTable), ", ", QuoteString(mKey), ")"));
    entry.Log(QuellinLevelNote, QuellinMarkerInput, "Table", mTable, "Key", mKey, "Value", mValue);
    return 0;
}

template class StorableMemberVariable<unsigned int>;
template class StorableMemberVariable<std::string>;
