// The VISA library binding: loading by preference, binding, the wrappers and their call records.
#include "visa/VisaLibrary.h"

#include <algorithm>
#include <cstring>

#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"

namespace {

constexpr const char *ModuleName = "VisaLibrary";

std::wstring HexText(ViAttrState value) {
    return ToStdWstring(FormatString("0x%llX", static_cast<unsigned long long>(value)));
}

std::wstring DecimalText(ViAttrState value) {
    return ToStdWstring(FormatString("%llu", static_cast<unsigned long long>(value)));
}

// One character value, control characters escaped so that a record stays on one line.
std::wstring CharacterText(ViAttrState value) {
    const unsigned char c = static_cast<unsigned char>(value);
    if (c >= 0x20 && c < 0x7F)
        return std::wstring(1, static_cast<wchar_t>(c));
    return ToStdWstring(FormatString("\\x%02X", c));
}

std::wstring BooleanText(ViAttrState value) {
    return value == VI_TRUE ? L"VI_TRUE" : value == VI_FALSE ? L"VI_FALSE" : DecimalText(value);
}

std::wstring Pick(ViAttrState value, std::initializer_list<std::pair<ViAttrState, const wchar_t *>> names) {
    for (const auto &name : names)
        if (name.first == value)
            return name.second;
    return DecimalText(value);
}

template <typename T>
ViStatus GetNumber(VisaApi::GetAttributeFunction function, ViObject vi, ViAttr attribute, T &value) {
    QuellinEntry entry(ModuleName, "GetAttribute");
    const std::wstring sName = VisaAttributeNameAndValueText(attribute, 0).first;
    entry.LogBegin(QuellinLevelNote, L"vi", vi, L"attrName", sName);
    T read{};
    const ViStatus status = function(vi, attribute, &read);
    if (status == VI_SUCCESS)
        value = read;
    const auto texts = VisaAttributeNameAndValueText(attribute, static_cast<ViAttrState>(read));
    entry.LogEnd(VisaStatusSeverity(status), QuellinDescription,
                 ToStdWstring(FormatString("GetAttribute(%d, ", static_cast<int>(vi))) + sName + L")",
                 L"attrName", texts.first, L"attrValue", texts.second, L"Err", VisaStatusCode(status));
    return status;
}

} // namespace

const wchar_t *VisaStatusSeverity(ViStatus status) {
    if (status == VI_SUCCESS)
        return QuellinLevelComplete;
    return status < 0 ? QuellinLevelError : QuellinLevelWarning;
}

std::pair<std::wstring, std::wstring> VisaAttributeNameAndValueText(ViAttr attribute, ViAttrState value) {
    switch (attribute) {
    case VI_ATTR_TERMCHAR:
        return {L"VI_ATTR_TERMCHAR", CharacterText(value)};
    case VI_ATTR_RSRC_CLASS:
        return {L"VI_ATTR_RSRC_CLASS", L""};
    case VI_ATTR_RSRC_NAME:
        return {L"VI_ATTR_RSRC_NAME", L""};
    case VI_ATTR_RSRC_MANF_NAME:
        return {L"VI_ATTR_RSRC_MANF_NAME", L""};
    case VI_ATTR_ASRL_DTR_STATE:
    case VI_ATTR_ASRL_RTS_STATE:
        return {attribute == VI_ATTR_ASRL_DTR_STATE ? L"VI_ATTR_ASRL_DTR_STATE" : L"VI_ATTR_ASRL_RTS_STATE",
                static_cast<ViInt16>(value) == VI_STATE_ASSERTED     ? L"VI_STATE_ASSERTED"
                : static_cast<ViInt16>(value) == VI_STATE_UNASSERTED ? L"VI_STATE_UNASSERTED"
                                                                     : DecimalText(value)};
    case VI_ATTR_TCPIP_KEEPALIVE:
        return {L"VI_ATTR_TCPIP_KEEPALIVE", BooleanText(value)};
    case VI_ATTR_SEND_END_EN:
        return {L"VI_ATTR_SEND_END_EN", BooleanText(value)};
    case VI_ATTR_TERMCHAR_EN:
        return {L"VI_ATTR_TERMCHAR_EN", BooleanText(value)};
    case VI_ATTR_SUPPRESS_END_EN:
        return {L"VI_ATTR_SUPPRESS_END_EN", BooleanText(value)};
    case VI_ATTR_TCPIP_IS_HISLIP:
        return {L"VI_ATTR_TCPIP_IS_HISLIP", BooleanText(value)};
    case VI_ATTR_ASRL_END_IN:
        return {L"VI_ATTR_ASRL_END_IN", Pick(value, {{VI_ASRL_END_NONE, L"VI_ASRL_END_NONE"},
                                                     {VI_ASRL_END_LAST_BIT, L"VI_ASRL_END_LAST_BIT "},
                                                     {VI_ASRL_END_TERMCHAR, L"VI_ASRL_END_TERMCHAR"}})};
    case VI_ATTR_ASRL_DATA_BITS:
        return {L"VI_ATTR_ASRL_DATA_BITS", DecimalText(value)};
    case VI_ATTR_ASRL_PARITY:
        return {L"VI_ATTR_ASRL_PARITY", Pick(value, {{VI_ASRL_PAR_NONE, L"VI_ASRL_PAR_NONE"},
                                                     {VI_ASRL_PAR_ODD, L"VI_ASRL_PAR_ODD"},
                                                     {VI_ASRL_PAR_EVEN, L"VI_ASRL_PAR_EVEN"},
                                                     {VI_ASRL_PAR_MARK, L"VI_ASRL_PAR_MARK"},
                                                     {VI_ASRL_PAR_SPACE, L"VI_ASRL_PAR_SPACE"}})};
    case VI_ATTR_ASRL_STOP_BITS:
        return {L"VI_ATTR_ASRL_STOP_BITS", Pick(value, {{VI_ASRL_STOP_ONE, L"VI_ASRL_STOP_ONE"},
                                                        {VI_ASRL_STOP_ONE5, L"VI_ASRL_STOP_ONE5"},
                                                        {VI_ASRL_STOP_TWO, L"VI_ASRL_STOP_TWO"}})};
    case VI_ATTR_ASRL_FLOW_CNTRL:
        return {L"VI_ATTR_ASRL_FLOW_CNTRL", Pick(value, {{VI_ASRL_FLOW_NONE, L"VI_ASRL_FLOW_NONE"},
                                                         {VI_ASRL_FLOW_XON_XOFF, L"VI_ASRL_FLOW_XON_XOFF"},
                                                         {VI_ASRL_FLOW_RTS_CTS, L"VI_ASRL_FLOW_RTS_CTS"},
                                                         {VI_ASRL_FLOW_DTR_DSR, L"VI_ASRL_FLOW_DTR_DSR"}})};
    case VI_ATTR_IO_PROT:
        return {L"VI_ATTR_IO_PROT", DecimalText(value)};
    case VI_ATTR_INTF_TYPE:
        return {L"VI_ATTR_INTF_TYPE", Pick(value, {{VI_INTF_GPIB, L"VI_INTF_GPIB"},
                                                   {VI_INTF_VXI, L"VI_INTF_VXI"},
                                                   {VI_INTF_GPIB_VXI, L"VI_INTF_GPIB_VXI"},
                                                   {VI_INTF_ASRL, L"VI_INTF_ASRL"},
                                                   {VI_INTF_PXI, L"VI_INTF_PXI"},
                                                   {VI_INTF_TCPIP, L"VI_INTF_TCPIP"},
                                                   {VI_INTF_USB, L"VI_INTF_USB"},
                                                   {VI_INTF_RIO, L"VI_INTF_RIO"},
                                                   {VI_INTF_FIREWIRE, L"VI_INTF_FIREWIRE"}})};
    case VI_ATTR_RSRC_MANF_ID:
        return {L"VI_ATTR_RSRC_MANF_ID", HexText(value)};
    case VI_ATTR_RSRC_SPEC_VERSION:
        return {L"VI_ATTR_RSRC_SPEC_VERSION", HexText(value)};
    case VI_ATTR_RSRC_IMPL_VERSION:
        return {L"VI_ATTR_RSRC_IMPL_VERSION", HexText(value)};
    case VI_ATTR_MAX_QUEUE_LENGTH:
        return {L"VI_ATTR_MAX_QUEUE_LENGTH", DecimalText(value)};
    case VI_ATTR_ASRL_BAUD:
        return {L"VI_ATTR_ASRL_BAUD", DecimalText(value)};
    case VI_ATTR_TMO_VALUE:
        return {L"VI_ATTR_TMO_VALUE", DecimalText(value)};
    case VI_ATTR_ASRL_AVAIL_NUM:
        return {L"VI_ATTR_ASRL_AVAIL_NUM", DecimalText(value)};
    default:
        return {DecimalText(attribute), DecimalText(value)};
    }
}

VisaLibrary::VisaLibrary(int nPreference) : mnPreference(nPreference) {}

VisaLibrary::~VisaLibrary() {
    Unload();
}

void VisaLibrary::ClearEntryPoints() {
    mviOpenDefaultRM = nullptr;
    mviOpen = nullptr;
    mviClose = nullptr;
    mviWrite = nullptr;
    mviRead = nullptr;
    mviEnableEvent = nullptr;
    mviDisableEvent = nullptr;
    mviDiscardEvents = nullptr;
    mviWaitOnEvent = nullptr;
    mviSetAttribute = nullptr;
    mviGetAttribute = nullptr;
    mviClear = nullptr;
    mviSetBuf = nullptr;
    mviStatusDesc = nullptr;
    mviFlush = nullptr;
    mviLock = nullptr;
    mviUnlock = nullptr;
}

DWORD VisaLibrary::LoadLibrary(const std::string &sFileName) {
    LogFileVersionInfo(ToStdWstring(ModuleName), ToStdWstring(sFileName));
    return mLibrary.Load(sFileName) ? 0 : ResultCode::VisaLibraryNotFound;
}

DWORD VisaLibrary::LoadVisaDLL() {
    QuellinEntry entry(ModuleName, "LoadVisaDLL");
    entry.LogBegin(QuellinLevelNote, L"preference", mnPreference);
    DWORD result = 0;
    if (!mLibrary.IsLoaded()) {
        if (mnPreference == VisaPreferMakerLibrary)
            result = LoadLibrary(VisaMakerLibraryName);
        if (!mLibrary.IsLoaded())
            result = LoadLibrary(VisaSystemLibraryName);
        if (!mLibrary.IsLoaded() && mnPreference == VisaPreferSystemLibrary)
            result = LoadLibrary(VisaMakerLibraryName);
        if (result != 0)
            entry.Log(QuellinLevelError, L"Message", L"Visa could not be loaded");
    }
    if (result == 0) {
        struct Binding {
            const char *name;
            bool (*bind)(VisaLibrary &);
        };
        // Looked up in this order; the first missing entry point ends the binding.
        const Binding bindings[] = {
            {"viOpenDefaultRM",
             [](VisaLibrary &l) { return l.mLibrary.Bind("viOpenDefaultRM", l.mviOpenDefaultRM); }},
            {"viOpen", [](VisaLibrary &l) { return l.mLibrary.Bind("viOpen", l.mviOpen); }},
            {"viClose", [](VisaLibrary &l) { return l.mLibrary.Bind("viClose", l.mviClose); }},
            {"viWrite", [](VisaLibrary &l) { return l.mLibrary.Bind("viWrite", l.mviWrite); }},
            {"viRead", [](VisaLibrary &l) { return l.mLibrary.Bind("viRead", l.mviRead); }},
            {"viGetAttribute",
             [](VisaLibrary &l) { return l.mLibrary.Bind("viGetAttribute", l.mviGetAttribute); }},
            {"viSetAttribute",
             [](VisaLibrary &l) { return l.mLibrary.Bind("viSetAttribute", l.mviSetAttribute); }},
            {"viClear", [](VisaLibrary &l) { return l.mLibrary.Bind("viClear", l.mviClear); }},
            {"viSetBuf", [](VisaLibrary &l) { return l.mLibrary.Bind("viSetBuf", l.mviSetBuf); }},
            {"viStatusDesc", [](VisaLibrary &l) { return l.mLibrary.Bind("viStatusDesc", l.mviStatusDesc); }},
            {"viFlush", [](VisaLibrary &l) { return l.mLibrary.Bind("viFlush", l.mviFlush); }},
            {"viEnableEvent",
             [](VisaLibrary &l) { return l.mLibrary.Bind("viEnableEvent", l.mviEnableEvent); }},
            {"viDisableEvent",
             [](VisaLibrary &l) { return l.mLibrary.Bind("viDisableEvent", l.mviDisableEvent); }},
            {"viDiscardEvents",
             [](VisaLibrary &l) { return l.mLibrary.Bind("viDiscardEvents", l.mviDiscardEvents); }},
            {"viWaitOnEvent",
             [](VisaLibrary &l) { return l.mLibrary.Bind("viWaitOnEvent", l.mviWaitOnEvent); }},
            {"viLock", [](VisaLibrary &l) { return l.mLibrary.Bind("viLock", l.mviLock); }},
            {"viUnlock", [](VisaLibrary &l) { return l.mLibrary.Bind("viUnlock", l.mviUnlock); }},
        };
        for (const Binding &binding : bindings) {
            if (binding.bind(*this))
                continue;
            result = Platform::EntryPointNotFound;
            entry.Log(QuellinLevelError, L"Message",
                      ToStdWstring(std::string(binding.name) + " could not be found in VISA32.DLL"));
            // A half-bound library is not kept: callers would see "loaded" with null entries.
            Unload();
            break;
        }
    }
    if (result == 0)
        entry.LogEnd(QuellinLevelComplete, L"file", mLibrary.FilePath(), L"Err", result);
    else
        entry.LogEnd(ResultSeverityText(result), QuellinDescription, L"LoadVisaDLL(\"Failed\")", L"Err",
                     result);
    return result;
}

DWORD VisaLibrary::IsAvailable(bool &bAvailable) {
    bAvailable = false;
    if (mLibrary.IsLoaded()) {
        bAvailable = true;
        return 0;
    }
    const DWORD result = LoadVisaDLL();
    if (result == 0) {
        bAvailable = true;
        Unload();
    }
    return result;
}

DWORD VisaLibrary::Unload() {
    if (mLibrary.IsLoaded())
        mLibrary.Unload();
    ClearEntryPoints();
    return 0;
}

// ---- Logged wrappers ------------------------------------------------------------------------------

ViStatus VisaLibrary::OpenDefaultRM(ViSession *rm) {
    if (mviOpenDefaultRM == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    QuellinEntry entry(ModuleName, "OpenDefaultRM");
    entry.LogBegin(QuellinLevelNote);
    const ViStatus status = mviOpenDefaultRM(rm);
    entry.LogEnd(VisaStatusSeverity(status), L"rm", rm != nullptr ? *rm : 0u, L"Err", VisaStatusCode(status));
    return status;
}

ViStatus VisaLibrary::Open(ViSession rm, const std::string &sName, ViAccessMode mode, ViUInt32 timeout,
                           ViSession *vi) {
    if (mviOpen == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    QuellinEntry entry(ModuleName, "Open");
    entry.LogBegin(QuellinLevelNote, QuellinDescription,
                   FormatString("Open(%d,\"%.80s\")", static_cast<int>(rm), sName.c_str()), L"sesn", rm,
                   L"name", sName, L"mode", mode, L"timeout", timeout);
    const ViStatus status = mviOpen(rm, sName.c_str(), mode, timeout, vi);
    entry.LogEnd(VisaStatusSeverity(status), L"vi", vi != nullptr ? *vi : 0u, L"Err", VisaStatusCode(status));
    return status;
}

ViStatus VisaLibrary::Close(ViObject vi) {
    if (mviClose == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    QuellinEntry entry(ModuleName, "Close");
    entry.LogBegin(QuellinLevelNote, QuellinDescription, FormatString("Close(%d)", static_cast<int>(vi)));
    const ViStatus status = mviClose(vi);
    entry.LogEnd(VisaStatusSeverity(status), L"Err", VisaStatusCode(status));
    return status;
}

ViStatus VisaLibrary::Write(ViSession vi, const void *buffer, ViUInt32 count, ViUInt32 *retCnt) {
    if (mviWrite == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    QuellinEntry entry(ModuleName, "viWrite");
    const std::string sShown(static_cast<const char *>(buffer),
                             buffer != nullptr ? std::min<ViUInt32>(count, 80) : 0);
    entry.LogBegin(QuellinLevelNote, L"vi", vi, L"buf", sShown, L"cnt", count);
    const ViStatus status = mviWrite(vi, static_cast<ViConstBuf>(buffer), count, retCnt);
    entry.LogEnd(VisaStatusSeverity(status), L"retCnt", retCnt != nullptr ? *retCnt : 0u, L"Err",
                 VisaStatusCode(status));
    return status;
}

ViStatus VisaLibrary::Read(ViSession vi, ViUInt8 *buffer, ViUInt32 count, ViUInt32 *retCnt) {
    if (mviRead == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    QuellinEntry entry(ModuleName, "Read");
    entry.LogBegin(QuellinLevelNote, L"vi", vi, L"cnt", count);
    ViUInt32 nReceived = 0;
    const ViStatus status = mviRead(vi, buffer, count, &nReceived);
    // The library's count is trusted only within the buffer.
    nReceived = std::min(nReceived, count);
    if (retCnt != nullptr)
        *retCnt = nReceived;
    const std::string sShown(reinterpret_cast<const char *>(buffer),
                             buffer != nullptr ? std::min<ViUInt32>(nReceived, 80) : 0);
    const bool bComplete = status == VI_SUCCESS_TERM_CHAR || status == VI_SUCCESS_MAX_CNT;
    entry.LogEnd(bComplete ? QuellinLevelComplete : VisaStatusSeverity(status), QuellinDescription,
                 FormatString("Read(%d, \"%s\", %d, %d)", static_cast<int>(vi), sShown.c_str(),
                              static_cast<int>(count), static_cast<int>(nReceived)),
                 L"retCnt", nReceived, L"ViStatus", VisaStatusCode(status));
    return status;
}

ViStatus VisaLibrary::Clear(ViSession vi) {
    if (mviClear == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    QuellinEntry entry(ModuleName, "Clear");
    entry.LogBegin(QuellinLevelNote, L"vi", vi);
    const ViStatus status = mviClear(vi);
    entry.LogEnd(VisaStatusSeverity(status), L"Err", VisaStatusCode(status));
    return status;
}

ViStatus VisaLibrary::SetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
    if (mviSetBuf == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    QuellinEntry entry(ModuleName, "SetBuf");
    entry.LogBegin(QuellinLevelNote, QuellinDescription,
                   FormatString("SetBuf(%d, %d, %d)", static_cast<int>(vi), static_cast<int>(mask),
                                static_cast<int>(size)),
                   L"mask", mask, L"size", size);
    const ViStatus status = mviSetBuf(vi, mask, size);
    entry.LogEnd(VisaStatusSeverity(status), L"Err", VisaStatusCode(status));
    return status;
}

ViStatus VisaLibrary::GetVisaErrorDescription(ViObject vi, ViStatus status, std::string &sText) {
    if (mviStatusDesc == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    QuellinEntry entry(ModuleName, "GetVisaErrorDescription");
    entry.LogBegin(QuellinLevelNote, L"vi", vi, L"status", VisaStatusCode(status));
    char description[VisaApi::TextSize + 1] = {};
    const ViStatus result = mviStatusDesc(vi, status, description);
    description[VisaApi::TextSize] = 0;
    if (result == VI_SUCCESS)
        sText = description;
    entry.LogEnd(VisaStatusSeverity(result), QuellinDescription,
                 FormatString("ErrorDescription(\"%.80s\")", description), L"Err", VisaStatusCode(result));
    return result;
}

ViStatus VisaLibrary::GetAttribute(ViObject vi, ViAttr attribute, std::string &value) {
    if (mviGetAttribute == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    QuellinEntry entry(ModuleName, "GetAttribute");
    const std::wstring sName = VisaAttributeNameAndValueText(attribute, 0).first;
    entry.LogBegin(QuellinLevelNote, L"vi", vi, L"attrName", sName);
    char text[VisaApi::TextSize + 1] = {};
    const ViStatus status = mviGetAttribute(vi, attribute, text);
    text[VisaApi::TextSize] = 0;
    if (status == VI_SUCCESS)
        value = text;
    entry.LogEnd(VisaStatusSeverity(status), QuellinDescription,
                 ToStdWstring(FormatString("GetAttribute(%d, ", static_cast<int>(vi))) + sName + L")",
                 L"attrName", sName, L"attrValue", std::string(text), L"Err", VisaStatusCode(status));
    return status;
}

ViStatus VisaLibrary::GetAttribute(ViObject vi, ViAttr attribute, ViUInt8 &value) {
    return mviGetAttribute == nullptr ? VI_ERROR_LIBRARY_NFOUND
                                      : GetNumber(mviGetAttribute, vi, attribute, value);
}

ViStatus VisaLibrary::GetAttribute(ViObject vi, ViAttr attribute, ViUInt16 &value) {
    return mviGetAttribute == nullptr ? VI_ERROR_LIBRARY_NFOUND
                                      : GetNumber(mviGetAttribute, vi, attribute, value);
}

ViStatus VisaLibrary::GetAttribute(ViObject vi, ViAttr attribute, ViUInt32 &value) {
    return mviGetAttribute == nullptr ? VI_ERROR_LIBRARY_NFOUND
                                      : GetNumber(mviGetAttribute, vi, attribute, value);
}

ViStatus VisaLibrary::SetAttributeRaw(ViObject vi, ViAttr attribute, ViAttrState value) {
    if (mviSetAttribute == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    QuellinEntry entry(ModuleName, "SetAttribute");
    const auto texts = VisaAttributeNameAndValueText(attribute, value);
    entry.LogBegin(QuellinLevelNote, QuellinDescription,
                   ToStdWstring(FormatString("SetAttribute(%d, ", static_cast<int>(vi))) + texts.first +
                       L", " + texts.second + L")",
                   L"attrName", texts.first, L"attrValue", texts.second);
    const ViStatus status = mviSetAttribute(vi, attribute, value);
    entry.LogEnd(VisaStatusSeverity(status), L"Err", VisaStatusCode(status));
    return status;
}

ViStatus VisaLibrary::SetAttribute(ViObject vi, ViAttr attribute, ViUInt8 value) {
    return SetAttributeRaw(vi, attribute, value);
}

ViStatus VisaLibrary::SetAttribute(ViObject vi, ViAttr attribute, ViInt16 lineState) {
    // A line state travels as its 16-bit pattern, as the standard's attribute type is 16 bits wide.
    return SetAttributeRaw(vi, attribute, static_cast<ViUInt16>(lineState));
}

ViStatus VisaLibrary::SetAttribute(ViObject vi, ViAttr attribute, ViUInt16 value) {
    return SetAttributeRaw(vi, attribute, value);
}

ViStatus VisaLibrary::SetAttribute(ViObject vi, ViAttr attribute, ViUInt32 value) {
    return SetAttributeRaw(vi, attribute, value);
}

// ---- Unlogged wrappers ----------------------------------------------------------------------------

ViStatus VisaLibrary::EnableEvent(ViSession vi, ViEventType event, ViUInt16 mechanism,
                                  ViEventFilter context) {
    return mviEnableEvent == nullptr ? VI_ERROR_LIBRARY_NFOUND
                                     : mviEnableEvent(vi, event, mechanism, context);
}

ViStatus VisaLibrary::DisableEvent(ViSession vi, ViEventType event, ViUInt16 mechanism) {
    return mviDisableEvent == nullptr ? VI_ERROR_LIBRARY_NFOUND : mviDisableEvent(vi, event, mechanism);
}

ViStatus VisaLibrary::DiscardEvents(ViSession vi, ViEventType event, ViUInt16 mechanism) {
    return mviDiscardEvents == nullptr ? VI_ERROR_LIBRARY_NFOUND : mviDiscardEvents(vi, event, mechanism);
}

ViStatus VisaLibrary::WaitOnEvent(ViSession vi, ViEventType event, ViUInt32 timeout, ViEventType *type,
                                  ViEvent *context) {
    return mviWaitOnEvent == nullptr ? VI_ERROR_LIBRARY_NFOUND
                                     : mviWaitOnEvent(vi, event, timeout, type, context);
}

ViStatus VisaLibrary::Flush(ViSession vi, ViUInt16 mask) {
    return mviFlush == nullptr ? VI_ERROR_LIBRARY_NFOUND : mviFlush(vi, mask);
}

ViStatus VisaLibrary::Lock(ViSession vi, ViUInt32 timeout) {
    return mviLock == nullptr ? VI_ERROR_LIBRARY_NFOUND
                              : mviLock(vi, VI_EXCLUSIVE_LOCK, timeout, nullptr, nullptr);
}

ViStatus VisaLibrary::Unlock(ViSession vi) {
    return mviUnlock == nullptr ? VI_ERROR_LIBRARY_NFOUND : mviUnlock(vi);
}
