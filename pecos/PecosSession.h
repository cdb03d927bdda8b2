// One PECOS session of a driver: made by InitDevice, ended by DeInitDevice or by the next
// InitDevice. It owns what must outlive a connection, so that nothing else keeps a copy of it:
// - the stream configuration InitDevice connected with, copied then, so that settings loaded or
//   edited since never move the session to another server;
// - its phase, which says what a line does when the connection is gone:
//     Starting   InitDevice before its login succeeded: nothing connects again
//     Live       a line connects again to the session's server, logs in and restores the session
//                (the restore runs in Restoring); while the settings name another server, lines
//                are refused until the next InitDevice
//     Restoring  the restore's own lines: nothing connects again
//     Ending     the switch-off that ends the session: a lost connection is made again once, to
//                the session's server, with a login and no restore
//     Closing    the switch-off of a failed InitDevice: over the connection that is there only
//     Closed     after a failed InitDevice or DeInitDevice: nothing connects again
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
    enum class Phase { Starting, Live, Restoring, Ending, Closing, Closed };

    // The configuration is the session's own (a copy where the kind can be copied).
    explicit PecosSession(std::shared_ptr<DeviceStreamConfiguration> configuration);
    ~PecosSession();
    PecosSession(const PecosSession &) = delete;
    PecosSession &operator=(const PecosSession &) = delete;

    const std::shared_ptr<DeviceStreamConfiguration> &GetConfiguration() const { return mConfiguration; }
    // The configuration's identifier (kind and address or resource) as InitDevice took it.
    const std::string &GetServer() const { return msServer; }

    Phase GetPhase() const { return mPhase; }
    void SetPhase(Phase phase) { mPhase = phase; }
    // Lines may connect again: to restore (Live) or to switch off (Ending).
    bool MayConnectAgain() const { return mPhase == Phase::Live || mPhase == Phase::Ending; }

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
    Phase mPhase = Phase::Starting;
    std::vector<std::string> mSwitchedOn;
};

// The phase for the life of the object, then the one before.
class PecosPhaseScope {
public:
    PecosPhaseScope(PecosSession &session, PecosSession::Phase phase)
        : mSession(session), mBefore(session.GetPhase()) {
        session.SetPhase(phase);
    }
    ~PecosPhaseScope() { mSession.SetPhase(mBefore); }
    PecosPhaseScope(const PecosPhaseScope &) = delete;
    PecosPhaseScope &operator=(const PecosPhaseScope &) = delete;

private:
    PecosSession &mSession;
    const PecosSession::Phase mBefore;
};
