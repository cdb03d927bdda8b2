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

DWORD StorableMembersManager::LoadProgramSettings(HostWindow hWnd,
                                                  std::shared_ptr<ProgramSettingsDatabase> &database) {
    DWORD result = 0;
    if (!database)
        return result;
    for (size_t i = 0; i < mMembers.size() && result == 0; ++i)
        if (mMembers[i] != nullptr)
            result = mMembers[i]->LoadProgramSettings(hWnd, database);
    return result;
}

DWORD StorableMembersManager::SaveProgramSettings(HostWindow hWnd,
                                                  std::shared_ptr<ProgramSettingsDatabase> &database) {
    DWORD result = 0;
    if (!database)
        return result;
    for (size_t i = 0; i < mMembers.size() && result == 0; ++i)
        if (mMembers[i] != nullptr)
            result = mMembers[i]->SaveProgramSettings(hWnd, database);
    return result;
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
