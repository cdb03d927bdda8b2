// The device stream of kind "VISA": a driver's commands and responses over one VISA session, with
// its configuration (the resource name, table "VISA"), its page "VisaConfiguration" and its
// registration. Terminations and the time-out are mirrored onto the session; Connect opens the
// session, for a plain LAN instrument first in its HiSLIP form; Lock adds a VISA lock to the
// stream's named lock. A session whose transfer found its connection lost counts as not
// connected, so that its clients connect anew. The HiSLIP memory file "KORVALIS_HISLIP.INI" in the
// temporary directory remembers per instrument that its HiSLIP form could not be opened.
#pragma once

#include <memory>
#include <string>

#include <wx/event.h>

#include "streams/DeviceStreamConfiguration.h"
#include "streams/WriteReadMixin.h"
#include "visa/Visa.h"
#include "visa/VisaResourcePage.h"

inline constexpr const char *VISAStreamKind = "VISA";
inline constexpr const char *HiSLIPMemoryFileName = "KORVALIS_HISLIP.INI";
inline constexpr const char *HiSLIPSection = "HiSLIP";

// A VISA resource name; its pattern tells a plain LAN resource ("TCPIP0::host[::INSTR]").
class VISAIdentifier {
public:
    static constexpr const char *LanPattern = "^TCPIP[0-9]*::[^:]+(?:::INSTR)?$";

    explicit VISAIdentifier(std::string sText = std::string()) : msText(std::move(sText)) {}
    VISAIdentifier(const VISAIdentifier &other) : msText(other.msText) {}
    // Only the text is copied; the pattern is always the LAN pattern.
    VISAIdentifier &operator=(const VISAIdentifier &other) {
        msText = other.msText;
        return *this;
    }
    virtual ~VISAIdentifier() = default;

    bool MatchesPattern() const;
    bool IsSet() const { return !msText.empty(); }
    const std::string &GetText() const { return msText; }

private:
    std::string msText;
    std::string msPattern = LanPattern;
};

// One entry of the HiSLIP memory file: the HiSLIP resource name in the section "HiSLIP".
struct HiSLIPIdentifier {
    VISAIdentifier Identifier;
    std::string Section = HiSLIPSection;
};

class VISADeviceStreamConfiguration : public DeviceStreamConfiguration {
public:
    static constexpr const char *SettingsTable = "VISA";

    VISADeviceStreamConfiguration();

    DWORD LoadProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) override;
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;
    // By kind, then by the resource text (byte-wise, case-sensitive).
    bool LessThan(std::shared_ptr<DeviceStreamConfiguration> other) override;
    // "VISA:" + resource name.
    std::string GetIdentifier() override;
    bool IsValid() override;
    std::shared_ptr<DeviceStreamConfiguration> Copy() const override;
    // The same resource name.
    bool HasSameSettings(const DeviceStreamConfiguration &other) const override;

    void SetIdentifier(const VISAIdentifier &identifier) { mIdentifier = identifier; }
    const std::string &GetResourceName() const { return mIdentifier.GetText(); }
    int GetReadChunkSize() const { return mnReadChunkSize; }
    bool GetUnchunkedRead() const { return mbUnchunkedRead; }
    bool GetTryHiSLIP() const { return mbTryHiSLIP; }
    void SetTryHiSLIP(bool bTry) { mbTryHiSLIP = bTry; }

private:
    VISAIdentifier mIdentifier;
    int mnReadChunkSize = 1024;
    bool mbUnchunkedRead = false;
    bool mbTryHiSLIP = true;
};

class VISADeviceStream : public WriteReadDeviceStream {
public:
    VISADeviceStream();
    ~VISADeviceStream() override;

    DWORD SetWriteTermination(HostWindow hWnd, const std::string &sTermination, bool bEnabled) override;
    DWORD SetReadTermination(HostWindow hWnd, const std::string &sTermination, bool bEnabled) override;
    DWORD SetTimeout(HostWindow hWnd, double dSeconds) override;
    DWORD Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                  DeviceStreamClient *clientEntry) override;
    DWORD Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) override;
    // Not while the session has lost its connection: the stream's clients then connect anew.
    bool IsConnected() override;
    // The stream's named lock, then the VISA lock.
    DWORD Lock(HostWindow hWnd, double dSeconds) override;
    DWORD Unlock(HostWindow hWnd) override;
    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    // Reads pieces until the count, the read termination or the time-out; a VISA time-out is the
    // streams' read time-out.
    DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) override;
    DWORD ClearInputBuffers(HostWindow hWnd) override;
    // A socket resource: what waits is read without waiting, which finds a peer that closed or
    // reset the connection; else the buffer clearing.
    DWORD DropWaitingInput(HostWindow hWnd) override;
    DWORD ClearOutputBuffers(HostWindow hWnd) override;
    DWORD ClearDevice(HostWindow hWnd) override;
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                         uint32_t *pdwLength) override;

    // What the open session reaches: GPIB 0, LAN VXI-11/HiSLIP 1, serial 2, LAN socket 3, USB 4;
    // VisaDeviceUnknown (-1) while closed.
    VisaDeviceKind GetDeviceKind() const;
    Visa &GetVisa() { return mVisa; }

    // "TCPIP0::host::hislip0::INSTR" for a plain LAN resource, else "".
    static std::string MakeHiSLIPResourceName(const VISAIdentifier &identifier);
    // The memory file's path: the temporary directory + KORVALIS_HISLIP.INI.
    static std::string GetHiSLIPIniPath();
    // True unless the file holds false for the key.
    static bool ShouldTryHiSLIP(const HiSLIPIdentifier &key);
    // Writes the value into a new file that replaces the old one (a link is replaced, not followed).
    static void StoreHiSLIPResult(const HiSLIPIdentifier &key, bool bValue);

private:
    DWORD TryHiSLIPConnect(HostWindow hWnd, const std::string &sResourceName, DeviceStreamClient *client);
    // Opens the configured resource; a socket resource that is refused is tried again until the
    // stream's time-out.
    DWORD OpenRetryingRefused(const std::string &sResourceName, DeviceStreamClient *client);

    Visa mVisa;
};

// The page of a VISA stream configuration.
class VISADeviceStreamConfigurationDialog : public VisaResourcePage {
public:
    // The configuration is not owned; it outlives the page.
    explicit VISADeviceStreamConfigurationDialog(VISADeviceStreamConfiguration *configuration);

    void OnInit(wxInitDialogEvent &event);
    void BuildResourceName(wxCommandEvent &event);
    void OnAliasText(wxCommandEvent &event);
    void OnLanText(wxCommandEvent &event);
    void OnVisaText(wxCommandEvent &event);
    bool TransferDataFromWindow() override;

private:
    VISADeviceStreamConfiguration *mConfiguration;

    wxDECLARE_EVENT_TABLE();
};

WriteReadDeviceStream *CreateVISADeviceStream();
DeviceStreamConfiguration *CreateVISADeviceStreamConfiguration();
