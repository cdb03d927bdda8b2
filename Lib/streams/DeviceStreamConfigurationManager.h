// The stream configuration manager of a driver's stream client: one configuration per stream kind
// the driver supports, keyed by kind id, and the selected kind. It loads and saves them below the
// table "Stream Config" of the driver's settings ("Selected", "DefaultStreamConfigurationLoaded";
// each configuration nests its own tables below, as "Stream Config.Ethernet"), finds or creates the
// stream of the selected configuration (shared between drivers of equal configurations when asked),
// shows the configuration dialogs, adds the "Communication" page and gives the texts of the stream
// codes 0x30001F40 to 0x30001F46.
//
// Older GPIB and RS-232 settings kept outside the streams are converted by the legacy operations;
// with no older settings present they change nothing.
#pragma once

#include <map>
#include <memory>
#include <string>

#include <wx/event.h>
#include <wx/panel.h>

#include "core/PanelResourceName.h"
#include "core/ProgramSettingsDatabase.h"
#include "platform/HostTypes.h"
#include "streams/DeviceStreamConfiguration.h"

class NI488GPIBConfiguration;
class RS232Configuration;

// Texts of the stream codes (StreamResult) that the manager answers.
namespace StreamManagerText {
constexpr const char *CannotCreateStream = "Can not create requested device stream.";
constexpr const char *StreamNotConnected = "Device stream is not connected.";
constexpr const char *StreamNotLocked = "Device stream is not locked.";
constexpr const char *StreamNotCreated = "Requested device stream not created.";
constexpr const char *InvalidConfigurationObject = "Invalid Configuration object created.";
constexpr const char *CouldNotSetValue = "Could not set value in device";
} // namespace StreamManagerText

class DeviceStreamConfigurationManager;

// The manager's settings at one moment (the default-configuration flag, the selection and each
// configuration's own settings), to be put back as they were.
class DeviceStreamSettingsSnapshot {
public:
    explicit DeviceStreamSettingsSnapshot(DeviceStreamConfigurationManager &manager);
    void Restore();

private:
    DeviceStreamConfigurationManager &mManager;
    bool mbDefaultStreamConfigurationLoaded;
    std::string msSelected;
    std::shared_ptr<ProgramSettingsDatabase> mSettings;
};

class DeviceStreamConfigurationManager {
public:
    using ConfigurationMap = std::map<std::string, std::shared_ptr<DeviceStreamConfiguration>>;

    static constexpr const char *TableName = "Stream Config";
    static constexpr const char *SelectedKey = "Selected";
    static constexpr const char *DefaultLoadedKey = "DefaultStreamConfigurationLoaded";
    static constexpr const char *PageResourceName = "dlgDeviceStreamConfigurationCompact";
    static constexpr const char *PageTitle = "Communication";
    static constexpr DWORD NoLegacySelection = 255;

    DeviceStreamConfigurationManager();
    virtual ~DeviceStreamConfigurationManager();
    DeviceStreamConfigurationManager(const DeviceStreamConfigurationManager &) = delete;
    DeviceStreamConfigurationManager &operator=(const DeviceStreamConfigurationManager &) = delete;

    virtual void SetDefaultStreamConfigurationLoaded(bool bLoaded);
    virtual bool GetDefaultStreamConfigurationLoaded();
    virtual DWORD LoadConfiguration(std::shared_ptr<ProgramSettingsDatabase> &database);
    virtual DWORD SaveConfiguration(std::shared_ptr<ProgramSettingsDatabase> &database);
    // Older GPIB/RS-232 settings; with none present they change nothing and return 0.
    virtual DWORD LoadLegacyConfiguration(std::shared_ptr<ProgramSettingsDatabase> &database,
                                          const std::string &sTablePrefix);
    virtual DWORD SaveLegacyConfiguration(std::shared_ptr<ProgramSettingsDatabase> &database,
                                          const std::string &sTablePrefix);
    // One configuration: its own dialog; several: the "Communication" page as a dialog.
    virtual DWORD ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle);
    // The "Communication" page; 0. The page takes the settings kept by KeepSettingsUntilStored.
    virtual DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels);
    // Keeps the settings as they are now for the "Communication" page added next, which puts them
    // back unless its dialog stores: a dialog refused or cancelled leaves what the driver's
    // defaults changed before it as it was.
    void KeepSettingsUntilStored();
    // Texts of 0x30001F40-0x30001F44 and 0x30001F46; while a configuration is selected VISA's texts
    // (a VISA session of library preference 1) and the selected kind's own; then the plain texts of
    // the shared stream codes; then the texts of the other kinds the driver supports. Written only
    // when no text was written yet. 0.
    virtual DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                 uint32_t *pdwRead);
    virtual DWORD SetGPIBConfiguration(const NI488GPIBConfiguration &configuration);
    virtual DWORD SetRS232Configuration(const RS232Configuration &configuration);

    // The kinds separated by ";" (empty items dropped); an empty list gives every registered kind.
    // Kinds without a configuration creator are skipped.
    void SetSupportedStreams(const std::string &sList);
    std::shared_ptr<DeviceStreamConfiguration> FindConfiguration(const std::string &sKind) const;
    // The configuration of the selected kind, or of the default kind while none is selected.
    std::shared_ptr<DeviceStreamConfiguration> GetSelectedConfiguration() const;
    // The stream of the selected configuration: with bShare the stream of an equal configuration
    // when one is open, else a new one (bCreated). No stream and 0 when nothing is selected.
    DWORD GetSelectedDeviceStream(std::shared_ptr<WriteReadDeviceStream> &stream, bool bShare,
                                  bool &bCreated);
    // The selected configuration's own dialog.
    DWORD ConfigureSelectedStream(HostWindow hWnd, const std::wstring &sTitle);
    bool IsInVisaErrorOrWarningRange(DWORD dwErr) const;

    const ConfigurationMap &GetConfigurations() const { return mConfigurations; }
    std::string GetSelected() const { return msSelected; }
    void SetSelected(const std::string &sSelected) { msSelected = sSelected; }
    std::string GetDefaultKind() const { return msDefaultKind; }
    void SetDefaultKind(const std::string &sDefaultKind) { msDefaultKind = sDefaultKind; }
    DWORD GetLegacySelector() const { return mdwLegacySelector; }
    void SetLegacySelector(DWORD dwSelector) { mdwLegacySelector = dwSelector; }

protected:
    // The fallbacks when the selected kind has no configuration.
    void ResolveSelection();

    ConfigurationMap mConfigurations;
    std::string msSelected;
    std::string msDefaultKind;
    DWORD mdwLegacySelector = NoLegacySelection;
    bool mbDefaultStreamConfigurationLoaded = false;
    std::unique_ptr<DeviceStreamSettingsSnapshot> mKeptSettings;
};

// The "Communication" page: the book "wxID_StreamList" with one page per configuration, titled
// with its kind id; the selected page names the selected kind. When a kind's page did not load,
// the selection is not the person's choice between every kind and is not stored. Settings given
// to it are put back when it goes without having stored.
class DeviceStreamConfigurationManagerConfigurationPanel : public wxPanel {
public:
    static constexpr const char *StreamListControl = "wxID_StreamList";

    explicit DeviceStreamConfigurationManagerConfigurationPanel(
        DeviceStreamConfigurationManager *manager,
        std::unique_ptr<DeviceStreamSettingsSnapshot> restoreUnlessStored = nullptr);
    ~DeviceStreamConfigurationManagerConfigurationPanel() override;

    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;
    bool Validate() override;

private:
    void OnInitDialog(wxInitDialogEvent &event);

    DeviceStreamConfigurationManager *mManager;
    bool mbEveryKindShown = false;
    std::unique_ptr<DeviceStreamSettingsSnapshot> mRestoreUnlessStored;

    wxDECLARE_EVENT_TABLE();
};
