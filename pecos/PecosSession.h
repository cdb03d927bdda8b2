// One PECOS session of a driver: made by InitDevice, ended by DeInitDevice or by the next
// InitDevice. It owns what must outlive a connection, so that nothing else keeps a copy of it:
// - the stream configuration and the login (user name, password) InitDevice connected and logged
//   in with, copied then, so that settings loaded or edited since never move the session to
//   another server nor send it another login;
// - its phase, which says what a line does when the connection is gone:
//     Closed  nothing connects again: before the login succeeded, during the restore, in the
//             switch-off of a failed InitDevice and after DeInitDevice
//     Live    a line connects again to the session's server, logs in and restores the session;
//             while the settings name another server, lines are refused until the next InitDevice
//     Ending  the switch-off that ends the session: a lost connection is made again once, to the
//             session's server, with a login and no restore
// - the detectors (command names) whose switch-on line may have reached that server and that were
//   not switched off since, in the order they were switched on.
// A session that is dropped with detectors still recorded (the driver removed, or a new InitDevice
// at another server that could not reach this one) says so in a warning record.
#pragma once

#include <memory>
#include <string>
#include <vector>

class DeviceStreamConfiguration;

class PecosSession {
public:
    enum class Phase { Closed, Live, Ending };

    // The phase for the life of the object, then the one before.
    class PhaseScope {
    public:
        PhaseScope(const PhaseScope &) = delete;
        PhaseScope &operator=(const PhaseScope &) = delete;
        ~PhaseScope() { mSession.mPhase = mBefore; }

    private:
        friend class PecosSession;
        PhaseScope(PecosSession &session, Phase phase) : mSession(session), mBefore(session.mPhase) {
            session.mPhase = phase;
        }
        PecosSession &mSession;
        const Phase mBefore;
    };

    // The configuration is the session's own (a copy where the kind can be copied).
    PecosSession(std::shared_ptr<DeviceStreamConfiguration> configuration, std::string sUserName,
                 std::string sPassword);
    ~PecosSession();
    PecosSession(const PecosSession &) = delete;
    PecosSession &operator=(const PecosSession &) = delete;

    const std::shared_ptr<DeviceStreamConfiguration> &GetConfiguration() const { return mConfiguration; }
    // The configuration's identifier (kind and address or resource) as InitDevice took it.
    const std::string &GetServer() const { return msServer; }
    const std::string &GetUserName() const { return msUserName; }
    const std::string &GetPassword() const { return msPassword; }

    Phase GetPhase() const { return mPhase; }
    // The login succeeded: lost connections are made again.
    void GoLive() { mPhase = Phase::Live; }
    // Nothing connects again until the next InitDevice.
    void Close() { mPhase = Phase::Closed; }
    // The restore's lines go over the new connection only.
    [[nodiscard]] PhaseScope Restoring() { return PhaseScope(*this, Phase::Closed); }
    // The switch-off that ends the session: with bReconnect over a new connection when the one there
    // is gone, else over that one only.
    [[nodiscard]] PhaseScope SwitchingOff(bool bReconnect) {
        return PhaseScope(*this, bReconnect ? Phase::Ending : Phase::Closed);
    }
    // Lines may connect again: to restore (Live) or to switch off (Ending).
    bool MayConnectAgain() const { return mPhase != Phase::Closed; }

    const std::vector<std::string> &GetSwitchedOn() const { return mSwitchedOn; }
    bool IsSwitchedOn(const std::string &sName) const;
    // The name's switch-on line is about to be written.
    void RecordSwitchedOn(const std::string &sName);
    // The name's switch-off line was written.
    void RecordSwitchedOff(const std::string &sName);
    // Takes over the record of an earlier session at the same server.
    void TakeOver(PecosSession &earlier);
    // Forgets the record; a warning record (module, function) names what stays on and where.
    void Abandon(const char *sFunction);

private:
    const std::shared_ptr<DeviceStreamConfiguration> mConfiguration;
    const std::string msServer;
    const std::string msUserName;
    const std::string msPassword;
    Phase mPhase = Phase::Closed;
    std::vector<std::string> mSwitchedOn;
};
