// NI488GPIBConfiguration: where a GPIB instrument is (board, primary and secondary address) and how
// it is opened (bus delay "Wait" in microseconds, device clear, readdressing), stored in the
// settings table "GPIB" (or the caller's table); its identifier "GPIB:b,p,s" names shared streams
// and their lock. NI488GPIBConfigurationDialog is the page "GPIBConfiguration" that edits one.
#pragma once

#include <memory>
#include <string>

#include <wx/event.h>

#include "core/EnumClass.h"
#include "platform/HostTypes.h"
#include "ui/ValidatorBasedPanel.h"

class ProgramSettingsDatabase;

class NI488GPIBConfiguration {
public:
    NI488GPIBConfiguration(int nBoard, int nPrimaryAddress, int nSecondaryAddress);
    virtual ~NI488GPIBConfiguration();

    virtual DWORD GetWait() const;
    virtual void SetWait(DWORD dwWait);
    // Reads the keys of the table ("GPIB" when empty), each with the current value as default.
    virtual DWORD LoadProgramSettings(HostWindow context, std::shared_ptr<ProgramSettingsDatabase> &database,
                                      const std::string &sTable);
    virtual DWORD SaveProgramSettings(HostWindow context, std::shared_ptr<ProgramSettingsDatabase> &database,
                                      const std::string &sTable);
    // "GPIB:%d,%d,%d" with board, primary and secondary address.
    virtual std::string GetIdentifier() const;
    // True when the primary address is not 0.
    virtual bool IsValid() const;
    // The Wait that a load gives when the settings hold 0.
    virtual void SetForcedWait(DWORD dwWait);

    // Board, addresses, Wait (through the virtual accessors), Clear and Readdress.
    void CopyFrom(const NI488GPIBConfiguration &other);

    void SetAddress(int nBoard, int nPrimaryAddress, int nSecondaryAddress);
    GPIBBoardNumbers GetBoard() const { return static_cast<GPIBBoardNumbers>(mnBoard); }
    void SetBoard(int nBoard) { mnBoard = nBoard; }
    int GetPrimaryAddress() const { return mnPrimaryAddress; }
    void SetPrimaryAddress(int nAddress) { mnPrimaryAddress = nAddress; }
    int GetSecondaryAddress() const { return mnSecondaryAddress; }
    void SetSecondaryAddress(int nAddress) { mnSecondaryAddress = nAddress; }
    bool GetClearDevice() const { return mbClear; }
    void SetClearDevice(bool bClear) { mbClear = bClear; }
    bool GetReaddress() const { return mbReaddress; }
    void SetReaddress(bool bReaddress) { mbReaddress = bReaddress; }
    DWORD GetForcedWait() const { return mdwDefaultWait; }

    static constexpr const char *DefaultTable = "GPIB";

private:
    int mnBoard;
    int mnPrimaryAddress;
    int mnSecondaryAddress;
    DWORD mdwDefaultWait = 0;
    DWORD mdwWait = 0;
    bool mbClear = true;
    bool mbReaddress = true;
};

class NI488GPIBConfigurationDialog : public ValidatorBasedPanel {
public:
    // The configuration is not owned; it outlives the page.
    explicit NI488GPIBConfigurationDialog(NI488GPIBConfiguration *pConfiguration);

    void OnInitDialog(wxInitDialogEvent &event);
    void OnCheck(wxCommandEvent &event);
    // Enables or disables the group "ID_ENABLEDISABLEITEM" that holds the advanced controls.
    void EnableAdvancedItems(bool bEnable);

    NI488GPIBConfiguration *GetConfiguration() const { return mConfiguration; }

    static constexpr const char *ResourceName = "GPIBConfiguration";
    static constexpr const char *AdvancedCheckBox = "chkAdvancedConfiguration";
    static constexpr const char *AdvancedGroup = "ID_ENABLEDISABLEITEM";

private:
    NI488GPIBConfiguration *mConfiguration;

    wxDECLARE_EVENT_TABLE();
};
