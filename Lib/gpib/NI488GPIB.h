// NI488GPIB: the driver object of one GPIB instrument. It opens the device (board lookup, address
// check, ibdev, online, lock, readdressing, device clear, local lockout), writes and reads text,
// waits for operation complete with "*OPC?", maps milliseconds onto NI-488.2 time-out codes, reads
// the status byte and the error queue, and turns result codes into texts. The bus calls belong to
// its NI4882MLibrary. Its configuration part's "Wait" is the library's bus delay.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "core/PanelResourceName.h"
#include "core/SavableLoadableClass.h"
#include "gpib/NI488GPIBConfiguration.h"
#include "gpib/NI4882MLibrary.h"

class wxWindow;

class NI488GPIB : public SaveLoadConfigurationConvertor, public NI488GPIBConfiguration {
public:
    NI488GPIB(int nBoard, int nPrimary, int nSecondary);
    ~NI488GPIB() override;
    NI488GPIB(const NI488GPIB &) = delete;
    NI488GPIB &operator=(const NI488GPIB &) = delete;

    // The settings-object slots do nothing here.
    DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;

    virtual DWORD OpenDevice(HostWindow hWnd, int nBoard, int nPrimary, int nSecondary);
    virtual DWORD OpenBoard(HostWindow hWnd, int nBoard);
    virtual DWORD CloseDevice(HostWindow hWnd);
    virtual DWORD ReleaseBoard(HostWindow hWnd);
    virtual DWORD GetIdentificationString(HostWindow hWnd, std::string *reply);
    virtual DWORD ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle);
    virtual DWORD AddConfigurationPanel(wxWindow *parent, PanelResourceNameList &panels);
    virtual DWORD Write(HostWindow hWnd, const std::string &sText, bool bWaitForOPC);
    virtual DWORD SendCommand(HostWindow hWnd, const std::string &sText, bool bWaitForOPC);
    virtual DWORD SaveSendGPIB(HostWindow hWnd, const std::string &sText, bool bWaitForOPC,
                               unsigned long nReadResponseBytes, std::string *response);
    // The code's text with the device's address; the buffer is emptied first. Always 0.
    virtual DWORD GetErrorString(HostWindow hWnd, DWORD code, char *buffer, uint32_t nBufferSize,
                                 uint32_t *read);
    // The language library's text of the code with the address description of the configuration.
    static std::string LanguageErrorText(DWORD code, const NI488GPIBConfiguration &address);
    virtual DWORD EnableHS488(HostWindow hWnd);
    virtual DWORD DisableHS488(HostWindow hWnd);
    virtual DWORD QueryDeviceStatus(HostWindow hWnd, DWORD previous);
    virtual DWORD DrainDeviceErrors(HostWindow hWnd);
    virtual DWORD CheckLastGPIBError(HostWindow hWnd, DWORD result);
    virtual DWORD SetSpecificSystemError(HostWindow hWnd, const std::string &sText);
    // Drops the output the device still holds: a device clear where "Clear" allows one, else reads
    // with a 10 ms time-out until one ends the message or finds nothing, for at most nMilliseconds.
    virtual DWORD DiscardOutput(HostWindow hWnd, unsigned int nMilliseconds);
    // BoardOutOfRange for a board outside 0..3, Argument for a primary address outside 0..30 or a
    // secondary one neither 0 nor 96..126, else 0.
    static DWORD CheckAddress(int nBoard, int nPrimary, int nSecondary);

    // The configuration's "Wait" is the bus delay.
    DWORD GetWait() const override;
    void SetWait(DWORD dwWait) override;
    DWORD LoadProgramSettings(HostWindow context, std::shared_ptr<ProgramSettingsDatabase> &database,
                              const std::string &sTable) override;
    DWORD SaveProgramSettings(HostWindow context, std::shared_ptr<ProgramSettingsDatabase> &database,
                              const std::string &sTable) override;

    // Codes 1 to 17; any other becomes 13 (10 s).
    DWORD SetTimeOutCode(HostWindow hWnd, int nCode);
    // The smallest code from 5 (1 ms) up whose time-out is at least ms; 13 above 1000 s.
    DWORD SetTimeOutMilliseconds(HostWindow hWnd, unsigned int nMilliseconds);
    unsigned int GetTimeOutMilliseconds() const { return mLibrary.GetIOTimeOutMilliseconds(); }
    int GetTimeOutCode() const { return mnTimeOutCode; }
    static unsigned int TimeOutCodeMilliseconds(int nCode);

    // Bus calls passed through CheckLastGPIBError.
    DWORD SendGPIB(HostWindow hWnd, const std::string &sText);
    DWORD ReceiveGPIBString(HostWindow hWnd, std::string *out, long maxLen);
    DWORD AskConfigBoardGPIB(HostWindow hWnd, int nOption, int *pnValue);
    DWORD ClearGPIB(HostWindow hWnd);
    DWORD ConfigDeviceGPIB(HostWindow hWnd, int nOption, int nValue);
    DWORD LockDevice(HostWindow hWnd, unsigned int nWaitMilliseconds);
    DWORD UnLockDevice(HostWindow hWnd);
    // Stores the flag and sets IbcREADDR; switching it off on a device without it is no error.
    DWORD ConfigureReaddress(HostWindow hWnd, bool bReaddress);

    // Used by the next OpenDevice.
    void SetEndOfString(char cCharacter, int nMode) {
        mcEndOfString = cCharacter;
        mnEndOfStringMode = nMode;
    }
    char GetEndOfStringCharacter() const { return mcEndOfString; }
    int GetEndOfStringMode() const { return mnEndOfStringMode; }
    const std::string &GetIdentificationQuery() const { return msIdentificationQuery; }
    void SetIdentificationQuery(const std::string &sQuery) { msIdentificationQuery = sQuery; }
    const std::string &GetSpecificSystemError() const { return msSpecificSystemError; }
    bool IsDeviceOpen() const { return mLibrary.IsDeviceOpen(); }
    NI4882MLibrary &GetLibrary() { return mLibrary; }

    static constexpr const char *ConfigurationResource = "GPIBConfiguration";
    // Language resource of the texts of the GPIB codes and the address descriptions.
    static constexpr DWORD LanguageResource = 573;

protected:
    // Bytes of each read that discards output.
    static constexpr long DiscardReadSize = 1024;
    // A byte count as a read takes it: at most 0x7FFFFFFF.
    static long ReadSize(unsigned long nBytes) {
        return static_cast<long>(std::min<unsigned long>(nBytes, 0x7FFFFFFF));
    }

    NI4882MLibrary mLibrary;

private:
    // Loads the library, closes an open device, finds the board and turns its auto-poll off.
    DWORD PrepareBoard(HostWindow hWnd, int nBoard);

    std::string msIdentificationQuery = "*IDN?";
    char mcEndOfString = 0;
    int mnEndOfStringMode = 0;
    std::string msSpecificSystemError;
    // The service-request handler changes it (and the library's time-out in milliseconds) for a
    // moment on its own thread.
    std::atomic<int> mnTimeOutCode{13};
};
