// The root class of every driver. The exports find a driver by its DeviceID and call one virtual
// operation of this class; the typed bases (AD converter, switch matrix) derive from it virtually,
// claim their own value identifiers and hand every other identifier down to the operations here.
// The class gives a default for every optional operation, answers the generic value and setting
// identifiers, checks the host version, holds the host's automation objects, queues the driver's
// warnings for the exports and owns the framework's error texts. The driver description and the
// entry into the configuration dialog live in DriverDescription.cpp.
//
// Every 32-bit word that the host hands in by address is a uint32_t here; Data1 and Data2 are
// untyped addresses whose type the value identifier gives.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "VBObject/VBObject.h"
#include "core/EntryGate.h"
#include "core/FrequencyBase.h"
#include "core/PanelResourceName.h"
#include "core/ResultCodes.h"
#include "core/SavableLoadableClass.h"
#include "core/StringUtils.h"
#include "core/StorableMembers.h"
#include "core/Timing.h"
#include "core/Version.h"
#include "platform/Cancel.h"
#include "platform/HostTypes.h"

class ProgramSettingsDatabase;

// Value identifiers that the framework answers.
namespace ValueID {
constexpr DWORD SetLastCWFrequency = 2;       // SetValue: Data1 -> double, CW frequency in MHz
constexpr DWORD SetInformationItems = 3;      // SetValue: Data1, Data2 -> pointer-sized object slots
constexpr DWORD SetSpecificSetting = 4;       // SetValue: Data1 name, Data2 value (texts)
constexpr DWORD SetKorvalisVersion = 5;       // SetValue: Data1 version text
constexpr DWORD GetSpecificSetting = 53;      // GetValueString
constexpr DWORD GetSpecificSettingState = 54; // GetValue: Data1 name, Data2 -> uint32_t state
constexpr DWORD GetSpecificInput = 55;        // GetValue: Data1 name, Data2 -> double
constexpr DWORD CheckDeviceOnStream = 56;     // GetValue
constexpr DWORD GetQueuedWarning = 58;        // GetValue: Data1 -> uint32_t code, Data2 -> uint32_t remaining
} // namespace ValueID

// Setting identifiers of SetSetting.
namespace SettingID {
constexpr DWORD UseDoubles = 4003;
constexpr DWORD UseMiliHzFrequency = 4004;
} // namespace SettingID

class DeviceDriverBase : public SaveLoadConfigurationConvertor {
public:
    DeviceDriverBase();
    ~DeviceDriverBase() override;
    DeviceDriverBase(const DeviceDriverBase &) = delete;
    DeviceDriverBase &operator=(const DeviceDriverBase &) = delete;

    // Reads the table "Common", then the storable members.
    DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;
    // Saves the storable members only.
    DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database) override;

    virtual DWORD Registered(HostWindow hWnd);
    virtual DWORD UnRegistered(HostWindow hWnd);
    virtual DWORD CheckDevice(HostWindow hWnd);
    virtual DWORD InitDevice(HostWindow hWnd);
    virtual DWORD DeInitDevice(HostWindow hWnd);
    virtual DWORD ShowConfigurationDialog(HostWindow hWnd);
    virtual DWORD SetLastCWFrequency(HostWindow hWnd, const FrequencyBase<9> &frequency);
    virtual DWORD ShowConfigurationDialogUnavailable(HostWindow hWnd);
    virtual DWORD SetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2);
    virtual DWORD GetValue(HostWindow hWnd, DWORD dwValueID, void *Data1, void *Data2);
    virtual DWORD GetValueString(HostWindow hWnd, DWORD dwValueID, const char *Data1, char *sInfoBuffer,
                                 uint32_t dwBufferSize, uint32_t *pdwFilledSize);
    virtual DWORD GetInfo(HostWindow hWnd, DWORD dwInfoID, double *pdValue);
    // Empties the buffer and refuses.
    virtual DWORD GetInfoString(HostWindow hWnd, DWORD dwInfoID, char *sBuffer, uint32_t dwBufferSize,
                                uint32_t *pdwFilledSize);
    virtual DWORD SetSetting(HostWindow hWnd, DWORD dwSettingID, double dSetting);
    virtual DWORD GetDriverVersion(HostWindow hWnd, char *strVer);
    virtual DWORD GetCurrentFrequency(HostWindow hWnd, double *dFreqMHz);
    virtual DWORD SetKorvalisVersion(HostWindow hWnd, const char *sVersion);
    virtual DWORD SetSpecificSetting(HostWindow hWnd, const char *sName, char *sValue);
    virtual DWORD GetSpecificSetting(HostWindow hWnd, const char *sName, char *sBuffer, uint32_t dwBufferSize,
                                     uint32_t *pdwFilledSize);
    virtual DWORD CheckDeviceOnStream(HostWindow hWnd);
    virtual DWORD GetSpecificSettingState(HostWindow hWnd, const char *sName, uint32_t *pdwState);
    virtual DWORD GetSpecificInput(HostWindow hWnd, const char *sName, double *pdValue);

    // Queues a code of the warning range once the host accepts queued warnings; may be called
    // from any thread.
    virtual void PushWarningToQueue(DWORD dwCode);
    // Takes the oldest warning off the queue: its code (0 when none) and the number still queued.
    // Both 0 while the host does not accept queued warnings. Null addresses are not written.
    virtual void GetQueuedWarning(uint32_t *pdwCode, uint32_t *pnRemaining);

    // The framework's texts (empty for a code it has no text for); 0, or a refusal of a null
    // buffer or length address.
    virtual DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                 uint32_t *pdwRead);
    // The error message box for a code with a text; nothing for 0.
    virtual void ShowError(HostWindow hWnd, DWORD dwCode);
    // Number of queued warnings, whatever the host accepts (saturating at 0xFFFFFFFF).
    virtual unsigned int GetQueuedWarningCount();
    // True when the version is not below MinimumKorvalisVersion.
    virtual bool IsHostVersionSupported(const Version &version);
    // The base adds no page and returns 0.
    virtual DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels);

    // SetValue 3: each argument is the address of a pointer-sized slot holding a host object (or
    // null). The second is the test data leading to the information items, or those items.
    void SetInformationItems(IHostAutomationObject *const *pEut,
                             IHostAutomationObject *const *pClsInformationItems);
    // Collects the pages and shows them, or says that the driver cannot be configured.
    DWORD ShowTabbedConfigurationDialog(HostWindow hWnd);
    // Brand, type and description of the table "Common" joined into one title; the driver's own
    // description where that title is empty.
    std::wstring GetDriverDescription() const;
    // The frequency with one decimal in GHz, MHz, kHz or Hz, by its magnitude ("1.5 GHz").
    static std::string ConvertFrequencyToText(double dHertz);

    // Lowest host version accepted ("2024.1.1") and the one from which warnings are queued
    // ("2025.1.1").
    static const Version MinimumKorvalisVersion;
    static const Version QueuedWarningsKorvalisVersion;

    // Read access for derived drivers and tests.
    const Version &GetKorvalisVersion() const { return mKorvalisVersion; }
    bool AreQueuedWarningsSupported() const;
    bool GetUseDoubles() const { return mbUseDoubles; }
    bool GetUseMiliHzFrequency() const { return mbUseMiliHzFrequency; }
    const FrequencyBase<9> &GetLastCWFrequency() const { return mLastCWFrequency; }
    const clsDEUT &GetEut() const { return mEut; }
    const clsInformationItems &GetInformationItems() const { return mInformationItems; }
    const ITestData &GetTestData() const { return mTestData; }

    // Set by the driver table when the host removed the driver: fires the removal, which ends every
    // wait of the driver's calls in progress, then waits for the outputs inside the output gate, so
    // that none reaches a device once it returned.
    void MarkRemoved();
    // The removal as a cancel; the exports make it the calling thread's for each call.
    Platform::CancelSignal &GetRemoval() { return mRemoval; }
    bool IsRemoved() const { return mOutputGate.IsClosed(); }
    // A write to a device passes this gate (an EntryGate::Pass): not let in once the driver is
    // removed; one let in holds the removal back until it leaves.
    EntryGate &OutputGate() { return mOutputGate; }
    // Whether the call in progress has sent all it sends and only a closing pause is left: a
    // removal from then on cuts nothing of it, and the call keeps its own result. The exports clear
    // it as each call begins (a driver's calls run one at a time).
    void SetOnlyPauseLeft(bool bOnlyPauseLeft) { mbOnlyPauseLeft = bOnlyPauseLeft; }
    bool IsOnlyPauseLeft() const { return mbOnlyPauseLeft; }

protected:
    clsDEUT mEut;
    clsInformationItems mInformationItems;
    ITestData mTestData;
    Timing mTiming;
    bool mbUseDoubles = false;
    bool mbUseMiliHzFrequency = false;
    std::wstring msDescription;
    // The title where brand, type and description of the table "Common" make none.
    std::wstring msOwnDescription;
    std::wstring msBrand;
    std::wstring msType;
    FrequencyBase<9> mLastCWFrequency;
    StorableMembersManager mStorableMembers;

private:
    // Guards the queue and the flag: derived code may push from its own threads while the host
    // fetches. Never held while driver code runs.
    mutable std::mutex mWarningLock;
    std::deque<DWORD> mWarningQueue;
    // The queue's size, changed under the lock and read without it after every call.
    std::atomic<size_t> mWarningCount{0};
    bool mbQueuedWarningsSupported = false;
    Version mKorvalisVersion;
    EntryGate mOutputGate; // closed by the removal; writes in progress pass it
    Platform::CancelSignal mRemoval;
    bool mbOnlyPauseLeft = false;
};

// Seconds as milliseconds, saturating at the int range.
int IntSecondsToMilliseconds(int seconds);

// Brand and type each joined in front unless the description already holds them; every part and
// the whole trimmed of the nine default blanks.
std::wstring BuildDriverDescription(const std::wstring &sBrand, const std::wstring &sType,
                                    const std::wstring &sDescription);

// Shows the collected configuration pages as one tabbed window over the host window.
DWORD ShowConfigurationPages(HostWindow hWnd, const PanelResourceNameList &panels, const std::wstring &title);
