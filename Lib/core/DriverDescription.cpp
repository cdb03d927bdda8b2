// How a driver presents itself: the description read from the table "Common", the entry into its
// configuration dialog (the pages it offers, or the "cannot be configured" box) and the error box.
#include "core/ResourceWindows.h"
#include "core/DeviceDriverBase.h"

#include <algorithm>
#include <vector>

#include <wx/panel.h>

#include "core/ProgramSettingsDatabase.h"
#include "core/StringUtils.h"
#include "logging/LoggedMessageBox.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"
#include "platform/MessageBox.h"

namespace {

constexpr const wchar_t *ModuleName = L"DeviceDriverBase";
constexpr uint32_t ErrorTextSize = 1024;

} // namespace

std::wstring BuildDriverDescription(const std::wstring &sBrand, const std::wstring &sType,
                                    const std::wstring &sDescription) {
    std::wstring title;
    if (sDescription.find(sBrand) == std::wstring::npos)
        title += TrimDefault(sBrand) + L" ";
    if (sDescription.find(sType) == std::wstring::npos)
        title += TrimDefault(sType) + L" ";
    title += TrimDefault(sDescription);
    return TrimDefault(title);
}

std::wstring DeviceDriverBase::GetDriverDescription() const {
    const std::wstring title = BuildDriverDescription(msBrand, msType, msDescription);
    return title.empty() ? msOwnDescription : title;
}

DWORD DeviceDriverBase::LoadProgramSettings(HostWindow hWnd,
                                            std::shared_ptr<ProgramSettingsDatabase> &database) {
    QuellinEntry entry(ModuleName, L"LoadProgramSettings");
    entry.LogBegin(QuellinLevelNote);
    if (database) {
        database->PushTable("Common");
        msDescription = database->ReadString("Description", msDescription);
        msBrand = database->ReadString("DeviceBrand", msBrand);
        msType = database->ReadString("DeviceType", msType);
        database->PopTable();
        entry.LogEnd(QuellinLevelComplete, QuellinDescription,
                     MakeWString(L"LoadProgramSettings(\"", msDescription, L"\",  \"", msBrand, L"\",  \"",
                                 msType, L"\")"),
                     QuellinMarkerOutput, L"msDescription", msDescription, L"msBrand", msBrand, L"msType",
                     msType);
    } else {
        entry.LogEnd(QuellinLevelWarning, QuellinDescription, L"LoadProgramSettings(\"Didn't load\")");
    }
    return mStorableMembers.LoadProgramSettings(hWnd, database);
}

DWORD DeviceDriverBase::SaveProgramSettings(HostWindow hWnd,
                                            std::shared_ptr<ProgramSettingsDatabase> &database) {
    // The description keys are the user's: read, never written.
    return mStorableMembers.SaveProgramSettings(hWnd, database);
}

DWORD DeviceDriverBase::ShowConfigurationDialog(HostWindow hWnd) {
    QuellinEntry entry(ModuleName, L"ShowConfigurationDialog");
    entry.LogBegin(QuellinLevelNote);
    entry.Log(QuellinLevelNote, QuellinMarkerInput, L"hWnd", hWnd);
    const DWORD result = ShowTabbedConfigurationDialog(hWnd);
    entry.LogEnd(ResultSeverityText(result), L"Err", result);
    return result;
}

DWORD DeviceDriverBase::ShowTabbedConfigurationDialog(HostWindow hWnd) {
    QuellinEntry entry(ModuleName, L"ShowTabbedConfigurationDialog");
    entry.LogBegin(QuellinLevelNote);
    entry.Log(QuellinLevelNote, QuellinMarkerInput, L"hWnd", hWnd);

    PanelResourceNameList panels;
    DWORD result = AddConfigurationDialogPanels(hWnd, panels);
    if (result != 0) {
        // Pages collected before the failing step are never shown: nobody else frees them.
        DeleteConfigurationPages(panels);
        entry.LogEnd(ResultSeverityText(result), L"ErrorCode", result);
        return result;
    }
    if (!panels.empty()) {
        const std::wstring title = GetDriverDescription();
        result = ShowConfigurationPages(hWnd, panels, title);
        entry.LogEnd(ResultSeverityText(result), QuellinDescription,
                     MakeWString(L"ShowTabbedConfigurationDialog(\"", title, L"\")"), L"Err", result);
        return result;
    }
    result = ShowConfigurationDialogUnavailable(hWnd);
    entry.LogEnd(QuellinLevelWarning, QuellinDescription,
                 L"ShowTabbedConfigurationDialog(\"DeviceDriver cannot be configured\")", L"Err", result);
    return result;
}

DWORD DeviceDriverBase::ShowConfigurationDialogUnavailable(HostWindow hWnd) {
    QuellinEntry entry(ModuleName, L"ShowConfigurationDialogUnavailable");
    entry.Log(QuellinLevelNote, L"Message", L"Device cannot be configured");
    MessageBoxW(hWnd, L"This Device Driver cannot be configured", GetDriverDescription(),
                Platform::MbIconInformation);
    return 0;
}

void DeviceDriverBase::ShowError(HostWindow hWnd, DWORD dwCode) {
    if (dwCode == 0)
        return;
    char text[ErrorTextSize];
    uint32_t read = 0;
    ClearErrorText(text, ErrorTextSize, &read);
    GetErrorString(hWnd, dwCode, text, ErrorTextSize, &read);
    if (read == 0)
        return;
    if (read >= ErrorTextSize)
        read = ErrorTextSize - 1;
    const std::wstring message = MakeWString(L"Error: ", std::string(text, read), L"\n\nCode: ", dwCode,
                                             L" (hex: 0x", FormatString("%08lx", dwCode), L")");
    MessageBoxW(hWnd, message, GetDriverDescription(), Platform::MbIconError);
}

DWORD ShowConfigurationPages(HostWindow hWnd, const PanelResourceNameList &panels,
                             const std::wstring &title) {
    return ShowTabbedConfigurationPages(hWnd, panels, title);
}
