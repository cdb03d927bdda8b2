// The VISA stream kind: configuration, page, stream, HiSLIP memory file and registration.
#include "visa/VISADeviceStream.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <wx/xrc/xmlres.h>

#include "core/ProgramSettingsDatabase.h"
#include "core/ResourceWindows.h"
#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "core/Timing.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/ExclusiveFile.h"
#include "streams/DeviceStreamClient.h"

namespace {

// Open time-outs of the HiSLIP attempt and of the configured name, in milliseconds.
constexpr ViUInt32 HiSLIPOpenTimeout = 1000;
constexpr ViUInt32 OpenTimeout = 5000;
// Pause between two opens of a socket resource whose server refused.
constexpr uint32_t RefusedOpenPause = 50;

// The termination character of a termination text: its last character, LF for an empty text.
ViUInt8 TerminationCharacter(const std::string &sTermination) {
    return sTermination.empty() ? ViUInt8('\n') : static_cast<ViUInt8>(sTermination.back());
}

// Failures that say nothing about the instrument's HiSLIP form.
bool IsLibraryFailure(DWORD result) {
    return result == ResultCode::VisaLibraryNotFound || result == Platform::EntryPointNotFound;
}

// The stream's page reads stored names exactly as written.
const VisaResourcePatterns StreamPagePatterns = {
    false,
    "^ASRL([0-9]+)::INSTR",
    "^GPIB0::([0-9]+)::INSTR",
    "^TCPIP0::([0-9.]+)::INSTR",
};

const StreamTypeRegistrar gVisaStream(VISAStreamKind, &CreateVISADeviceStream);
const StreamTypeRegistrar gVisaConfiguration(VISAStreamKind, &CreateVISADeviceStreamConfiguration);

} // namespace

// ---- Identifier and configuration -----------------------------------------------------------------

bool VISAIdentifier::MatchesPattern() const {
    return MatchesRegex(msText, msPattern, true);
}

VISADeviceStreamConfiguration::VISADeviceStreamConfiguration() : DeviceStreamConfiguration(VISAStreamKind) {}

DWORD VISADeviceStreamConfiguration::LoadProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable(SettingsTable);
    mIdentifier = VISAIdentifier(database->ReadStdString("Identifier", mIdentifier.GetText()));
    mbTryHiSLIP = database->ReadBool("TryHiSLIP", mbTryHiSLIP);
    database->PopTable();
    return 0;
}

DWORD VISADeviceStreamConfiguration::SaveProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) {
    if (!database)
        return 0;
    database->PushTable(SettingsTable);
    database->WriteStdString("Identifier", mIdentifier.GetText());
    database->WriteBool("TryHiSLIP", mbTryHiSLIP);
    database->PopTable();
    return 0;
}

DWORD VISADeviceStreamConfiguration::ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) {
    ShowConfigurationWindowAsDialog(new VISADeviceStreamConfigurationDialog(this), hWnd,
                                    VisaConfigurationResource, wxString(sTitle));
    return 0;
}

DWORD VISADeviceStreamConfiguration::AddConfigurationDialogPanels(HostWindow, PanelResourceNameList &panels) {
    PanelResourceNameList::AddUnique(panels, new VISADeviceStreamConfigurationDialog(this),
                                     VisaConfigurationResource, VISAStreamKind);
    return 0;
}

bool VISADeviceStreamConfiguration::LessThan(std::shared_ptr<DeviceStreamConfiguration> other) {
    const int c = Compare(other.get());
    if (c != 0)
        return c < 0;
    const auto *visa = dynamic_cast<const VISADeviceStreamConfiguration *>(other.get());
    return visa != nullptr && mIdentifier.GetText() < visa->mIdentifier.GetText();
}

std::string VISADeviceStreamConfiguration::GetIdentifier() {
    return "VISA:" + mIdentifier.GetText();
}

std::shared_ptr<DeviceStreamConfiguration> VISADeviceStreamConfiguration::Copy() const {
    return std::make_shared<VISADeviceStreamConfiguration>(*this);
}

bool VISADeviceStreamConfiguration::HasSameSettings(const DeviceStreamConfiguration &other) const {
    const auto *visa = dynamic_cast<const VISADeviceStreamConfiguration *>(&other);
    return visa != nullptr && GetResourceName() == visa->GetResourceName();
}

bool VISADeviceStreamConfiguration::IsValid() {
    return mIdentifier.IsSet();
}

// ---- HiSLIP memory file ---------------------------------------------------------------------------

std::string VISADeviceStream::MakeHiSLIPResourceName(const VISAIdentifier &identifier) {
    if (!identifier.MatchesPattern())
        return std::string();
    const std::string &sText = identifier.GetText();
    std::string sBoard, sHost, sSuffix;
    RegexMatch(sText, "^(TCPIP[0-9]*)::[^:]+(?:::INSTR)?$", sBoard, false);
    RegexMatch(sText, "^TCPIP[0-9]*::([^:]+)(?:::INSTR)?$", sHost, false);
    sHost = TrimDefault(sHost);
    RegexMatch(sText, "^TCPIP[0-9]*::[^:]+((?:::INSTR)?)$", sSuffix, false);
    if (sSuffix.empty())
        sSuffix = "::INSTR";
    if (sBoard.empty() || sHost.empty())
        return std::string();
    return sBoard + "::" + sHost + "::" + "hislip0" + sSuffix;
}

std::string VISADeviceStream::GetHiSLIPIniPath() {
    const std::string sDirectory = Platform::TemporaryDirectory();
    if (sDirectory.empty())
        return std::string();
    std::error_code error;
    const std::filesystem::path path =
        std::filesystem::absolute(std::filesystem::path(sDirectory) / HiSLIPMemoryFileName, error);
    return error ? std::string() : path.string();
}

bool VISADeviceStream::ShouldTryHiSLIP(const HiSLIPIdentifier &key) {
    const std::string sPath = GetHiSLIPIniPath();
    std::error_code error;
    // A link in place of the file is not ours: it is read as no file.
    if (sPath.empty() || std::filesystem::is_symlink(sPath, error))
        return true;
    std::shared_ptr<ProgramSettingsDatabase> database = CreateINIProgramSettingsDatabase(sPath);
    if (!database)
        return true;
    database->Open();
    database->PushTable(key.Section);
    const bool bValue = database->ReadBool(ToUpper(key.Identifier.GetText()), true);
    database->PopTable();
    database->Close();
    return bValue;
}

void VISADeviceStream::StoreHiSLIPResult(const HiSLIPIdentifier &key, bool bValue) {
    const std::string sPath = GetHiSLIPIniPath();
    if (sPath.empty())
        return;
    namespace fs = std::filesystem;
    std::error_code error;
    // The entry is written into a new file beside the memory file, which then replaces it: a link
    // in its place is replaced, never followed. The new file's name cannot be foreseen and is taken
    // exclusively, so nothing placed in a shared temporary directory beforehand is written through.
    const std::string sStaging = Platform::CreateUniqueFile(sPath + ".");
    if (sStaging.empty())
        return;
    if (fs::is_regular_file(fs::symlink_status(sPath, error)) &&
        !fs::copy_file(sPath, sStaging, fs::copy_options::overwrite_existing, error)) {
        fs::remove(sStaging, error); // the entries already remembered are not given up
        return;
    }
    {
        std::shared_ptr<ProgramSettingsDatabase> database = CreateINIProgramSettingsDatabase(sStaging);
        if (!database) {
            fs::remove(sStaging, error);
            return;
        }
        database->Open();
        database->PushTable(key.Section);
        database->WriteBool(ToUpper(key.Identifier.GetText()), bValue);
        database->PopTable();
        database->Close();
    }
    fs::rename(sStaging, sPath, error);
    if (error)
        fs::remove(sStaging, error);
}

// ---- Stream ---------------------------------------------------------------------------------------

VISADeviceStream::VISADeviceStream() = default;

VISADeviceStream::~VISADeviceStream() = default;

VisaDeviceKind VISADeviceStream::GetDeviceKind() const {
    const auto hold = HoldState();
    return !hold.Cancelled() && mVisa.GetSession().IsOpen() ? mVisa.GetSession().GetDeviceKind()
                                                            : VisaDeviceUnknown;
}

DWORD VISADeviceStream::SetWriteTermination(HostWindow hWnd, const std::string &sTermination, bool bEnabled) {
    const DWORD result = WriteReadDeviceStream::SetWriteTermination(hWnd, sTermination, bEnabled);
    if (result != 0)
        return result;
    // A disabled termination appends nothing, not even its character.
    return mVisa.GetSession().SetEndSettings(bEnabled, TerminationCharacter(sTermination),
                                             bEnabled && !sTermination.empty());
}

DWORD VISADeviceStream::SetReadTermination(HostWindow hWnd, const std::string &sTermination, bool bEnabled) {
    const DWORD result = WriteReadDeviceStream::SetReadTermination(hWnd, sTermination, bEnabled);
    if (result != 0)
        return result;
    return mVisa.GetSession().SetTermination(bEnabled, TerminationCharacter(sTermination),
                                             !sTermination.empty());
}

DWORD VISADeviceStream::SetTimeout(HostWindow hWnd, double dSeconds) {
    const DWORD visa = mVisa.GetSession().SetTimeout(SaturatingToUnsigned(SecondsToMilliseconds(dSeconds)));
    const DWORD base = WriteReadDeviceStream::SetTimeout(hWnd, dSeconds);
    return FirstNonZero(visa, base);
}

DWORD VISADeviceStream::Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                                DeviceStreamClient *clientEntry) {
    DWORD result = VerifyCorrectConfigurationObject(configuration, VISAStreamKind);
    if (result == 0 && configuration)
        SetLockName(configuration->GetIdentifier());
    if (result == 0 && IsFirstClient(hWnd, clientEntry)) {
        auto *visa = dynamic_cast<VISADeviceStreamConfiguration *>(configuration.get());
        if (visa == nullptr)
            return StreamResult::InvalidConfigurationObject;
        const std::string sResource = visa->GetResourceName();
        mVisa.SetReadChunkSize(visa->GetReadChunkSize() > 0 ? static_cast<ViUInt32>(visa->GetReadChunkSize())
                                                            : 0);
        mVisa.SetUnchunkedRead(visa->GetUnchunkedRead());
        if (visa->GetTryHiSLIP())
            TryHiSLIPConnect(hWnd, sResource, clientEntry);
        result = 0;
        if (!mVisa.GetSession().IsOpen()) {
            mVisa.SetResourceName(sResource);
            result = OpenRetryingRefused(sResource, clientEntry);
        }
        if (result == 0)
            mbConnected = true;
        if (result == 0)
            result = SetTimeout(hWnd, mParameters.dTimeout);
        if (result == 0)
            result =
                SetReadTermination(hWnd, mParameters.sReadTermination, mParameters.bReadTerminationEnabled);
        if (result == 0)
            result = SetWriteTermination(hWnd, mParameters.sWriteTermination,
                                         mParameters.bWriteTerminationEnabled);
    }
    if (result == 0 && IsConnected())
        RegisterClient(hWnd, clientEntry);
    return result;
}

DWORD VISADeviceStream::OpenRetryingRefused(const std::string &sResourceName, DeviceStreamClient *client) {
    // A socket resource whose server refuses (it restarts, say) is tried again until the stream's
    // time-out, as the TCP stream does, with a pause between the tries that sleeps, unless the
    // client gave up.
    const bool bSocket = VisaBase::IsSocketResourceName(sResourceName);
    const uint32_t timeout = SaturatingToUnsigned(SecondsToMilliseconds(mParameters.dTimeout));
    Timing timer;
    const uint32_t start = timer.GetMilliseconds();
    for (;;) {
        mParameters.Delayer.WaitRemainingDelay();
        DWORD result = 0;
        {
            // Every try passes the client, the first one too.
            const ConnectTry attempt(client);
            if (!attempt.IsLetIn())
                return StreamResult::StreamNotConnected;
            result = mVisa.Open(OpenTimeout);
        }
        mParameters.Delayer.StoreLastCommunicationTime();
        const uint32_t remaining = timer.RemainingTime(start, timeout);
        if (!bSocket || result != VisaStatusCode(VI_ERROR_RSRC_NFOUND) || remaining == 0)
            return result;
        timer.Sleep(std::min(remaining, RefusedOpenPause));
    }
}

DWORD VISADeviceStream::TryHiSLIPConnect(HostWindow, const std::string &sResourceName,
                                         DeviceStreamClient *client) {
    const std::string sHiSLIP = MakeHiSLIPResourceName(VISAIdentifier(sResourceName));
    if (sHiSLIP.empty())
        return 0;
    const HiSLIPIdentifier key{VISAIdentifier(sHiSLIP)};
    if (!ShouldTryHiSLIP(key))
        return 0;
    mVisa.SetResourceName(sHiSLIP);
    mParameters.Delayer.WaitRemainingDelay();
    DWORD result = 0;
    {
        const ConnectTry attempt(client);
        if (!attempt.IsLetIn())
            return StreamResult::StreamNotConnected;
        result = mVisa.Open(HiSLIPOpenTimeout);
    }
    mParameters.Delayer.StoreLastCommunicationTime();
    if ((result != 0 || !mVisa.GetSession().IsOpen()) && !IsLibraryFailure(result))
        StoreHiSLIPResult(key, false);
    return result;
}

DWORD VISADeviceStream::Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) {
    if (!UnregisterClient(hWnd, clientEntry))
        return 0;
    mParameters.Delayer.WaitRemainingDelay();
    mVisa.Close();
    mParameters.Delayer.StoreLastCommunicationTime();
    mbConnected = false;
    return 0;
}

bool VISADeviceStream::IsConnected() {
    return WriteReadDeviceStream::IsConnected() && !mVisa.GetSession().IsConnectionLost();
}

DWORD VISADeviceStream::Lock(HostWindow hWnd, double dSeconds) {
    DWORD result = WriteReadDeviceStream::Lock(hWnd, dSeconds);
    if (result != 0)
        return result;
    {
        // The session is the stream's state; the named lock, had now, was waited for without it.
        const auto hold = HoldState();
        result = hold.Cancelled()
                     ? ResultCode::NoDriverForDeviceID
                     : mVisa.GetSession().Lock(SaturatingToUnsigned(SecondsToMilliseconds(dSeconds)));
    }
    if (result != 0)
        WriteReadDeviceStream::Unlock(hWnd);
    return result;
}

DWORD VISADeviceStream::Unlock(HostWindow hWnd) {
    DWORD visa = 0;
    {
        // What the lock took is given back, also by a removed driver.
        const auto hold = HoldState(StreamStateLock::Wait::ToTheEnd);
        visa = mVisa.GetSession().Unlock();
    }
    const DWORD base = WriteReadDeviceStream::Unlock(hWnd);
    return FirstNonZero(visa, base);
}

DWORD VISADeviceStream::Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) {
    std::string sText = WithOperationCompleteQuery(sCommand, bWaitForOPC);
    DWORD result = 0;
    if (!sText.empty()) {
        if (!mVisa.GetSession().IsOpen())
            return StreamResult::StreamNotConnected;
        sText = WithWriteTermination(sText);
        mParameters.Delayer.WaitRemainingDelay();
        result = mVisa.GetSession().Write(sText);
        mParameters.Delayer.StoreLastCommunicationTime();
        if (result == 0)
            mdwLastWriteCount = static_cast<DWORD>(sText.size());
    }
    if (result == 0 && bWaitForOPC) {
        mParameters.Delayer.WaitRemainingDelay();
        std::string sReply;
        result = Read(hWnd, sReply, 10);
        mParameters.Delayer.StoreLastCommunicationTime();
    }
    return result;
}

DWORD VISADeviceStream::Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) {
    sResponse.clear();
    VisaBase &session = mVisa.GetSession();
    if (!session.IsOpen())
        return StreamResult::StreamNotConnected;
    if (dwCount == 0)
        return 0;
    const size_t nCount = static_cast<size_t>(dwCount);
    DWORD restored = 0;
    DWORD result = ReadWithinTimeout(
        hWnd,
        [&](bool &bMore) {
            std::string sPiece;
            mParameters.Delayer.WaitRemainingDelay();
            const DWORD pieceResult = session.Read(nCount - sResponse.size(), sPiece);
            mParameters.Delayer.StoreLastCommunicationTime();
            if (sPiece.empty())
                return pieceResult;
            sResponse += sPiece;
            if (sResponse.size() >= nCount || !mParameters.bReadTerminationEnabled ||
                mParameters.sReadTermination.empty() ||
                EndsWith(sResponse, mParameters.sReadTermination, false))
                bMore = false;
            return pieceResult;
        },
        restored);
    // A silent instrument ends the data as over TCP.
    if (result == VisaStatusCode(VI_ERROR_TMO))
        result = StreamResult::ReadTimeout;
    return result != 0 ? result : restored;
}

DWORD VISADeviceStream::ClearInputBuffers(HostWindow) {
    return mVisa.GetSession().ClearInputBuffers();
}

DWORD VISADeviceStream::DropWaitingInput(HostWindow) {
    return mVisa.GetSession().DropWaitingInput();
}

DWORD VISADeviceStream::ClearOutputBuffers(HostWindow) {
    return mVisa.GetSession().ClearOutputBuffers();
}

DWORD VISADeviceStream::ClearDevice(HostWindow) {
    return mVisa.GetSession().ClearDevice();
}

DWORD VISADeviceStream::GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                       uint32_t *pdwLength) {
    return mVisa.GetSession().GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize, pdwLength);
}

// ---- Page -----------------------------------------------------------------------------------------

// clang-format off
wxBEGIN_EVENT_TABLE(VISADeviceStreamConfigurationDialog, VisaResourcePage)
    EVT_INIT_DIALOG(VISADeviceStreamConfigurationDialog::OnInit)
    EVT_RADIOBUTTON(XRCID("ID_RADALIAS"), VISADeviceStreamConfigurationDialog::BuildResourceName)
    EVT_RADIOBUTTON(XRCID("ID_RADGPIB"), VISADeviceStreamConfigurationDialog::BuildResourceName)
    EVT_RADIOBUTTON(XRCID("ID_RADLAN"), VISADeviceStreamConfigurationDialog::BuildResourceName)
    EVT_RADIOBUTTON(XRCID("ID_RADRS232"), VISADeviceStreamConfigurationDialog::BuildResourceName)
    EVT_RADIOBUTTON(XRCID("ID_RADVISA"), VISADeviceStreamConfigurationDialog::BuildResourceName)
    EVT_TEXT(XRCID("ID_TXTALIAS"), VISADeviceStreamConfigurationDialog::OnAliasText)
    EVT_TEXT(XRCID("ID_TXTLAN"), VISADeviceStreamConfigurationDialog::OnLanText)
    EVT_TEXT(XRCID("ID_TXTVISA"), VISADeviceStreamConfigurationDialog::OnVisaText)
    EVT_CHOICE(XRCID("ID_CBORS232"), VISADeviceStreamConfigurationDialog::BuildResourceName)
    EVT_CHOICE(XRCID("ID_OPTGPIB"), VISADeviceStreamConfigurationDialog::BuildResourceName)
wxEND_EVENT_TABLE()

VISADeviceStreamConfigurationDialog::VISADeviceStreamConfigurationDialog(
    VISADeviceStreamConfiguration *configuration)
    : VisaResourcePage(StreamPagePatterns), mConfiguration(configuration) {}
// clang-format on

void VISADeviceStreamConfigurationDialog::OnInit(wxInitDialogEvent &event) {
    InitialisePage(mConfiguration != nullptr ? mConfiguration->GetResourceName() : std::string());
    wxCommandEvent none;
    BuildResourceName(none);
    event.Skip(true);
}

void VISADeviceStreamConfigurationDialog::BuildResourceName(wxCommandEvent &event) {
    RebuildResourceName();
    event.Skip(true);
}

void VISADeviceStreamConfigurationDialog::OnAliasText(wxCommandEvent &) {
    TakeText(mTxtAlias);
    wxCommandEvent none;
    BuildResourceName(none);
}

void VISADeviceStreamConfigurationDialog::OnLanText(wxCommandEvent &) {
    TakeText(mTxtLan);
    wxCommandEvent none;
    BuildResourceName(none);
}

void VISADeviceStreamConfigurationDialog::OnVisaText(wxCommandEvent &) {
    TakeText(mTxtVisa);
}

bool VISADeviceStreamConfigurationDialog::TransferDataFromWindow() {
    if (mConfiguration != nullptr)
        mConfiguration->SetIdentifier(VISAIdentifier(msResource));
    return true;
}

// ---- Registration ---------------------------------------------------------------------------------

WriteReadDeviceStream *CreateVISADeviceStream() {
    return new VISADeviceStream();
}

DeviceStreamConfiguration *CreateVISADeviceStreamConfiguration() {
    return new VISADeviceStreamConfiguration();
}
