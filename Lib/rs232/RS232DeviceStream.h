// The device stream of kind "RS-232", its configuration and its page, registered under that id.
//
// RS232DeviceStream carries commands and replies over a serial port through an embedded shared
// port driver. Without port sharing the port is opened when the first client connects and closed
// when the last one leaves; with sharing it is opened only for the outermost Lock and closed at
// the matching Unlock, so that other programs and drivers can use it between transactions. A
// write appends the stream's write termination and then the send termination option; a read ends
// at its count, the read termination, CR or LF at a piece's end (NewLineReturnIsEndOfString) or
// the stream's time-out. The stream never chooses the port implementation: the driver's default
// applies (VISA when its library loads, else the serial API).
//
// A read that ends without its answer (nothing, or no line end it looks for: cut by the time-out,
// or by the count while more input comes within the line's gap) makes the stream wary, and so
// does a lock taken over from a holder that died (LateAnswerGuard): while wary, each exchange's
// clearing of the input first drops what still comes until the line is quiet, so that a late
// reply costs at most one answer.
#pragma once

#include <memory>
#include <string>

#include <wx/event.h>

#include "core/EnumClass.h"
#include "rs232/RS232DeviceDriver.h"
#include "streams/DeviceStreamConfiguration.h"
#include "streams/QuietInput.h"
#include "streams/WriteReadMixin.h"
#include "ui/ValidatorBasedPanel.h"

inline constexpr const char *RS232StreamKind = "RS-232";

class RS232DeviceStreamConfiguration : public DeviceStreamConfiguration {
public:
    RS232DeviceStreamConfiguration();
    ~RS232DeviceStreamConfiguration() override;

    // The table "RS232" below the caller's current table.
    DWORD LoadProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) override;
    // The page "RS232StreamConfiguration" as a dialog; the dialog's result.
    DWORD ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) override;
    // The page "RS232StreamConfiguration" titled with the kind id.
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;
    // Kind first, then port, rate, parity, data bits, stop bits, terminations, the new-line flag,
    // RTS around write, RTS enable and XON/XOFF; sharing takes no part.
    bool LessThan(std::shared_ptr<DeviceStreamConfiguration> other) override;
    // "RS232:COM<n>".
    std::string GetIdentifier() override;
    bool IsValid() override;
    // The port access's own codes: the driver's texts with this port.
    std::string GetErrorText(DWORD dwCode) override;

    virtual int GetCOMPort() const;
    virtual void SetCOMPort(int nPort);
    virtual Parity GetParity() const;
    virtual void SetParity(Parity eParity);
    virtual BaudRate GetBaudRate() const;
    virtual void SetBaudRate(BaudRate eBaudRate);
    virtual DataBits GetDataBits() const;
    virtual void SetDataBits(DataBits eDataBits);
    virtual StopBits GetStopBits() const;
    virtual void SetStopBits(StopBits eStopBits);
    virtual CommunicationTerminationOption GetSendTermination() const;
    virtual void SetSendTermination(CommunicationTerminationOption eOption);
    virtual CommunicationTerminationOption GetReceiveTermination() const;
    virtual void SetReceiveTermination(CommunicationTerminationOption eOption);
    virtual bool GetCOMPortSharing() const;
    virtual void SetCOMPortSharing(bool bSharing);
    virtual void SetRTSAroundWrite(bool bEnable);
    virtual bool GetRTSAroundWrite() const;
    virtual void SetRTSEnable(bool bEnable);
    virtual bool GetRTSEnable() const;
    virtual bool GetXonXoffFlowControl() const;
    virtual void SetXonXoffFlowControl(bool bEnable);
    virtual bool GetNewLineReturnIsEndOfString() const;
    void SetNewLineReturnIsEndOfString(bool bEnable);

    // Whether the page enables each control.
    bool GetParityEnabled() const { return mbParityEnabled; }
    void SetParityEnabled(bool bEnabled) { mbParityEnabled = bEnabled; }
    bool GetDataBitsEnabled() const { return mbDataBitsEnabled; }
    void SetDataBitsEnabled(bool bEnabled) { mbDataBitsEnabled = bEnabled; }
    bool GetBaudRateEnabled() const { return mbBaudRateEnabled; }
    void SetBaudRateEnabled(bool bEnabled) { mbBaudRateEnabled = bEnabled; }
    bool GetStopBitsEnabled() const { return mbStopBitsEnabled; }
    void SetStopBitsEnabled(bool bEnabled) { mbStopBitsEnabled = bEnabled; }
    bool GetSendTerminationEnabled() const { return mbSendTerminationEnabled; }
    void SetSendTerminationEnabled(bool bEnabled) { mbSendTerminationEnabled = bEnabled; }
    bool GetReceiveTerminationEnabled() const { return mbReceiveTerminationEnabled; }
    void SetReceiveTerminationEnabled(bool bEnabled) { mbReceiveTerminationEnabled = bEnabled; }
    bool GetNewLineReturnIsEndOfStringEnabled() const { return mbNewLineReturnIsEndOfStringEnabled; }
    void SetNewLineReturnIsEndOfStringEnabled(bool bEnabled) {
        mbNewLineReturnIsEndOfStringEnabled = bEnabled;
    }
    void SetAllControlsEnabled(bool bEnabled);

    // The legacy settings object's port, line parameters, sharing and handshake flags.
    void SetFromRS232Configuration(const RS232Configuration &configuration);
    void CopyToRS232Configuration(RS232Configuration &configuration) const;

private:
    int mnCOMPort = 1;
    Parity meParity = None;
    DataBits meDataBits = Data8;
    BaudRate meBaudRate = Br19200;
    StopBits meStopBits = Stop1;
    CommunicationTerminationOption meSendTermination = NoTermination;
    CommunicationTerminationOption meReceiveTermination = NoTermination;
    bool mbNewLineReturnIsEndOfString = true;
    bool mbCOMPortSharing = false;
    bool mbRTSAroundWrite = true;
    bool mbRTSEnable = false;
    bool mbXonXoffFlowControl = false;
    bool mbParityEnabled = true;
    bool mbDataBitsEnabled = true;
    bool mbBaudRateEnabled = true;
    bool mbStopBitsEnabled = true;
    bool mbSendTerminationEnabled = true;
    bool mbReceiveTerminationEnabled = true;
    bool mbNewLineReturnIsEndOfStringEnabled = true;
};

class RS232DeviceStream : public WriteReadDeviceStream {
public:
    // Character times of the pause that ends a reply read to its count.
    static constexpr unsigned ReplyGapCharacters = 4;

    RS232DeviceStream();
    ~RS232DeviceStream() override;

    // The driver's port time-out (milliseconds, truncated) and the stream's; a time-out that is
    // not IsUsableTimeout is refused with CouldNotSetValue and changes neither.
    DWORD SetTimeout(HostWindow hWnd, double dSeconds) override;
    DWORD Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                  DeviceStreamClient *clientEntry) override;
    DWORD Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) override;
    bool IsConnected() override;
    // The stream's mutex, then (sharing, outermost) the port, then the port's own lock.
    DWORD Lock(HostWindow hWnd, double dSeconds) override;
    DWORD Unlock(HostWindow hWnd) override;
    // Not connected: RS232Result::PortNotOpen and nothing sent.
    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) override;
    DWORD ClearInputBuffers(HostWindow hWnd) override;
    DWORD ClearOutputBuffers(HostWindow hWnd) override;
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                         uint32_t *pdwLength) override;

    // The text that goes on the wire for a command under the terminations.
    std::string TerminatedCommand(const std::string &sCommand, bool bWaitForOPC) const;
    unsigned int GetTransactionCount() const { return mTransactions.GetUsageCount(); }
    RS232SharedDeviceDriver &GetDriver() { return mDriver; }

private:
    DWORD OpenStep(HostWindow hWnd, const std::shared_ptr<DeviceStreamConfiguration> &configuration);
    DWORD PortOpen(HostWindow hWnd);
    DWORD PortClose(HostWindow hWnd);
    // Connected, and with sharing only while the port is open.
    bool CanUsePort();
    // Whether a read's text ends at a line end the read looks for; without any, whether it is
    // not empty.
    bool EndsAnswer(const std::string &sText, const std::string &sTermination) const;
    // The pause after which the line has ended a reply: a few character times at the port's rate,
    // at least the serial API's read interval.
    uint32_t ReplyGapMilliseconds() const;
    // Whether no input waits or comes within the milliseconds.
    bool StaysQuiet(uint32_t dwMilliseconds);

    RS232SharedDeviceDriver mDriver;
    int mnCOMPort = 1;
    Parity meParity = None;
    DataBits meDataBits = Data8;
    BaudRate meBaudRate = Br19200;
    StopBits meStopBits = Stop1;
    CommunicationTerminationOption meSendTermination = NoTermination;
    CommunicationTerminationOption meReceiveTermination = NoTermination;
    bool mbCOMPortSharing = false;
    bool mbRTSAroundWrite = true;
    bool mbRTSEnable = false;
    bool mbXonXoffFlowControl = false;
    bool mbNewLineReturnIsEndOfString = true;
    UsageCountTemplate<unsigned int> mTransactions; // nested Lock calls of this stream
    LateAnswerGuard mLateAnswers;
};

// The page of an RS-232 stream configuration (XRC panel "RS232StreamConfiguration").
class RS232DSConfigurationDialog : public ValidatorBasedPanel {
public:
    // The configuration is not owned.
    explicit RS232DSConfigurationDialog(RS232DeviceStreamConfiguration *configuration);

    void OnInitDialog(wxInitDialogEvent &event);

private:
    RS232DeviceStreamConfiguration *mConfiguration;

    wxDECLARE_EVENT_TABLE();
};

WriteReadDeviceStream *CreateRS232DeviceStream();
DeviceStreamConfiguration *CreateRS232DeviceStreamConfiguration();
