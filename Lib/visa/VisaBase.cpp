// The VISA session: open sequence, attribute setters that write only what differs, reads and
// writes with the status mappings of each resource kind, buffers, locks, error texts and the
// serial line operations.
#include "visa/VisaBase.h"

#include <algorithm>
#include <cstring>

#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "core/Timing.h"
#include "logging/QuellinEntry.h"

namespace {

constexpr const char *ModuleName = "VisaBase";

struct FallbackText {
    ViStatus status;
    const char *text;
};

constexpr FallbackText FallbackTexts[] = {
    {VI_ERROR_RSRC_NFOUND,
     "Insufficient location information or the device or resource is not present in the system."},
    {VI_ERROR_TMO, "Timeout expired before operation completed."},
    {VI_ERROR_NSUP_ATTR_STATE, "Not supported attribute."},
    {VI_ERROR_INP_PROT_VIOL, "Device reported an input protocol error during transfer."},
    {VI_ERROR_INV_MASK, "Invalid buffer mask specified."},
    {VI_ERROR_MACHINE_NAVAIL, "Machine not available"},
};

DWORD Code(ViStatus status) {
    return VisaStatusCode(status);
}

// The process-wide time base of the serial waits, made on first use.
Timing &SerialWaitTiming() {
    static Timing timing;
    return timing;
}

} // namespace

VisaBase::VisaBase(int nLibraryPreference) : mLibrary(nLibraryPreference) {}

VisaBase::~VisaBase() {
    CloseAll();
}

bool VisaBase::IsOpen() const {
    return mLibrary.IsLoaded() && mResourceManager != 0 && mSession != 0;
}

bool VisaBase::IsInVisaErrorOrWarningRange(DWORD dwCode) {
    return (dwCode >= 0x3FFF000C && dwCode <= 0x3FFF00A9) || (dwCode >= 0xBFFF0000 && dwCode <= 0xBFFF00A8);
}

bool VisaBase::IsSocketResourceName(const std::string &sName) {
    return MatchesRegex(sName, "^TCPIP[0-9]*::.+::[0-9]+::SOCKET$", true);
}

// ---- Open and close -------------------------------------------------------------------------------

DWORD VisaBase::OpenDevice(ViUInt32 openTimeout) {
    QuellinEntry entry("VisaLibrary", "OpenDevice");
    entry.LogBegin(QuellinLevelNote, L"resource", msResourceName, L"openTimeout", openTimeout);
    DWORD own = mLibrary.LoadVisaDLL();
    if (own == 0)
        own = CloseSession();
    ViStatus status = VI_SUCCESS;
    if (own == 0) {
        if (mResourceManager == 0) {
            ViSession rm = 0;
            status = mLibrary.OpenDefaultRM(&rm);
            if (status == VI_WARN_CONFIG_NLOADED)
                status = VI_SUCCESS;
            if (status == VI_SUCCESS)
                mResourceManager = rm;
        }
        if (status == VI_SUCCESS) {
            ViSession session = 0;
            status = mLibrary.Open(mResourceManager, msResourceName, VI_EXCLUSIVE_LOCK | VI_LOAD_CONFIG,
                                   openTimeout, &session);
            if (status == VI_WARN_CONFIG_NLOADED)
                status = VI_SUCCESS;
            if (status == VI_SUCCESS)
                mSession = session;
        }
        if (status == VI_SUCCESS) {
            own = ReadResourceInfo();
            if (status == VI_SUCCESS && mInterfaceType != VI_INTF_ASRL && mInterfaceType != VI_INTF_USB)
                status = mLibrary.Clear(mSession);
            if (own == 0 && status == VI_SUCCESS && mnDeviceKind == VisaDeviceSOCKET)
                mLibrary.SetAttribute(mSession, VI_ATTR_TCPIP_KEEPALIVE, VI_TRUE);
            if (own == 0 && status == VI_SUCCESS)
                own = SetTimeout(mTimeout);
            if (own == 0 && status == VI_SUCCESS)
                own = SetTermination(mbReadTerminationInUse, mReadTermination, mbTerminationCharacterEnabled);
            if (own == 0 && status == VI_SUCCESS)
                own = SetEndSettings(mbSendEnd, mWriteTermination, mbAppendWriteTermination);
            if (own == 0 && status == VI_SUCCESS)
                status = mLibrary.SetBuf(mSession, VI_READ_BUF | VI_WRITE_BUF, 512);
            if (own == 0 && status == VI_SUCCESS && IsSerial()) {
                mLibrary.SetBuf(mSession, VI_IO_IN_BUF | VI_IO_OUT_BUF, 10240);
                status = mLibrary.SetAttribute(mSession, VI_ATTR_MAX_QUEUE_LENGTH, ViUInt32(1024));
                if (status == VI_SUCCESS) {
                    mbSerialCharacterEvent = true;
                    status = mLibrary.EnableEvent(mSession, VI_EVENT_ASRL_CHAR, VI_QUEUE, VI_NULL);
                    if (status == VI_ERROR_INV_EVENT) {
                        mbSerialCharacterEvent = false;
                        status = VI_SUCCESS;
                    }
                }
            }
        }
        // viOpen took an exclusive lock.
        own = FirstNonZero(own, Unlock());
    }
    const DWORD result = own != 0 ? own : Code(status);
    // A half-open session is not kept: IsOpen would say "open" and a retry would not open again.
    if (result != 0 && mSession != 0)
        CloseSession();
    entry.LogEnd(ResultSeverityText(result), L"session", mSession, L"deviceKind",
                 static_cast<int>(mnDeviceKind), L"Err", result);
    return result;
}

DWORD VisaBase::ReadResourceInfo() {
    ViStatus status = mLibrary.GetAttribute(mSession, VI_ATTR_INTF_TYPE, mInterfaceType);
    if (status == VI_SUCCESS)
        mnDeviceKind = DetermineDeviceKind();
    if (status == VI_SUCCESS)
        status = mLibrary.GetAttribute(mSession, VI_ATTR_IO_PROT, mIOProtocol);
    if (status == VI_SUCCESS) {
        // For the call log only.
        std::string sText;
        ViUInt32 nValue = 0;
        ViUInt16 nId = 0;
        mLibrary.GetAttribute(mSession, VI_ATTR_RSRC_NAME, sText);
        mLibrary.GetAttribute(mSession, VI_ATTR_RSRC_SPEC_VERSION, nValue);
        mLibrary.GetAttribute(mSession, VI_ATTR_RSRC_IMPL_VERSION, nValue);
        mLibrary.GetAttribute(mSession, VI_ATTR_RSRC_MANF_NAME, sText);
        mLibrary.GetAttribute(mSession, VI_ATTR_RSRC_MANF_ID, nId);
        if (mnDeviceKind == VisaDeviceINSTR) {
            ViUInt16 isHiSLIP = VI_FALSE;
            const ViStatus hislip = mLibrary.GetAttribute(mSession, VI_ATTR_TCPIP_IS_HISLIP, isHiSLIP);
            if (hislip == VI_SUCCESS)
                mbHiSLIP = isHiSLIP == VI_TRUE;
            else if (hislip == VI_ERROR_NSUP_ATTR)
                mbHiSLIP = Contains(msResourceName, "::hislip", true);
        } else {
            mbHiSLIP = false;
        }
    }
    return Code(status);
}

VisaDeviceKind VisaBase::DetermineDeviceKind() {
    if (!IsOpen())
        return VisaDeviceUnknown;
    switch (mInterfaceType) {
    case VI_INTF_GPIB:
    case VI_INTF_GPIB_VXI:
        return VisaDeviceGPIB;
    case VI_INTF_ASRL:
        return VisaDeviceASRL;
    case VI_INTF_VXI:
        return VisaDeviceINSTR;
    case VI_INTF_USB:
        return VisaDeviceUSB;
    case VI_INTF_TCPIP: {
        std::string sClass;
        const ViStatus status = mLibrary.GetAttribute(mSession, VI_ATTR_RSRC_CLASS, sClass);
        if (status == VI_SUCCESS)
            return CompareStrings(sClass, "INSTR", true) == 0 ? VisaDeviceINSTR : VisaDeviceSOCKET;
        if (status != VI_ERROR_NSUP_ATTR)
            return VisaDeviceUnknown;
        return IsSocketResourceName(msResourceName) ? VisaDeviceSOCKET : VisaDeviceINSTR;
    }
    default:
        return VisaDeviceUnknown;
    }
}

DWORD VisaBase::CloseSession() {
    if (IsOpen() && IsSerial() && mbSerialCharacterEvent)
        mLibrary.DisableEvent(mSession, VI_EVENT_ASRL_CHAR, VI_ALL_MECH);
    if (mSession != 0) {
        mLibrary.Close(mSession);
        mSession = 0;
    }
    mbSerialCharacterEvent = false;
    mbConnectionLost = false;
    return 0;
}

DWORD VisaBase::CloseAll() {
    CloseSession();
    if (mResourceManager != 0) {
        mLibrary.Close(mResourceManager);
        mResourceManager = 0;
    }
    mLibrary.Unload();
    return 0;
}

// ---- Transfers ------------------------------------------------------------------------------------

void VisaBase::NoteConnectionStatus(ViStatus status) {
    if (status == VI_ERROR_CONN_LOST || (status == VI_ERROR_IO && mnDeviceKind == VisaDeviceSOCKET))
        mbConnectionLost = true;
}

DWORD VisaBase::Read(size_t nCount, std::string &sText) {
    sText.clear();
    if (!IsOpen() || nCount == 0)
        return 0;
    size_t n = std::min(nCount, MaxReadCount);
    if (mnDeviceKind == VisaDeviceSOCKET && !mbUnchunkedRead && mbReadTerminationInUse && mnReadChunkSize > 0)
        n = std::min<size_t>(n, mnReadChunkSize);
    if (n > mnReadBufferSize) {
        mReadBuffer.reset();
        mReadBuffer.reset(new ViUInt8[n + 10]);
        mnReadBufferSize = static_cast<ViUInt32>(n + 10);
    }
    ViUInt32 nReceived = 0;
    const ViStatus status = mLibrary.Read(mSession, mReadBuffer.get(), static_cast<ViUInt32>(n), &nReceived);
    NoteConnectionStatus(status);
    nReceived = std::min<ViUInt32>(nReceived, static_cast<ViUInt32>(n));
    if (nReceived > 0)
        sText.assign(reinterpret_cast<const char *>(mReadBuffer.get()), nReceived);
    switch (status) {
    case VI_SUCCESS_TERM_CHAR:
    case VI_SUCCESS_MAX_CNT:
        return 0;
    case VI_ERROR_IO:
        return nReceived > 0 && (IsSerial() || mnDeviceKind == VisaDeviceSOCKET) ? 0 : Code(status);
    case VI_ERROR_ASRL_FRAMING:
        return nReceived > 0 && IsSerial() ? 0 : Code(status);
    case VI_ERROR_INV_PROT:
        return ResultCode::TcpipResponseTooLarge;
    default:
        return Code(status);
    }
}

DWORD VisaBase::Write(const std::string &sText) {
    if (!IsOpen())
        return 0;
    if (IsSerial() && mbSerialCharacterEvent) {
        const ViStatus discarded = mLibrary.DiscardEvents(mSession, VI_EVENT_ASRL_CHAR, VI_ALL_MECH);
        if (discarded != VI_SUCCESS && discarded != VI_SUCCESS_QUEUE_EMPTY)
            return Code(discarded);
    }
    std::string sCopy = sText;
    if (mbAppendWriteTermination && !sCopy.empty() && static_cast<ViUInt8>(sCopy.back()) != mWriteTermination)
        sCopy += static_cast<char>(mWriteTermination);
    ViUInt32 nWritten = 0;
    const ViStatus status = mLibrary.Write(
        mSession, sCopy.data(), static_cast<ViUInt32>(std::min<size_t>(sCopy.size(), UINT32_MAX)), &nWritten);
    NoteConnectionStatus(status);
    if (status == VI_ERROR_IO && IsSerial())
        return 0;
    return Code(status);
}

DWORD VisaBase::WriteRead(const std::string &sCommand, size_t nCount, std::string &sResponse) {
    sResponse.clear();
    if (!sCommand.empty()) {
        const DWORD written = Write(sCommand);
        if (written != 0)
            return written;
    }
    if (nCount == 0)
        return 0;
    DWORD result = 0;
    for (int attempt = 0; attempt < 5 && sResponse.size() < nCount; ++attempt) {
        std::string sPiece;
        result = Read(nCount - sResponse.size(), sPiece);
        sResponse += sPiece;
        if (result == 0)
            break;
    }
    return result;
}

DWORD VisaBase::CheckIdentification(const std::string &sExpected) {
    DWORD result = OpenDevice(5000);
    bool bMatched = false;
    if (result == 0) {
        std::string sResponse;
        result = WriteRead("*IDN?", 300, sResponse);
        if (result == 0)
            bMatched = Contains(sResponse, sExpected, true);
    }
    result = FirstNonZero(result, CloseAll());
    if (result == 0 && !bMatched)
        return VisaIdentificationMismatch;
    return result;
}

// ---- Settings -------------------------------------------------------------------------------------

DWORD VisaBase::SetTimeout(ViUInt32 milliseconds) {
    if (!IsOpen()) {
        mTimeout = milliseconds;
        return 0;
    }
    ViUInt32 current = 0;
    ViStatus status = mLibrary.GetAttribute(mSession, VI_ATTR_TMO_VALUE, current);
    if (status == VI_SUCCESS && current != milliseconds) {
        status = mLibrary.SetAttribute(mSession, VI_ATTR_TMO_VALUE, milliseconds);
        if (status == VI_SUCCESS)
            status = mLibrary.GetAttribute(mSession, VI_ATTR_TMO_VALUE, current);
    }
    if (status == VI_SUCCESS)
        mTimeout = current;
    return Code(status);
}

DWORD VisaBase::SetTermination(bool bReadTerminationInUse, ViUInt8 character, bool bCharacterEnabled) {
    if (!IsOpen()) {
        mbReadTerminationInUse = bReadTerminationInUse;
        mReadTermination = character;
        mbTerminationCharacterEnabled = bCharacterEnabled;
        return 0;
    }
    ViStatus status = VI_SUCCESS;
    if (!bCharacterEnabled) {
        mReadTermination = character;
    } else {
        ViUInt8 current = 0;
        status = mLibrary.GetAttribute(mSession, VI_ATTR_TERMCHAR, current);
        if (status == VI_SUCCESS && current != character) {
            status = mLibrary.SetAttribute(mSession, VI_ATTR_TERMCHAR, character);
            if (status == VI_SUCCESS)
                status = mLibrary.GetAttribute(mSession, VI_ATTR_TERMCHAR, current);
        }
        if (status == VI_SUCCESS)
            mReadTermination = current;
    }
    mbTerminationCharacterEnabled = bCharacterEnabled;
    if (status == VI_SUCCESS) {
        const bool bWant = bReadTerminationInUse && bCharacterEnabled;
        const ViAttr attribute = IsSerial() ? VI_ATTR_ASRL_END_IN : VI_ATTR_TERMCHAR_EN;
        const ViUInt16 on = IsSerial() ? VI_ASRL_END_TERMCHAR : VI_TRUE;
        const ViUInt16 off = IsSerial() ? VI_ASRL_END_NONE : VI_FALSE;
        ViUInt16 current = 0;
        status = mLibrary.GetAttribute(mSession, attribute, current);
        if (status == VI_SUCCESS && (current == on) != bWant) {
            status = mLibrary.SetAttribute(mSession, attribute, bWant ? on : off);
            if (status == VI_SUCCESS)
                status = mLibrary.GetAttribute(mSession, attribute, current);
        }
    }
    if (status == VI_SUCCESS && mInterfaceType != VI_INTF_GPIB && mInterfaceType != VI_INTF_USB &&
        !mbHiSLIP) {
        const bool bSuppress =
            !bReadTerminationInUse || (mnDeviceKind == VisaDeviceSOCKET && bCharacterEnabled);
        ViUInt16 current = 0;
        status = mLibrary.GetAttribute(mSession, VI_ATTR_SUPPRESS_END_EN, current);
        if (status == VI_SUCCESS && (current == VI_TRUE) != bSuppress) {
            status = mLibrary.SetAttribute(mSession, VI_ATTR_SUPPRESS_END_EN, bSuppress ? VI_TRUE : VI_FALSE);
            if (status == VI_ERROR_NSUP_ATTR || status == VI_ERROR_NSUP_ATTR_STATE)
                status = VI_SUCCESS;
            else if (status == VI_SUCCESS)
                status = mLibrary.GetAttribute(mSession, VI_ATTR_SUPPRESS_END_EN, current);
        }
    }
    if (status == VI_SUCCESS)
        mbReadTerminationInUse = bReadTerminationInUse;
    return Code(status);
}

DWORD VisaBase::SetEndSettings(bool bSendEnd, ViUInt8 writeTermination, bool bAppend) {
    ViStatus status = VI_SUCCESS;
    bool bEffective = bSendEnd;
    if (IsOpen()) {
        ViUInt16 current = 0;
        status = mLibrary.GetAttribute(mSession, VI_ATTR_SEND_END_EN, current);
        bEffective = current == VI_TRUE;
        if (status == VI_SUCCESS && bEffective != bSendEnd) {
            status = mLibrary.SetAttribute(mSession, VI_ATTR_SEND_END_EN, bSendEnd ? VI_TRUE : VI_FALSE);
            if (status == VI_SUCCESS)
                status = mLibrary.GetAttribute(mSession, VI_ATTR_SEND_END_EN, current);
            bEffective = current == VI_TRUE;
        }
    }
    if (status == VI_SUCCESS) {
        mbSendEnd = bEffective;
        mWriteTermination = writeTermination;
        mbAppendWriteTermination = bAppend;
    }
    return Code(status);
}

// ---- Buffers, device clear, locks -----------------------------------------------------------------

DWORD VisaBase::ClearInputBuffers() {
    return ClearOrFlushBuffer(VI_IO_IN_BUF_DISCARD);
}

DWORD VisaBase::DropWaitingInput() {
    if (mnDeviceKind != VisaDeviceSOCKET)
        return ClearInputBuffers();
    if (!IsOpen())
        return 0;
    // Reads that do not wait: they drop what came and, on a socket resource, report a peer that
    // closed or reset the connection, which the buffer clearing cannot see.
    DWORD result = Code(mLibrary.SetAttribute(mSession, VI_ATTR_TMO_VALUE, VI_TMO_IMMEDIATE));
    std::string sDropped;
    for (size_t nDropped = 0; result == 0 && nDropped < MaxDroppedInput; nDropped += sDropped.size()) {
        result = Read(MaxDroppedInput, sDropped);
        if (sDropped.empty())
            break;
    }
    if (result == Code(VI_ERROR_TMO) || mbConnectionLost)
        result = 0;
    const ViStatus restored = mLibrary.SetAttribute(mSession, VI_ATTR_TMO_VALUE, mTimeout);
    return FirstNonZero(result, Code(restored));
}

DWORD VisaBase::ClearOutputBuffers() {
    return ClearOrFlushBuffer(VI_IO_OUT_BUF_DISCARD);
}

DWORD VisaBase::FlushInputBuffers() {
    return ClearOrFlushBuffer(VI_IO_IN_BUF);
}

DWORD VisaBase::FlushOutputBuffers() {
    return ClearOrFlushBuffer(VI_IO_OUT_BUF);
}

DWORD VisaBase::ClearOrFlushBuffer(ViUInt16 mask) {
    if (!IsOpen() || mInterfaceType == VI_INTF_GPIB || mInterfaceType == VI_INTF_USB)
        return 0;
    const ViStatus status = mLibrary.Flush(mSession, mask);
    const DWORD code = Code(status);
    if (code != 0 && !IsInVisaErrorOrWarningRange(code)) {
        QuellinEntry entry(ModuleName, "ClearOrFlushBuffer");
        entry.Log(QuellinLevelWarning, L"status", code, QuellinDescription,
                  L"viFlush returned a status code not within the valid VISA error or warning range");
        return 0;
    }
    if (status == VI_ERROR_INV_MASK && (mInterfaceType == VI_INTF_TCPIP || mInterfaceType == VI_INTF_ASRL))
        return 0;
    if (status == VI_ERROR_IO && mInterfaceType == VI_INTF_TCPIP)
        return 0;
    return code;
}

DWORD VisaBase::ClearDevice() {
    if (!IsOpen() || mInterfaceType != VI_INTF_GPIB)
        return 0;
    return Code(mLibrary.Clear(mSession));
}

DWORD VisaBase::Lock(ViUInt32 milliseconds) {
    if (!IsOpen())
        return 0;
    const ViStatus status = mLibrary.Lock(mSession, milliseconds);
    if (status == VI_SUCCESS_NESTED_EXCLUSIVE || status == VI_SUCCESS_NESTED_SHARED)
        return 0;
    return Code(status);
}

DWORD VisaBase::Unlock() {
    if (!IsOpen())
        return 0;
    const ViStatus status = mLibrary.Unlock(mSession);
    if (status == VI_SUCCESS_NESTED_EXCLUSIVE || status == VI_SUCCESS_NESTED_SHARED ||
        status == VI_ERROR_INV_OBJECT || status == VI_ERROR_SESN_NLOCKED)
        return 0;
    return Code(status);
}

// ---- Error texts ----------------------------------------------------------------------------------

DWORD VisaBase::GetErrorString(HostWindow, DWORD dwCode, char *buffer, uint32_t size, uint32_t *length) {
    QuellinEntry entry(ModuleName, "GetErrorString()");
    entry.LogBegin(QuellinLevelNote, L"code", dwCode);
    ClearErrorText(buffer, size, length);
    DWORD result = 0;
    std::string sText;
    if (dwCode == ResultCode::TcpipResponseTooLarge)
        sText = ResultCode::TcpipResponseTooLargeText;
    else if (dwCode == ResultCode::VisaLibraryNotFound)
        sText = ResultCode::VisaLibraryNotFoundText;
    if (sText.empty()) {
        if (!mLibrary.IsLoaded())
            result = mLibrary.LoadVisaDLL();
        if (result == 0) {
            const ViStatus status = mLibrary.GetVisaErrorDescription(
                mSession, static_cast<ViStatus>(static_cast<uint32_t>(dwCode)), sText);
            if (status == VI_WARN_UNKNOWN_STATUS)
                sText.clear();
            else if (status != VI_SUCCESS)
                result = Code(status);
        }
    }
    // The fallback texts serve also when the library could not be loaded.
    if (sText.empty())
        for (const FallbackText &fallback : FallbackTexts)
            if (Code(fallback.status) == dwCode) {
                sText = fallback.text;
                result = 0;
            }
    if (!sText.empty())
        CopyStringToBuffer(sText, buffer, size, length);
    entry.LogEnd(
        ResultSeverityText(result), QuellinDescription,
        ToStdWstring(FormatString("GetErrorString() returns %lu", static_cast<unsigned long>(result))),
        L"Error", result, L"response", sText);
    return result;
}

// ---- Serial operations ----------------------------------------------------------------------------

DWORD VisaBase::ConfigureSerialPort(uint32_t baudRate, int parity, int dataBits, int stopBits,
                                    bool bAssertDTRAndRTS, bool bXonXoff) {
    if (!IsOpen() || !IsSerial())
        return 0;
    DWORD own = 0;
    auto refused = [&own](ViStatus status, DWORD code) {
        if (status == VI_ERROR_NSUP_ATTR_STATE)
            own = code;
        return status;
    };
    ViStatus status =
        refused(mLibrary.SetAttribute(mSession, VI_ATTR_ASRL_BAUD, ViUInt32(baudRate)), VisaBaudRateRefused);
    if (status == VI_SUCCESS) {
        const ViUInt16 value = parity >= 1 && parity <= 4 ? static_cast<ViUInt16>(parity) : VI_ASRL_PAR_NONE;
        status = refused(mLibrary.SetAttribute(mSession, VI_ATTR_ASRL_PARITY, value), VisaParityRefused);
    }
    if (status == VI_SUCCESS) {
        const ViUInt16 value = dataBits >= 5 && dataBits <= 7 ? static_cast<ViUInt16>(dataBits) : ViUInt16(8);
        status = refused(mLibrary.SetAttribute(mSession, VI_ATTR_ASRL_DATA_BITS, value), VisaDataBitsRefused);
    }
    if (status == VI_SUCCESS) {
        const ViUInt16 value = stopBits == 1   ? VI_ASRL_STOP_ONE5
                               : stopBits == 2 ? VI_ASRL_STOP_TWO
                                               : VI_ASRL_STOP_ONE;
        status = refused(mLibrary.SetAttribute(mSession, VI_ATTR_ASRL_STOP_BITS, value), VisaStopBitsRefused);
    }
    if (status == VI_SUCCESS) {
        ViUInt16 current = 0;
        const ViUInt16 wanted = bXonXoff ? VI_ASRL_FLOW_XON_XOFF : VI_ASRL_FLOW_NONE;
        status = mLibrary.GetAttribute(mSession, VI_ATTR_ASRL_FLOW_CNTRL, current);
        if (status == VI_SUCCESS && current != wanted)
            status = refused(mLibrary.SetAttribute(mSession, VI_ATTR_ASRL_FLOW_CNTRL, wanted),
                             VisaFlowControlRefused);
    }
    if (status == VI_SUCCESS && bAssertDTRAndRTS)
        status = refused(mLibrary.SetAttribute(mSession, VI_ATTR_ASRL_DTR_STATE, VI_STATE_ASSERTED),
                         VisaDTRStateRefused);
    const DWORD result = own != 0 ? own : Code(status);
    if (result == 0 && bAssertDTRAndRTS)
        return SetRTSState(true);
    return result;
}

DWORD VisaBase::SetRTSState(bool bAsserted) {
    if (!IsOpen() || !IsSerial())
        return 0;
    return Code(mLibrary.SetAttribute(mSession, VI_ATTR_ASRL_RTS_STATE,
                                      bAsserted ? VI_STATE_ASSERTED : VI_STATE_UNASSERTED));
}

uint32_t VisaBase::GetAvailableBytes() {
    if (!IsOpen())
        return 0;
    ViUInt32 available = 0;
    return mLibrary.GetAttribute(mSession, VI_ATTR_ASRL_AVAIL_NUM, available) == VI_SUCCESS ? available : 0;
}

DWORD VisaBase::WaitForSerialInput(uint32_t timeout, uint32_t &available) {
    available = 0;
    if (!IsOpen() || !IsSerial())
        return 0;
    Timing &timing = SerialWaitTiming();
    const uint32_t start = timing.GetMilliseconds();
    available = GetAvailableBytes();
    uint32_t step = 1;
    DWORD result = 0;
    while (available == 0 && result == 0) {
        const uint32_t remaining = timing.RemainingTime(start, timeout);
        if (remaining == 0)
            break;
        if (mbSerialCharacterEvent) {
            const ViStatus status =
                mLibrary.WaitOnEvent(mSession, VI_EVENT_ASRL_CHAR, remaining, nullptr, nullptr);
            if (status != VI_SUCCESS && status != VI_SUCCESS_QUEUE_NEMPTY && status != VI_WARN_QUEUE_OVERFLOW)
                result = Code(status);
        } else {
            timing.Wait(std::min(step, remaining));
            step = step < 10 ? step + 1 : static_cast<uint32_t>(step * 1.1);
        }
        available = GetAvailableBytes();
    }
    return result;
}
