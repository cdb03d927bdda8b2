// EnumClass<T>: the values of an enumeration paired with their names in the program and the
// names shown to the user. A table is read from a definition text that repeats the enumeration's
// declaration ("({ AC = 1, firstCouplingType = 1, DC, lastCouplingType=DC })"); the shown names
// come from the language-resource library under the table's resource number. Each table is built
// once, on first use, and is read-only afterwards. Below the template: the eight enumerations of
// the framework with their global tables.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// One value and its names: the name shown to the user first, then the program's names.
struct EnumClassEntry {
    int32_t nValue;
    std::vector<std::string> Names;
    const std::string &GetDisplayName() const { return Names.front(); }
};

// The table behind EnumClass<T>, on plain 32-bit values.
class EnumClassTable {
public:
    EnumClassTable(const std::string &sDefinition, int32_t nResourceNumber);
    virtual ~EnumClassTable();
    EnumClassTable(const EnumClassTable &) = delete;
    EnumClassTable &operator=(const EnumClassTable &) = delete;

    // The display name, or "undefined" when no entry has the value.
    std::string ValueToName(int32_t nValue) const;
    // Value of the entry carrying the name formed by the text's leading letters and digits; 0 when none.
    int32_t ValueOfName(const std::string &sText) const;
    // The value of the entry after the value's entry; the largest value + 1 after the last one or
    // for a value without an entry.
    int32_t NextValue(int32_t nValue) const;
    // Index of the first entry with the value; the number of entries when there is none.
    size_t FindValue(int32_t nValue) const;
    // Value of an expression over numbers and the table's names ("GPIB3", "0x10 | 1"), evaluated
    // left to right in wrapping 32-bit arithmetic; division by 0 gives 0.
    int32_t EvaluateExpression(const std::string &sExpression) const;

    const std::vector<EnumClassEntry> &GetEntries() const;
    int32_t GetLargestValue() const;
    int32_t GetResourceNumber() const { return mnResourceNumber; }
    const std::string &GetDefaultText() const { return msDefaultText; }

private:
    void Build() const;
    void ParseDefinition(const std::string &sDefinition) const;
    void AddItem(const std::string &sPiece) const;
    void AddEntry(int32_t nValue, const std::string &sDisplayName, const std::string &sName) const;
    std::string DisplayNameOf(int32_t nValue, const std::string &sName) const;
    int32_t EvaluateValue(const std::string &sValueText) const;
    int32_t Evaluate(const std::string &sText, size_t &nPosition) const;
    int32_t ParseOperand(const std::string &sText, size_t &nPosition) const;
    int32_t Lookup(const std::string &sName) const;

    std::string msDefinition;
    std::string msDefaultText;
    int32_t mnResourceNumber;
    mutable std::once_flag mBuilt;
    mutable std::vector<EnumClassEntry> mEntries;
    mutable int32_t mnLargestValue = 0;
};

template <typename T> class EnumClass : public EnumClassTable {
public:
    EnumClass(const std::string &sDefinition, int32_t nResourceNumber)
        : EnumClassTable(sDefinition, nResourceNumber) {}

    using EnumClassTable::NextValue;
    using EnumClassTable::ValueToName;
    std::string ValueToName(T value) const {
        return EnumClassTable::ValueToName(static_cast<int32_t>(value));
    }
    T NameToValue(const std::string &sText) const { return static_cast<T>(ValueOfName(sText)); }
    T NextValue(T value) const {
        return static_cast<T>(EnumClassTable::NextValue(static_cast<int32_t>(value)));
    }
};

// ---- The framework's enumerations ------------------------------------------------------------------

enum CouplingType : int32_t { AC = 1, firstCouplingType = 1, DC, lastCouplingType = DC };

enum GPIBBoardNumbers : int32_t {
    GPIB_INVALID = -1,
    MIN_GPIB_BOARD = 0,
    GPIB0 = MIN_GPIB_BOARD,
    GPIB1,
    GPIB2,
    GPIB3,
    MAX_GPIB_BOARD = GPIB3
};

enum eEndOfStringMode : int32_t {
    eeosmNone = 0,
    eeosmTerminateReadOnEOS = 1,
    eeosmSendEndWithEOS = 2,
    eeosmEightBitCompare = 4
};

enum BaudRate : int32_t {
    UNKNOWN_BAUDRATE = 0,
    MIN_BAUDRATE = 50,
    Br50 = 50,
    Br300 = 300,
    Br600 = 600,
    Br1200 = 1200,
    Br2400 = 2400,
    Br4800 = 4800,
    Br9600 = 9600,
    Br19200 = 19200,
    Br38400 = 38400,
    Br57600 = 57600,
    Br115200 = 115200,
    Br230400 = 230400,
    Br460800 = 460800,
    Br921600 = 921600,
    MAX_BAUDRATE = 921600
};

enum DataBits : int32_t { MIN_DATABITS = 5, Data5 = 5, Data6, Data7, Data8, MAX_DATABITS = 8 };

enum Parity : int32_t { None = 0, firstParity = 0, Odd, Even, Mark, Space, lastParity = Space };

enum StopBits : int32_t { Stop1 = 0, MIN_STOPBITS = 0, Stop15 = 1, Stop2 = 2, MAX_STOPBITS = 2 };

enum CommunicationTerminationOption : int32_t {
    NoTermination = 0,
    MIN_COMMUNICATION_TERMINATION_OPTION = 0,
    CarrierReturn = 1,
    LineFeed = 2,
    CarrierReturnPlusLineFeed = 3,
    MAX_COMMUNICATION_TERMINATION_OPTION = 3
};

class CouplingTypeEnumClass__EnumClass : public EnumClass<CouplingType> {
public:
    CouplingTypeEnumClass__EnumClass();
};
class GPIBBoardNumbersEnumClass__EnumClass : public EnumClass<GPIBBoardNumbers> {
public:
    GPIBBoardNumbersEnumClass__EnumClass();
};
class eEndOfStringModeEnumClass__EnumClass : public EnumClass<eEndOfStringMode> {
public:
    eEndOfStringModeEnumClass__EnumClass();
};
class baudRateEnumClass__EnumClass : public EnumClass<BaudRate> {
public:
    baudRateEnumClass__EnumClass();
};
class dataBitsEnumClass__EnumClass : public EnumClass<DataBits> {
public:
    dataBitsEnumClass__EnumClass();
};
class parityEnumClass__EnumClass : public EnumClass<Parity> {
public:
    parityEnumClass__EnumClass();
};
class stopBitsEnumClass__EnumClass : public EnumClass<StopBits> {
public:
    stopBitsEnumClass__EnumClass();
};
class communicationTerminationOptionENUMClass__EnumClass : public EnumClass<CommunicationTerminationOption> {
public:
    communicationTerminationOptionENUMClass__EnumClass();
};

// One global table per enumeration.
extern const CouplingTypeEnumClass__EnumClass CouplingTypeEnumClass;
extern const GPIBBoardNumbersEnumClass__EnumClass GPIBBoardNumbersEnumClass;
extern const eEndOfStringModeEnumClass__EnumClass eEndOfStringModeEnumClass;
extern const baudRateEnumClass__EnumClass baudRateEnumClass;
extern const dataBitsEnumClass__EnumClass dataBitsEnumClass;
extern const parityEnumClass__EnumClass parityEnumClass;
extern const stopBitsEnumClass__EnumClass stopBitsEnumClass;
extern const communicationTerminationOptionENUMClass__EnumClass communicationTerminationOptionENUMClass;

std::string CommunicationTerminationOptionToName(const CommunicationTerminationOption &eOption);
CommunicationTerminationOption CommunicationTerminationOptionFromName(const std::string &sName);
