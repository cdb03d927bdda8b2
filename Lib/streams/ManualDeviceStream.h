// The "Manual" stream kind: the operator is the instrument. Every command is shown in a message
// box ("Manual instructions") so that the operator can set the instrument by hand; reading gives
// nothing. Connecting opens nothing and accepts any configuration, whose identifier names the lock.
// All manual configurations are equal ("MANUAL"), so every driver of a process that selects the
// kind shares one stream, and across processes one lock.
//
// Where the box cannot reach a person (another thread than the GUI thread, no display), Write
// reports OperatorInstructionsNotShown instead of success.
#pragma once

#include <memory>
#include <string>

#include "streams/DeviceStreamConfiguration.h"
#include "streams/WriteReadMixin.h"

namespace StreamResult {
constexpr DWORD OperatorInstructionsNotShown = 0x300000F4;
constexpr const char *OperatorInstructionsNotShownText =
    "The manual instructions could not be shown to the operator.";
} // namespace StreamResult

class ManualDeviceStream : public WriteReadDeviceStream {
public:
    DWORD Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                  DeviceStreamClient *clientEntry) override;
    DWORD Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) override;
    // Shows the command, with the write termination, over the window; returns when the operator
    // closed the box.
    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    // 0; the response stays as it was.
    DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) override;
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                         uint32_t *pdwLength) override;
};

class ManualDeviceStreamConfiguration : public DeviceStreamConfiguration {
public:
    ManualDeviceStreamConfiguration();

    // "This Device Driver cannot be configured"; 0.
    DWORD ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) override;
    // An empty page "NoConfig" titled "Manual".
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;
    // By kind only: two manual configurations are equal.
    bool LessThan(std::shared_ptr<DeviceStreamConfiguration> other) override;
    std::string GetIdentifier() override;
    bool IsValid() override;
};
