// VisaLibrary: the VISA C interface bound at run time. Loads "visa32.DLL" and/or the maker's own
// "Pelmora.DLL" by a preference given at construction, binds seventeen entry points by name and
// wraps each in a member that answers VI_ERROR_LIBRARY_NFOUND while its entry point is unbound.
// Most wrappers write a call record of module "VisaLibrary". A library that lacks an entry point
// is not kept: it is unloaded and every pointer cleared again.
#pragma once

#include <string>
#include <utility>

#include "platform/DynamicLibrary.h"
#include "platform/HostTypes.h"
#include "visa/VisaApi.h"

// Library file names; the platform maps them to shared objects (visa32.DLL -> libvisa32.so).
inline constexpr const char *VisaSystemLibraryName = "visa32.DLL";
inline constexpr const char *VisaMakerLibraryName = "Pelmora.DLL";

// Library preferences.
constexpr int VisaPreferMakerLibrary = 0;  // "Pelmora.DLL", then "visa32.DLL"
constexpr int VisaPreferSystemLibrary = 1; // "visa32.DLL", then "Pelmora.DLL"
constexpr int VisaSystemLibraryOnly = 2;   // any other value: "visa32.DLL" only

// Level of a VISA status in the call log: "Complete" for 0, "Error" for negative, "Warning" else.
const wchar_t *VisaStatusSeverity(ViStatus status);
// The attribute's standard name and the value's symbolic name where known, else decimal numbers.
std::pair<std::wstring, std::wstring> VisaAttributeNameAndValueText(ViAttr attribute, ViAttrState value);
// The 32-bit pattern of a status as a result code.
inline DWORD VisaStatusCode(ViStatus status) {
    return static_cast<DWORD>(static_cast<uint32_t>(status));
}

class VisaLibrary {
public:
    explicit VisaLibrary(int nPreference);
    virtual ~VisaLibrary();
    VisaLibrary(const VisaLibrary &) = delete;
    VisaLibrary &operator=(const VisaLibrary &) = delete;

    // 0 when a library is loaded and all seventeen entry points are bound; 0x300002E5 when no
    // library file loads; Platform::EntryPointNotFound (library unloaded again) when one is missing.
    DWORD LoadVisaDLL();
    DWORD LoadLibrary(const std::string &sFileName);
    bool IsLoaded() const { return mLibrary.IsLoaded(); }
    // Whether VISA can be loaded; a library loaded only for the question is unloaded again.
    DWORD IsAvailable(bool &bAvailable);
    DWORD Unload();
    // Path of the loaded file ("" when none).
    const std::string &LoadedFile() const { return mLibrary.FilePath(); }

    ViStatus OpenDefaultRM(ViSession *rm);
    ViStatus Open(ViSession rm, const std::string &sName, ViAccessMode mode, ViUInt32 timeout, ViSession *vi);
    ViStatus Close(ViObject vi);
    ViStatus Write(ViSession vi, const void *buffer, ViUInt32 count, ViUInt32 *retCnt);
    ViStatus Read(ViSession vi, ViUInt8 *buffer, ViUInt32 count, ViUInt32 *retCnt);
    ViStatus Clear(ViSession vi);
    ViStatus SetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size);
    // On success the description is assigned to sText.
    ViStatus GetVisaErrorDescription(ViObject vi, ViStatus status, std::string &sText);
    ViStatus GetAttribute(ViObject vi, ViAttr attribute, std::string &value);
    ViStatus GetAttribute(ViObject vi, ViAttr attribute, ViUInt8 &value);
    ViStatus GetAttribute(ViObject vi, ViAttr attribute, ViUInt16 &value);
    ViStatus GetAttribute(ViObject vi, ViAttr attribute, ViUInt32 &value);
    ViStatus SetAttribute(ViObject vi, ViAttr attribute, ViUInt8 value);
    ViStatus SetAttribute(ViObject vi, ViAttr attribute, ViInt16 lineState);
    ViStatus SetAttribute(ViObject vi, ViAttr attribute, ViUInt16 value);
    ViStatus SetAttribute(ViObject vi, ViAttr attribute, ViUInt32 value);
    ViStatus EnableEvent(ViSession vi, ViEventType event, ViUInt16 mechanism, ViEventFilter context);
    ViStatus DisableEvent(ViSession vi, ViEventType event, ViUInt16 mechanism);
    ViStatus DiscardEvents(ViSession vi, ViEventType event, ViUInt16 mechanism);
    ViStatus WaitOnEvent(ViSession vi, ViEventType event, ViUInt32 timeout, ViEventType *type,
                         ViEvent *context);
    ViStatus Flush(ViSession vi, ViUInt16 mask);
    // An exclusive lock without keys.
    ViStatus Lock(ViSession vi, ViUInt32 timeout);
    ViStatus Unlock(ViSession vi);

private:
    void ClearEntryPoints();
    ViStatus SetAttributeRaw(ViObject vi, ViAttr attribute, ViAttrState value);

    Platform::DynamicLibrary mLibrary;
    int mnPreference;
    VisaApi::OpenDefaultRMFunction mviOpenDefaultRM = nullptr;
    VisaApi::OpenFunction mviOpen = nullptr;
    VisaApi::CloseFunction mviClose = nullptr;
    VisaApi::WriteFunction mviWrite = nullptr;
    VisaApi::ReadFunction mviRead = nullptr;
    VisaApi::EnableEventFunction mviEnableEvent = nullptr;
    VisaApi::DisableEventFunction mviDisableEvent = nullptr;
    VisaApi::DiscardEventsFunction mviDiscardEvents = nullptr;
    VisaApi::WaitOnEventFunction mviWaitOnEvent = nullptr;
    VisaApi::SetAttributeFunction mviSetAttribute = nullptr;
    VisaApi::GetAttributeFunction mviGetAttribute = nullptr;
    VisaApi::ClearFunction mviClear = nullptr;
    VisaApi::SetBufFunction mviSetBuf = nullptr;
    VisaApi::StatusDescFunction mviStatusDesc = nullptr;
    VisaApi::FlushFunction mviFlush = nullptr;
    VisaApi::LockFunction mviLock = nullptr;
    VisaApi::UnlockFunction mviUnlock = nullptr;
};
