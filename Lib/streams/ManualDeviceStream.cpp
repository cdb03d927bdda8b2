// The manual stream, its configuration and their registration as the kind "Manual".
#include "streams/ManualDeviceStream.h"

#include <wx/panel.h>

#include "core/PanelResourceName.h"
#include "core/StringUtils.h"
#include "logging/LoggedMessageBox.h"
#include "platform/MessageBox.h"

namespace {

constexpr const char *KindId = "Manual";

const StreamTypeRegistrar gStreamRegistrar(KindId, &CreateStreamOf<ManualDeviceStream>);
const StreamTypeRegistrar gConfigurationRegistrar(KindId,
                                                  &CreateConfigurationOf<ManualDeviceStreamConfiguration>);

} // namespace

DWORD ManualDeviceStream::Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                                  DeviceStreamClient *clientEntry) {
    if (configuration)
        SetLockName(configuration->GetIdentifier());
    if (IsFirstClient(hWnd, clientEntry))
        mbConnected = true;
    if (IsConnected())
        RegisterClient(hWnd, clientEntry);
    return 0;
}

DWORD ManualDeviceStream::Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) {
    if (UnregisterClient(hWnd, clientEntry))
        mbConnected = false;
    return 0;
}

DWORD ManualDeviceStream::Write(HostWindow hWnd, const std::string &sCommand, bool) {
    mParameters.Delayer.WaitRemainingDelay();
    const std::string text = WithWriteTermination(sCommand);
    bool bSuppressed = false;
    MessageBoxA(hWnd, text, "Manual instructions", Platform::MbIconInformation, &bSuppressed);
    mParameters.Delayer.StoreLastCommunicationTime();
    return bSuppressed ? StreamResult::OperatorInstructionsNotShown : 0;
}

DWORD ManualDeviceStream::Read(HostWindow, std::string &, DWORD) {
    return 0;
}

DWORD ManualDeviceStream::GetErrorString(HostWindow, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                         uint32_t *pdwLength) {
    if (dwCode == StreamResult::OperatorInstructionsNotShown)
        CopyStringToBuffer(StreamResult::OperatorInstructionsNotShownText, sBuffer, dwBufferSize, pdwLength);
    return 0;
}

ManualDeviceStreamConfiguration::ManualDeviceStreamConfiguration() : DeviceStreamConfiguration(KindId) {}

DWORD ManualDeviceStreamConfiguration::ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) {
    MessageBoxW(hWnd, L"This Device Driver cannot be configured", sTitle, Platform::MbIconInformation);
    return 0;
}

DWORD ManualDeviceStreamConfiguration::AddConfigurationDialogPanels(HostWindow,
                                                                    PanelResourceNameList &panels) {
    PanelResourceNameList::AddUnique(panels, new wxPanel(), "NoConfig", wxString::FromUTF8(GetIDString()));
    return 0;
}

bool ManualDeviceStreamConfiguration::LessThan(std::shared_ptr<DeviceStreamConfiguration> other) {
    return Compare(other.get()) < 0;
}

std::string ManualDeviceStreamConfiguration::GetIdentifier() {
    return "MANUAL";
}

bool ManualDeviceStreamConfiguration::IsValid() {
    return true;
}
