// The driver side of the device streams. A driver is a DeviceStreamClientWithStream: it owns a
// configuration manager (which kind, configured how) and holds the stream it is connected to inside
// a DeviceStreamBaseDecorator; every stream operation it calls on itself goes to that stream.
//
// Chain, each layer deriving from the one before:
//   DeviceStreamClient                     the configuration manager
//   EmbeddedDeviceStreamMixIn<.., DeviceStreamBaseDecorator>
//                                          the embedded stream and the forwarding operations
//   WriteReadMixin<DeviceStreamLockerMixin<..>>
//                                          the stream lock and write-read with retries
//   CustomisableIdentificationChecker<..>  the identification check and its page
//   DeviceStreamClientWithStreamBase       connect/disconnect, device check, IEEE 488.2 status
//                                          queries and the error queue, settings, error texts
//   WriteReadMixin<..>, DeviceStreamClientWithStream
//                                          arbitrary blocks, the kind of connection in use
//
// Without a connection the embedded stream is a placeholder that keeps the stream settings
// (terminations, time-out, minimum delay); ConnectStream hands them to the real stream and
// DisconnectStream keeps them for the next connect.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "core/EntryGate.h"
#include "core/PanelResourceName.h"
#include "core/ProgramSettingsDatabase.h"
#include "platform/Cancel.h"
#include "platform/HostTypes.h"
#include "streams/DeviceStreamConfiguration.h"
#include "streams/DeviceStreamConfigurationManager.h"
#include "streams/IdentificationChecker.h"
#include "streams/WriteReadMixin.h"

class DeviceStreamClient {
public:
    using DeviceStreamConfigurationManager = ::DeviceStreamConfigurationManager;

    DeviceStreamClient();
    virtual ~DeviceStreamClient();
    DeviceStreamClient(const DeviceStreamClient &) = delete;
    DeviceStreamClient &operator=(const DeviceStreamClient &) = delete;

    DeviceStreamConfigurationManager &GetConfigurationManager() { return mConfigurationManager; }
    const DeviceStreamConfigurationManager &GetConfigurationManager() const { return mConfigurationManager; }

    // The gate that a stream passes before each connect try for the client (ConnectTry): closed once
    // whoever owns the client has given it up (the host removed its driver), and the stream stops
    // trying; a try inside holds the closing back, so that no connect starts after it. None: every
    // try goes ahead unless the call that the calling thread runs was cancelled.
    virtual EntryGate *ConnectTryGate() { return nullptr; }

protected:
    DeviceStreamConfigurationManager mConfigurationManager;
};

// One connect try of a stream for a client, let in by the client's gate (none: always) unless the
// call that the calling thread runs was cancelled.
class ConnectTry : public EntryGate::Pass {
public:
    explicit ConnectTry(DeviceStreamClient *client)
        : EntryGate::Pass(client != nullptr ? client->ConnectTryGate() : nullptr) {}

    bool IsLetIn() const { return IsInside() && !Platform::CurrentCallCancelled(); }
};

// Forwards the stream operations to an embedded stream of type E; without one they return
// EmbeddedStreamMissing (IsConnected and HasSingleClient false, no error text, default settings).
// Over a stream base B the operations override B's; over the client they are the client's own.
template <typename B, typename E> class EmbeddedDeviceStreamMixIn : public B {
public:
    using B::B;

    virtual DWORD Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                          DeviceStreamClient *clientEntry) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->Connect(hWnd, std::move(configuration), clientEntry) : Missing();
    }
    virtual DWORD Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) {
        const auto hold = Hold(StreamStateLock::Wait::ToTheEnd);
        return mEmbedded ? mEmbedded->Disconnect(hWnd, clientEntry) : Missing();
    }
    // The wait for the named lock holds no state: the driver that has the lock must get on.
    virtual DWORD Lock(HostWindow hWnd, double dSeconds) {
        return mEmbedded ? mEmbedded->Lock(hWnd, dSeconds) : Missing();
    }
    virtual DWORD Unlock(HostWindow hWnd) { return mEmbedded ? mEmbedded->Unlock(hWnd) : Missing(); }
    virtual bool IsConnected() {
        const auto hold = Hold();
        if (hold.Cancelled())
            return false;
        return mEmbedded && mEmbedded->IsConnected();
    }
    virtual bool HasSingleClient() {
        const auto hold = Hold();
        if (hold.Cancelled())
            return false;
        return mEmbedded && mEmbedded->HasSingleClient();
    }
    virtual DWORD ClearInputBuffers(HostWindow hWnd) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->ClearInputBuffers(hWnd) : Missing();
    }
    virtual DWORD DropWaitingInput(HostWindow hWnd) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->DropWaitingInput(hWnd) : Missing();
    }
    virtual DWORD ClearOutputBuffers(HostWindow hWnd) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->ClearOutputBuffers(hWnd) : Missing();
    }
    virtual DWORD ClearDevice(HostWindow hWnd) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->ClearDevice(hWnd) : Missing();
    }
    virtual DWORD GetAuxiliaryValue(DWORD &dwValue) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->GetAuxiliaryValue(dwValue) : Missing();
    }
    virtual DWORD SetAuxiliaryValue(DWORD dwValue) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->SetAuxiliaryValue(dwValue) : Missing();
    }
    virtual DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                                 uint32_t *pdwLength) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->GetErrorString(hWnd, dwCode, sBuffer, dwBufferSize, pdwLength) : 0;
    }
    virtual DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->Write(hWnd, sCommand, bWaitForOPC) : Missing();
    }
    virtual DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->Read(hWnd, sResponse, dwCount) : Missing();
    }
    virtual DeviceStreamParameters GetParameters() {
        const auto hold = Hold();
        if (hold.Cancelled())
            return DeviceStreamParameters();
        return mEmbedded ? mEmbedded->GetParameters() : DeviceStreamParameters();
    }
    virtual std::string GetReadTerminationInUse() {
        const auto hold = Hold();
        if (mEmbedded && !hold.Cancelled())
            return mEmbedded->GetReadTerminationInUse();
        const DeviceStreamParameters defaults;
        return defaults.bReadTerminationEnabled ? defaults.sReadTermination : std::string();
    }
    virtual void SetParameters(const DeviceStreamParameters &parameters) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return;
        if (mEmbedded)
            mEmbedded->SetParameters(parameters);
    }
    virtual DWORD SetWriteTermination(HostWindow hWnd, const std::string &sTermination, bool bEnabled) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->SetWriteTermination(hWnd, sTermination, bEnabled) : Missing();
    }
    virtual DWORD SetReadTermination(HostWindow hWnd, const std::string &sTermination, bool bEnabled) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->SetReadTermination(hWnd, sTermination, bEnabled) : Missing();
    }
    virtual DWORD SetTimeout(HostWindow hWnd, double dSeconds) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return Removed();
        return mEmbedded ? mEmbedded->SetTimeout(hWnd, dSeconds) : Missing();
    }
    virtual double GetTimeout(HostWindow hWnd) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return DeviceStreamParameters().dTimeout;
        return mEmbedded ? mEmbedded->GetTimeout(hWnd) : DeviceStreamParameters().dTimeout;
    }
    virtual DWORD GetMinimumDelay() {
        const auto hold = Hold();
        if (hold.Cancelled())
            return 0;
        return mEmbedded ? mEmbedded->GetMinimumDelay() : 0;
    }
    virtual void SetMinimumDelay(DWORD dwMicroseconds) {
        const auto hold = Hold();
        if (hold.Cancelled())
            return;
        if (mEmbedded)
            mEmbedded->SetMinimumDelay(dwMicroseconds);
    }
    virtual DWORD GetLastWriteCount() {
        const auto hold = Hold();
        if (hold.Cancelled())
            return 0;
        return mEmbedded ? mEmbedded->GetLastWriteCount() : 0;
    }

    const std::shared_ptr<E> &GetEmbeddedStream() const { return mEmbedded; }

protected:
    static DWORD Missing() { return StreamResult::EmbeddedStreamMissing; }
    // The code of an operation whose wait for the state lock the removal of the caller's driver ended.
    static DWORD Removed() { return ResultCode::NoDriverForDeviceID; }

    // Over a stream (the decorator), the embedded stream's state lock for one operation: drivers
    // that share the stream take turns at it, and a removed driver's wait ends at its removal
    // (the operation then touches nothing and answers Removed, false or the defaults). A client's
    // own layer needs none.
    StreamStateHold Hold(StreamStateLock::Wait wait = StreamStateLock::Wait::UntilCancelled) const {
        if constexpr (std::is_base_of_v<DeviceStreamSeparatedReadWrite, B>) {
            if (mEmbedded)
                return mEmbedded->HoldState(wait);
        }
        return StreamStateHold();
    }

    std::shared_ptr<E> mEmbedded;
};

// A stream that passes every operation to the stream it embeds. Made without a stream it embeds a
// placeholder that opens nothing (Connect, Write and Read not provided) but keeps the settings.
class DeviceStreamBaseDecorator
    : public EmbeddedDeviceStreamMixIn<WriteReadDeviceStream, WriteReadDeviceStream> {
public:
    DeviceStreamBaseDecorator();
    DeviceStreamBaseDecorator(std::shared_ptr<WriteReadDeviceStream> stream,
                              const DeviceStreamParameters &parameters);

    void InterruptWait() override {}

    // The stream itself when it is an S, else the search in a decorator's embedded stream.
    template <typename S>
    static std::shared_ptr<S> FindStreamOfType(const std::shared_ptr<WriteReadDeviceStream> &stream) {
        if (auto found = std::dynamic_pointer_cast<S>(stream))
            return found;
        if (auto decorator = std::dynamic_pointer_cast<DeviceStreamBaseDecorator>(stream))
            return FindStreamOfType<S>(decorator->GetEmbeddedStream());
        return nullptr;
    }
};

using DeviceStreamClientEmbedded = EmbeddedDeviceStreamMixIn<DeviceStreamClient, DeviceStreamBaseDecorator>;
using DeviceStreamClientWriteRead = WriteReadMixin<DeviceStreamLockerMixin<DeviceStreamClientEmbedded>>;
using DeviceStreamClientIdentification = CustomisableIdentificationChecker<DeviceStreamClientWriteRead>;

// Finds the device-clear option of a "GPIB" configuration: sets it to bNewState and gives its
// former state; false when the configuration is no GPIB configuration. Installed by the GPIB
// stream kind; without it the option is left alone.
using ClearDeviceOptionSwitch = bool (*)(DeviceStreamConfiguration &configuration, bool bNewState,
                                         bool &bOriginalState);
// Installs the switch and returns the one installed before.
ClearDeviceOptionSwitch SetClearDeviceOptionSwitch(ClearDeviceOptionSwitch optionSwitch);

class DeviceStreamClientWithStreamBase : public DeviceStreamClientIdentification {
public:
    // Connection kinds of GetUsedCommunication, as the VISA session numbers its device kinds.
    enum EnumC { GPIB = 0, TCPIPVXI11 = 1, Serial = 2, TCPIP = 3, UDP = -1 };

    static constexpr DWORD StatusQueryCount = 10;
    static constexpr DWORD SystemErrorQueryCount = 500;
    static constexpr DWORD IdentificationQueryCount = 100;
    // WaitWhileChecking and the error-queue drain stop after this many reads or this long.
    static constexpr int ErrorQueueMaximumReads = 30;
    static constexpr int ErrorQueueMaximumSeconds = 15;

    explicit DeviceStreamClientWithStreamBase(const std::string &sDefaultExpectedResponse);
    ~DeviceStreamClientWithStreamBase() override;

    // The client's texts: "Specific System Error: %s" for a stored device error, then the stream's,
    // the identification's and the configuration manager's.
    DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *sBuffer, uint32_t dwBufferSize,
                         uint32_t *pdwRead) override;

    // "SCPI" ("CheckSystemError"), "Identification" ("ExpectedResponse") and the stream
    // configurations below "Stream Config". The manager's failure first, else the identification's.
    virtual DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database);
    virtual DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database);
    // The "Communication" page and the "Identification" page; the default stream configuration is
    // made once before, and taken back when that dialog stores nothing.
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;

    virtual DWORD LoadLegacyConfiguration(std::shared_ptr<ProgramSettingsDatabase> &database,
                                          const std::string &sTablePrefix);
    virtual DWORD SaveLegacyConfiguration(std::shared_ptr<ProgramSettingsDatabase> &database,
                                          const std::string &sTablePrefix);
    virtual bool IsStreamConfigurationValid();
    // Switches the GPIB device-clear option; the former state in bOriginalState (unchanged when
    // there is no GPIB configuration). 0.
    virtual DWORD ChangeClearDeviceRegistration(HostWindow hWnd, bool bNewState, bool &bOriginalState);
    // The identification check over the stream. A connected client checks over its own stream and
    // stays connected; otherwise it connects (shared), checks and disconnects.
    virtual DWORD CheckDeviceOnStream(HostWindow hWnd);
    virtual DWORD CheckDeviceAfterIdentification(HostWindow hWnd);
    // Opens the selected stream: StreamNotCreated without a selected configuration,
    // CannotCreateStream for a kind without a stream.
    virtual DWORD ConnectStream(HostWindow hWnd, bool bShare);
    // The same with a configuration of the caller's instead of the selected one (null: the
    // selected one).
    DWORD ConnectStreamTo(HostWindow hWnd, bool bShare,
                          const std::shared_ptr<DeviceStreamConfiguration> &configuration);
    virtual DWORD DisconnectStream(HostWindow hWnd);
    virtual DWORD DefaultStreamConfiguration(HostWindow hWnd);
    virtual DWORD PredefineStreamConfiguration(HostWindow hWnd);
    virtual DWORD AfterStreamConnectConfiguration(HostWindow hWnd);

    // IEEE 488.2 status and the SCPI error queue.
    virtual DWORD QuerySystemError(HostWindow hWnd, std::string &sReply);
    virtual DWORD GetStatusByte(HostWindow hWnd, unsigned char &byStatus);
    virtual DWORD QueryStatusByte(HostWindow hWnd, std::string &sReply);
    virtual DWORD GetEventStatusRegister(HostWindow hWnd, unsigned char &byStatus);
    virtual DWORD QueryEventStatusRegister(HostWindow hWnd, std::string &sReply);
    virtual bool IsErrorAvailableBit(unsigned char byStatus);
    virtual DWORD IsErrorAvailable(HostWindow hWnd, bool &bAvailable);
    // Stores the first queued error (SpecificSystemError); 0 when none is queued, no stream is held
    // or the check is switched off.
    virtual DWORD ReadErrorQueue(HostWindow hWnd, const std::string &sPrefix);
    virtual DWORD CheckDeviceError(HostWindow hWnd, bool bSkip);
    virtual DWORD SetCheckSystemError(bool bCheck);
    virtual bool GetCheckSystemError();
    // Empties the error queue: CheckDeviceError until 0, 30 calls or 15 s.
    virtual DWORD WaitWhileChecking(HostWindow hWnd);
    virtual std::string GetStreamIdentifier();
    virtual DWORD StoreDeviceError(HostWindow hWnd, const std::string &sReply);

    std::string GetDeviceErrorText() const { return msDeviceError; }
    std::string GetStatusQueryPrefix() const { return msStatusQueryPrefix; }

protected:
    bool mbCheckSystemError = true;
    std::string msDeviceError;
    std::string msStatusQueryPrefix;

private:
    DWORD CheckIdentificationLocked(HostWindow hWnd);
    // One query of up to dwCount bytes, no read-again; with bTimeoutIsEnd a read time-out is 0.
    DWORD QueryStatus(HostWindow hWnd, const std::string &sQuery, DWORD dwCount, std::string &sReply,
                      bool bTimeoutIsEnd);
    DWORD GetStatusNumber(HostWindow hWnd, bool bEventStatus, unsigned char &byStatus);
};

class DeviceStreamClientWithStream : public WriteReadMixin<DeviceStreamClientWithStreamBase> {
public:
    // Suggested count of a block read that does not know its size.
    static constexpr DWORD DefaultBlockCount = 500000;
    // "#", the digit 9 and nine length digits.
    static constexpr DWORD LargestBlockHeader = 11;

    explicit DeviceStreamClientWithStream(const std::string &sDefaultExpectedResponse);
    ~DeviceStreamClientWithStream() override;

    // Sends the command and reads its IEEE 488.2 arbitrary block (definite "#<n><length>" or
    // indefinite "#0") under one lock, until the block is complete, the answer stops or the
    // indefinite block's termination arrives.
    virtual DWORD WriteReadBinaryBlock(HostWindow hWnd, const std::string &sSendString,
                                       std::string &sReceived, DWORD vlSuggestedCount);
    virtual bool IsCommunicationMethodVISAConnected(EnumC kind);
    virtual bool GetUsedCommunication(EnumC kind);
    virtual bool UsesGPIB();
    virtual bool UsesSerial();
    virtual bool UsesTCPIP();
    virtual bool UsesUDP();

    // The first "#" that starts a block header: its position, the digit n and the data length
    // (0 for "#0"). False when the text holds no header.
    static bool ParseBlockHeader(const std::string &sText, size_t &nStart, size_t &nDigits, size_t &nLength);
    // A definite block whose data have all arrived.
    static bool IsBlockComplete(const std::string &sText);
    // Position of the block's "#"; std::string::npos without a header.
    static size_t GetBlockStart(const std::string &sText);
    // 0 without a header; else n + L + 2 + nExtra with the header, L without.
    static size_t GetBlockSize(const std::string &sText, bool bWithHeader, size_t nExtra);
};
