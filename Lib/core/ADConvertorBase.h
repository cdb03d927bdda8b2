// The typed base of every AD converter (detector reader) driver: GetValue identifiers 750, 751
// and 752 become the channel operations that a concrete driver overrides, and every other
// identifier goes to DeviceDriverBase. RAWControl keeps the driver's use-RAW-value option in the
// settings and, when the settings ask for it, offers its configuration page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/DeviceDriverBase.h"

class wxPanel;

namespace ValueID {
constexpr DWORD GetChannelValue = 750;    // Data1 -> uint32_t channel, Data2 -> float value
constexpr DWORD GetChannelMaxValue = 751; // Data1 -> uint32_t channel, Data2 -> float maximum
constexpr DWORD GetChannelCount = 752;    // Data1 -> uint32_t count
} // namespace ValueID

class RAWControl {
public:
    RAWControl(bool bUseRAW, bool bShowRAWControl, std::string sTableName, std::string sKeyName,
               std::string sPageTitle);
    virtual ~RAWControl();

    // Reads both flags from the table (their current values as defaults); 0, also without a
    // database.
    virtual DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database);
    // Writes both flags; 0, also without a database.
    virtual DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database);
    // Adds the page "RAWControlConfigurationPanel" while the show-page flag is set; 0.
    virtual DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels);

    bool GetUseRAW() const { return mbUseRAW; }
    void SetUseRAW(bool bUseRAW) { mbUseRAW = bUseRAW; }

    static constexpr const char *ShowRAWControlKey = "ShowRAWControl";
    static constexpr const char *PanelResourceNameText = "RAWControlConfigurationPanel";

private:
    // A new RAWControlConfigPanel that edits this control (the caller's list takes it over).
    wxPanel *CreateConfigPanel();

    std::string msTableName;
    std::string msKeyName;
    std::string msPageTitle;
    bool mbUseRAW;
    bool mbShowRAWControl;
};

class ADConvertorBase : public virtual DeviceDriverBase, public RAWControl {
public:
    ADConvertorBase();
    ~ADConvertorBase() override;

    // RAWControl first, then DeviceDriverBase; the DeviceDriverBase result when non-zero.
    DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;

    // Channel operations. The channel number is passed on unchecked: the driver gives it a meaning.
    virtual DWORD GetChannelValue(HostWindow hWnd, uint32_t *pdwChannel, float *pfValue);
    virtual DWORD GetChannelMaxValue(HostWindow hWnd, uint32_t *pdwChannel, float *pfMaxValue);
    virtual DWORD GetChannelCount(HostWindow hWnd, uint32_t *pdwCount);
    virtual void SetChannelCount(DWORD dwCount);
    virtual DWORD GetChannelCountValue();

    DWORD ShowConfigurationDialogUnavailable(HostWindow hWnd) override;
    DWORD SetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2) override;
    DWORD GetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2) override;

private:
    DWORD mdwChannelCount = 8;
};
