// The serial port settings and their table "RS232".
#include "rs232/RS232Configuration.h"

#include <algorithm>

#include "core/ProgramSettingsDatabase.h"
#include "logging/QuellinEntry.h"

namespace {

template <typename E> E StepEnum(E &value, const EnumClass<E> &table) {
    const E old = value;
    value = table.NextValue(value);
    return old;
}

// Enters the parent path's tables and "RS232"; the count of tables to leave again.
int PushRS232Table(ProgramSettingsDatabase &database, const std::string &sParentPath) {
    int pushed = 0;
    if (!sParentPath.empty()) {
        database.PushTable(sParentPath);
        ++pushed;
    }
    database.PushTable("RS232");
    return pushed + 1;
}

void PopTables(ProgramSettingsDatabase &database, int count) {
    while (count-- > 0)
        database.PopTable();
}

} // namespace

BaudRate operator++(BaudRate &value, int) {
    return StepEnum(value, baudRateEnumClass);
}
DataBits operator++(DataBits &value, int) {
    return StepEnum(value, dataBitsEnumClass);
}
Parity operator++(Parity &value, int) {
    return StepEnum(value, parityEnumClass);
}
StopBits operator++(StopBits &value, int) {
    return StepEnum(value, stopBitsEnumClass);
}

RS232Configuration::RS232Configuration() {
    mAllowedBaudRates.clear();
    FillAllowedBaudRates(Br50, Br921600);
}

RS232Configuration::RS232Configuration(const RS232Configuration &other) = default;

RS232Configuration::~RS232Configuration() = default;

DWORD RS232Configuration::LoadProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &database,
                                              const std::string &sParentPath) {
    QuellinEntry entry("RS232", "LoadProgramSettings");
    entry.LogBegin(QuellinLevelNote);
    if (database) {
        const int pushed = PushRS232Table(*database, sParentPath);
        mnCOMPort = database->ReadInt("COMPort", std::max(mnCOMPort, 1));
        meParity = static_cast<Parity>(database->ReadInt("Parity", meParity));
        meDataBits = static_cast<DataBits>(database->ReadInt("DataBits", meDataBits));
        meBaudRate = static_cast<BaudRate>(database->ReadInt("BaudRate", meBaudRate));
        meStopBits = static_cast<StopBits>(database->ReadInt("StopBits", meStopBits));
        mnImplementation = database->ReadInt("Implementation", mnImplementation);
        PopTables(*database, pushed);
    }
    entry.LogEnd(QuellinLevelComplete, L"COMPort", mnCOMPort, L"Baudrate", static_cast<int>(meBaudRate),
                 L"DataBits", static_cast<int>(meDataBits), L"Parity", static_cast<int>(meParity),
                 L"StopBits", static_cast<int>(meStopBits), L"RS232Implementation", mnImplementation);
    return 0;
}

DWORD RS232Configuration::SaveProgramSettings(HostWindow, std::shared_ptr<ProgramSettingsDatabase> &database,
                                              const std::string &sParentPath) {
    if (!database)
        return 0;
    const int pushed = PushRS232Table(*database, sParentPath);
    database->WriteInt("COMPort", std::max(mnCOMPort, 1));
    database->WriteInt("Parity", meParity);
    database->WriteInt("DataBits", meDataBits);
    database->WriteInt("BaudRate", meBaudRate);
    database->WriteInt("StopBits", meStopBits);
    database->WriteInt("Implementation", mnImplementation);
    PopTables(*database, pushed);
    return 0;
}

void RS232Configuration::SetRTSEnable(bool bEnable) {
    mbRTSEnable = bEnable;
}
bool RS232Configuration::GetRTSEnable() const {
    return mbRTSEnable;
}
bool RS232Configuration::GetXonXoffFlowControl() const {
    return mbXonXoffFlowControl;
}
void RS232Configuration::SetXonXoffFlowControl(bool bEnable) {
    mbXonXoffFlowControl = bEnable;
}
void RS232Configuration::SetRTSAroundWrite(bool bEnable) {
    mbRTSAroundWrite = bEnable;
}
bool RS232Configuration::GetRTSAroundWrite() const {
    return mbRTSAroundWrite;
}
void RS232Configuration::SetNewLineReturnIsEndOfString(bool bEnable) {
    mbNewLineReturnIsEndOfString = bEnable;
}
bool RS232Configuration::GetNewLineReturnIsEndOfString() const {
    return mbNewLineReturnIsEndOfString;
}
void RS232Configuration::SetCOMPort(int nPort) {
    mnCOMPort = nPort;
}
DWORD RS232Configuration::SetCOMPort(unsigned char nPort) {
    mnCOMPort = nPort;
    return 0;
}
int RS232Configuration::GetCOMPort() const {
    return mnCOMPort;
}
Parity RS232Configuration::GetParity() const {
    return meParity;
}
void RS232Configuration::SetParity(Parity eParity) {
    meParity = eParity;
}
BaudRate RS232Configuration::GetBaudRate() const {
    return meBaudRate;
}
void RS232Configuration::SetBaudRate(BaudRate eBaudRate) {
    meBaudRate = eBaudRate;
}
DataBits RS232Configuration::GetDataBits() const {
    return meDataBits;
}
void RS232Configuration::SetDataBits(DataBits eDataBits) {
    meDataBits = eDataBits;
}
StopBits RS232Configuration::GetStopBits() const {
    return meStopBits;
}
void RS232Configuration::SetStopBits(StopBits eStopBits) {
    meStopBits = eStopBits;
}

bool RS232Configuration::IsValid() const {
    return mnCOMPort >= MinimumCOMPort && mnCOMPort <= MaximumCOMPort;
}

bool RS232Configuration::IsSameConfiguration(const RS232Configuration &other) const {
    return mnCOMPort == other.mnCOMPort && meParity == other.meParity && meDataBits == other.meDataBits &&
           meBaudRate == other.meBaudRate && meStopBits == other.meStopBits &&
           mbRTSEnable == other.mbRTSEnable && mbXonXoffFlowControl == other.mbXonXoffFlowControl &&
           mbCOMPortSharing == other.mbCOMPortSharing;
}

void RS232Configuration::FillAllowedBaudRates(BaudRate eMinimum, BaudRate eMaximum) {
    BaudRate eRate = Br50;
    for (;;) {
        if (eMinimum <= eRate && eRate <= eMaximum)
            mAllowedBaudRates.insert(eRate);
        if (eRate >= Br921600)
            break;
        eRate++;
    }
}
