// A PECOS driver's session: its server and login, phase and switched-on record.
#include "pecos/PecosSession.h"

#include <algorithm>

#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "streams/DeviceStreamConfiguration.h"

PecosSession::PecosSession(std::shared_ptr<DeviceStreamConfiguration> configuration, std::string sUserName,
                           std::string sPassword)
    : mConfiguration(std::move(configuration)),
      msServer(mConfiguration ? mConfiguration->GetIdentifier() : std::string()),
      msUserName(std::move(sUserName)), msPassword(std::move(sPassword)) {}

PecosSession::~PecosSession() {
    // Sessions end here only when the host removed the driver (or a new session replaced this one,
    // which forgot its record first).
    try {
        Abandon("RemoveDeviceDriver");
    } catch (...) {
    }
}

bool PecosSession::IsSwitchedOn(const std::string &sName) const {
    return std::find(mSwitchedOn.begin(), mSwitchedOn.end(), sName) != mSwitchedOn.end();
}

void PecosSession::RecordSwitchedOn(const std::string &sName) {
    if (!IsSwitchedOn(sName))
        mSwitchedOn.push_back(sName);
}

void PecosSession::RecordSwitchedOff(const std::string &sName) {
    mSwitchedOn.erase(std::remove(mSwitchedOn.begin(), mSwitchedOn.end(), sName), mSwitchedOn.end());
}

void PecosSession::TakeOver(PecosSession &earlier) {
    for (const std::string &name : earlier.mSwitchedOn)
        RecordSwitchedOn(name);
    earlier.mSwitchedOn.clear();
}

void PecosSession::Abandon(const char *sFunction) {
    if (mSwitchedOn.empty())
        return;
    QuellinEntry entry("PontisPecosADConverterBase", sFunction);
    entry.Log(QuellinLevelWarning, QuellinDescription,
              "Detectors left switched on at " + msServer + ": " + JoinTexts(mSwitchedOn, ", "));
    mSwitchedOn.clear();
}
