// Joiners of a typed driver base B (ADConvertorBase, SwitchMatrixBase) and a device-stream client
// S. Both sides declare the settings load and save, the configuration pages and the error texts
// with the same signatures; the joiner overrides each once so that one call runs both sides.
//
// Settings and pages: both sides always run; the driver side's non-zero result wins, else the
// stream side's. Error texts: the driver side's text first, the stream side's only when the driver
// side knew none. Each side is called as its own class's implementation, so an override above the
// joiner decides itself whether to call the joiner.
//
// S needs a constructor taking the expected identification response (a narrow text) and the four
// operations LoadProgramSettings, SaveProgramSettings, AddConfigurationDialogPanels and
// GetErrorString with DeviceDriverBase's signatures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/DeviceDriverBase.h"
#include "core/StringUtils.h"

template <typename B, typename S> class TwoBaseClassesConstructorLess : public B, public S {
public:
    // The stream side expects no particular identification.
    TwoBaseClassesConstructorLess() : DeviceDriverBase(), B(), S(std::string()) {}
    ~TwoBaseClassesConstructorLess() override = default;

    // The stream side first, then the driver side.
    DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override {
        const DWORD streamResult = S::LoadProgramSettings(hWnd, database);
        return FirstNonZero(B::LoadProgramSettings(hWnd, database), streamResult);
    }

    DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override {
        const DWORD streamResult = S::SaveProgramSettings(hWnd, database);
        return FirstNonZero(B::SaveProgramSettings(hWnd, database), streamResult);
    }

    // The driver side first, so that its pages stand before the stream client's.
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override {
        const DWORD driverResult = B::AddConfigurationDialogPanels(hWnd, panels);
        const DWORD streamResult = S::AddConfigurationDialogPanels(hWnd, panels);
        return FirstNonZero(driverResult, streamResult);
    }

    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                         uint32_t *pdwRead) override {
        if (pdwRead != nullptr)
            *pdwRead = 0;
        if (sBuffer != nullptr && dwBufferSize > 0)
            sBuffer[0] = '\0';
        const DWORD driverResult =
            DeviceDriverBase::GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize, pdwRead);
        if (driverResult != 0)
            return driverResult;
        // The driver side refuses a missing length address, so it is given here.
        if (pdwRead != nullptr && *pdwRead != 0)
            return 0;
        return S::GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize, pdwRead);
    }
};

template <typename B, typename S> class TwoBaseClasses : public TwoBaseClassesConstructorLess<B, S> {
public:
    TwoBaseClasses() = default;
    ~TwoBaseClasses() override = default;
};
