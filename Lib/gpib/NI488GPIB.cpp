// GPIB device access: open and close, text transfers, time-out codes, status and error queue,
// error texts.
#include "gpib/NI488GPIB.h"

#include "core/LanguageLibrary.h"
#include "core/ResultCodes.h"
#include "core/ResourceWindows.h"
#include "core/StringUtils.h"
#include "core/Timing.h"
#include "gpib/GPIBResultCodes.h"
#include "logging/QuellinEntry.h"
#include "streams/DeviceStreamSeparatedReadWrite.h"
#include "streams/QuietInput.h"

namespace {

// Milliseconds of each NI-488.2 time-out code; codes 1 to 4 (10 to 300 µs) count as 1 ms, code 0
// (no time-out) as one hour.
constexpr unsigned int TimeOutTable[18] = {3600000, 1,   1,    1,    1,     1,     3,      10,     30,
                                           100,     300, 1000, 3000, 10000, 30000, 100000, 300000, 1000000};

} // namespace

NI488GPIB::NI488GPIB(int nBoard, int nPrimary, int nSecondary)
    : NI488GPIBConfiguration(nBoard, nPrimary, nSecondary) {
    SetTimeOutCode(nullptr, 13);
}

NI488GPIB::~NI488GPIB() {
    NI488GPIB::CloseDevice(nullptr);
    NI488GPIB::ReleaseBoard(nullptr);
}

DWORD NI488GPIB::LoadProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &) {
    return 0;
}

DWORD NI488GPIB::SaveProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &) {
    return 0;
}

DWORD NI488GPIB::GetWait() const {
    return mLibrary.GetBusDelay();
}

void NI488GPIB::SetWait(DWORD dwWait) {
    NI488GPIBConfiguration::SetWait(dwWait);
    mLibrary.SetBusDelay(dwWait);
}

DWORD NI488GPIB::LoadProgramSettings(HostWindow context, std::shared_ptr<ProgramSettingsDatabase> &database,
                                     const std::string &sTable) {
    const DWORD result = NI488GPIBConfiguration::LoadProgramSettings(context, database, sTable);
    if (result == 0)
        mLibrary.SetBusDelay(NI488GPIBConfiguration::GetWait());
    return result;
}

DWORD NI488GPIB::SaveProgramSettings(HostWindow context, std::shared_ptr<ProgramSettingsDatabase> &database,
                                     const std::string &sTable) {
    NI488GPIBConfiguration::SetWait(mLibrary.GetBusDelay());
    return NI488GPIBConfiguration::SaveProgramSettings(context, database, sTable);
}

// ---- Open and close ------------------------------------------------------------------------------

DWORD NI488GPIB::PrepareBoard(HostWindow hWnd, int nBoard) {
    DWORD result = mLibrary.LoadGPIB32DLLs();
    if (result == 0 && mLibrary.IsDeviceOpen())
        result = CloseDevice(hWnd);
    if (result == 0)
        result = mLibrary.FindBoard(hWnd, nBoard);
    if (result == 0)
        result = mLibrary.ConfigBoardGPIB(hWnd, NI488::IbcAUTOPOLL, 0);
    return result;
}

DWORD NI488GPIB::CheckAddress(int nBoard, int nPrimary, int nSecondary) {
    if (!IsInRange(nBoard, 0, 3))
        return GPIBResult::BoardOutOfRange;
    if (!IsInRange(nPrimary, 0, 30) || (nSecondary != 0 && !IsInRange(nSecondary, 96, 126)))
        return GPIBResult::Argument;
    return 0;
}

DWORD NI488GPIB::OpenDevice(HostWindow hWnd, int nBoard, int nPrimary, int nSecondary) {
    QuellinEntry entry(GPIBLogModule, L"OpenDevice");
    entry.LogBegin(QuellinLevelNote, L"board", nBoard, L"primary", nPrimary, L"secondary", nSecondary);
    DWORD result = CheckAddress(nBoard, nPrimary, nSecondary);
    if (result == 0)
        result = PrepareBoard(hWnd, nBoard);
    if (result == 0) {
        int nBoardAddress = -1;
        result = AskConfigBoardGPIB(hWnd, NI488::IbcPAD, &nBoardAddress);
        if (result == 0 && nBoardAddress == nPrimary)
            result = GPIBResult::DeviceAtBoardAddress;
    }
    if (result == 0)
        result = mLibrary.OpenDeviceConnection(hWnd, nBoard, nPrimary, nSecondary, mnTimeOutCode,
                                               mnEndOfStringMode, mcEndOfString);
    if (result == 0)
        result = mLibrary.GoOnlineDevice(hWnd);
    if (result == 0) {
        result = mLibrary.LockDevice(hWnd, GetTimeOutMilliseconds());
        if (result == 0) {
            result = ConfigureReaddress(hWnd, GetReaddress());
            if (result == 0 && GetClearDevice())
                result = mLibrary.ClearGPIB(hWnd);
            const DWORD unlock = mLibrary.UnLockDevice(hWnd);
            if (result == 0)
                result = unlock;
        }
    }
    if (result == 0)
        result = mLibrary.CommandGPIB(hWnd, std::string(1, NI488::LLO));
    if (result != 0)
        CloseDevice(hWnd);
    entry.LogEnd(ResultSeverityText(result), L"Err", result);
    return result;
}

DWORD NI488GPIB::OpenBoard(HostWindow hWnd, int nBoard) {
    DWORD result = PrepareBoard(hWnd, nBoard);
    if (result != 0)
        ReleaseBoard(hWnd);
    return result;
}

DWORD NI488GPIB::CloseDevice(HostWindow hWnd) {
    DWORD result = mLibrary.GoToLocalDevice(hWnd);
    result = FirstNonZero(result, mLibrary.GoOfflineDevice(hWnd));
    mLibrary.SetDeviceHandle(-1);
    return FirstNonZero(result, ReleaseBoard(hWnd));
}

DWORD NI488GPIB::ReleaseBoard(HostWindow) {
    mLibrary.SetBoardHandle(-1);
    return 0;
}

// ---- Transfers -----------------------------------------------------------------------------------

DWORD NI488GPIB::GetIdentificationString(HostWindow hWnd, std::string *reply) {
    if (reply == nullptr)
        return GPIBResult::Argument;
    reply->clear();
    if (msIdentificationQuery.empty())
        return 0;
    DWORD result = SendGPIB(hWnd, msIdentificationQuery);
    if (result == 0) {
        result = ReceiveGPIBString(hWnd, reply, 100);
    } else {
        QuellinEntry entry(GPIBLogModule, L"GetIdentificationString");
        entry.Log(QuellinLevelError, QuellinDescription,
                  L"Something went wrong sending the get identification request", L"Err", result);
    }
    return result;
}

DWORD NI488GPIB::ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) {
    ShowConfigurationWindowAsDialog(new NI488GPIBConfigurationDialog(this), hWnd, ConfigurationResource,
                                    wxString(sTitle));
    return 0;
}

DWORD NI488GPIB::AddConfigurationPanel(wxWindow *, PanelResourceNameList &panels) {
    PanelResourceNameList::AddUnique(panels, new NI488GPIBConfigurationDialog(this), ConfigurationResource,
                                     "GPIB");
    return 0;
}

DWORD NI488GPIB::Write(HostWindow hWnd, const std::string &sText, bool bWaitForOPC) {
    return SendCommand(hWnd, sText, bWaitForOPC);
}

DWORD NI488GPIB::SendCommand(HostWindow hWnd, const std::string &sText, bool bWaitForOPC) {
    std::string sDiscarded;
    return SaveSendGPIB(hWnd, sText, bWaitForOPC, 0, &sDiscarded);
}

DWORD NI488GPIB::SaveSendGPIB(HostWindow hWnd, const std::string &sText, bool bWaitForOPC,
                              unsigned long nReadResponseBytes, std::string *response) {
    const std::string sCommand = WithOperationCompleteQuery(sText, bWaitForOPC);
    DWORD result = SendGPIB(hWnd, sCommand);
    if (bWaitForOPC) {
        QuellinEntry entry(GPIBLogModule, L"SaveSendGPIB");
        entry.Log(QuellinLevelWarning, QuellinDescription, L"receive the 1 of the *OPC? question");
        if (result == 0) {
            std::string sReply;
            result = ReceiveGPIBString(hWnd, &sReply, 500);
        }
    }
    if (nReadResponseBytes > 0) {
        QuellinEntry entry(GPIBLogModule, L"SaveSendGPIB");
        entry.Log(QuellinLevelWarning, QuellinDescription, L"No response where it should have responded");
        if (result == 0) {
            std::string sDiscarded;
            result = ReceiveGPIBString(hWnd, response != nullptr ? response : &sDiscarded,
                                       ReadSize(nReadResponseBytes));
        }
    }
    return result;
}

DWORD NI488GPIB::DiscardOutput(HostWindow hWnd, unsigned int nMilliseconds) {
    if (GetClearDevice())
        return ClearGPIB(hWnd);
    // A device holds its output ready: a short time-out finds out that there is none, and each
    // step waits that long rather than the step's time.
    const int nTimeOutCode = GetTimeOutCode();
    DWORD result = SetTimeOutCode(hWnd, NI488::T10ms);
    if (result == 0)
        result = DropUntilQuiet(nMilliseconds, nMilliseconds, [&](uint32_t, bool &bCame) {
                     std::string sPiece;
                     const DWORD read = ReceiveGPIBString(hWnd, &sPiece, DiscardReadSize);
                     // The end of the message leaves nothing more to drop.
                     bCame = read == 0 && !sPiece.empty() && !mLibrary.LastReadEnded();
                     return read == GPIBResult::TimeOut ? 0 : read;
                 }).Result;
    return FirstNonZero(result, SetTimeOutCode(hWnd, nTimeOutCode));
}

DWORD NI488GPIB::GetErrorString(HostWindow, DWORD code, char *buffer, uint32_t nBufferSize, uint32_t *read) {
    ClearErrorText(buffer, nBufferSize, read);
    std::string sText;
    if (code == GPIBResult::SpecificSystemError) {
        sText = FormatString("Specific System Error: %s", msSpecificSystemError.c_str());
    } else if (code >= 0x30000000) {
        sText = LanguageErrorText(code, *this);
    }
    if (!sText.empty())
        CopyStringToBuffer(sText, buffer, nBufferSize, read);
    return 0;
}

std::string NI488GPIB::LanguageErrorText(DWORD code, const NI488GPIBConfiguration &address) {
    clsTovikLng language(LanguageResource);
    const std::string sBoard = FormatValue<int>(address.GetBoard(), "%i");
    const std::string sPrimary = FormatValue<int>(address.GetPrimaryAddress(), "%i");
    std::string sAddress;
    if (address.GetSecondaryAddress() > 0)
        sAddress =
            language.getText(2, sBoard, sPrimary, FormatValue<int>(address.GetSecondaryAddress(), "%i"));
    else
        sAddress = language.getText(1, sBoard, sPrimary);
    return language.getText(code, sAddress);
}

DWORD NI488GPIB::EnableHS488(HostWindow hWnd) {
    return mLibrary.ConfigBoardGPIB(hWnd, NI488::IbcHSCableLength, 5);
}

DWORD NI488GPIB::DisableHS488(HostWindow hWnd) {
    return mLibrary.ConfigBoardGPIB(hWnd, NI488::IbcHSCableLength, 0);
}

DWORD NI488GPIB::QueryDeviceStatus(HostWindow hWnd, DWORD previous) {
    if (previous != 0)
        return previous;
    DWORD result = SendGPIB(hWnd, "*STB?");
    std::string sReply;
    if (result == 0)
        result = ReceiveGPIBString(hWnd, &sReply, 100);
    if (result != 0)
        return result;
    int nStatus = 0;
    if (RegExMatch(sReply, "[+]?[0-9]+", nStatus, false) != 0)
        nStatus = 0;
    if ((nStatus & 4) == 0)
        return 0;
    result = SendGPIB(hWnd, "SYST:ERR?");
    std::string sError;
    if (result == 0)
        result = ReceiveGPIBString(hWnd, &sError, 500);
    if (result != 0)
        return result;
    return SetSpecificSystemError(hWnd, sError);
}

DWORD NI488GPIB::DrainDeviceErrors(HostWindow hWnd) {
    Timing timing;
    const uint32_t nStart = timing.GetMilliseconds();
    DWORD result = 0;
    for (int nAttempt = 0; nAttempt < 30; ++nAttempt) {
        result = QueryDeviceStatus(hWnd, 0);
        if (result == 0 || timing.ElapsedSince(nStart) >= 15000)
            break;
    }
    return result;
}

DWORD NI488GPIB::CheckLastGPIBError(HostWindow, DWORD result) {
    return result;
}

DWORD NI488GPIB::SetSpecificSystemError(HostWindow, const std::string &sText) {
    msSpecificSystemError = sText;
    return GPIBResult::SpecificSystemError;
}

// ---- Time-out ------------------------------------------------------------------------------------

unsigned int NI488GPIB::TimeOutCodeMilliseconds(int nCode) {
    return nCode >= 0 && nCode < 18 ? TimeOutTable[nCode] : 10000;
}

DWORD NI488GPIB::SetTimeOutCode(HostWindow hWnd, int nCode) {
    if (nCode <= 0 || nCode >= 18)
        nCode = NI488::T10s;
    mnTimeOutCode = nCode;
    mLibrary.SetIOTimeOutMilliseconds(TimeOutTable[nCode]);
    if (!mLibrary.IsDeviceOpen())
        return 0;
    return CheckLastGPIBError(hWnd, mLibrary.SetTimeOutGPIB(hWnd, nCode));
}

DWORD NI488GPIB::SetTimeOutMilliseconds(HostWindow hWnd, unsigned int nMilliseconds) {
    int nCode = NI488::T10s;
    for (int nCandidate = NI488::T1ms; nCandidate <= NI488::T1000s; ++nCandidate)
        if (TimeOutTable[nCandidate] >= nMilliseconds) {
            nCode = nCandidate;
            break;
        }
    return SetTimeOutCode(hWnd, nCode);
}

// ---- Forwarding bus calls ------------------------------------------------------------------------

DWORD NI488GPIB::SendGPIB(HostWindow hWnd, const std::string &sText) {
    return CheckLastGPIBError(hWnd, mLibrary.SendGPIB(hWnd, sText));
}

DWORD NI488GPIB::ReceiveGPIBString(HostWindow hWnd, std::string *out, long maxLen) {
    return CheckLastGPIBError(hWnd, mLibrary.ReceiveGPIBString(hWnd, out, maxLen));
}

DWORD NI488GPIB::AskConfigBoardGPIB(HostWindow hWnd, int nOption, int *pnValue) {
    return CheckLastGPIBError(hWnd, mLibrary.AskConfigBoardGPIB(hWnd, nOption, pnValue));
}

DWORD NI488GPIB::ClearGPIB(HostWindow hWnd) {
    return CheckLastGPIBError(hWnd, mLibrary.ClearGPIB(hWnd));
}

DWORD NI488GPIB::ConfigDeviceGPIB(HostWindow hWnd, int nOption, int nValue) {
    return CheckLastGPIBError(hWnd, mLibrary.ConfigDeviceGPIB(hWnd, nOption, nValue));
}

DWORD NI488GPIB::LockDevice(HostWindow hWnd, unsigned int nWaitMilliseconds) {
    return CheckLastGPIBError(hWnd, mLibrary.LockDevice(hWnd, nWaitMilliseconds));
}

DWORD NI488GPIB::UnLockDevice(HostWindow hWnd) {
    return CheckLastGPIBError(hWnd, mLibrary.UnLockDevice(hWnd));
}

DWORD NI488GPIB::ConfigureReaddress(HostWindow hWnd, bool bReaddress) {
    SetReaddress(bReaddress);
    DWORD result = mLibrary.ConfigDeviceGPIB(hWnd, NI488::IbcREADDR, bReaddress ? 1 : 0);
    if (!bReaddress && result == GPIBResult::Capability)
        result = 0;
    return CheckLastGPIBError(hWnd, result);
}
