// Enumeration name tables: reading the definition texts, the display names from the language
// library, and the framework's eight global tables.
#include "core/EnumClass.h"

#include "core/LanguageLibrary.h"
#include "platform/Text.h"

#include <algorithm>

namespace {

using Platform::IsAsciiDigit;
using Platform::IsAsciiSpace;
bool IsLetterOrDigit(char c) {
    return IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsWordCharacter(char c) {
    return IsLetterOrDigit(c) || c == '_';
}

size_t SkipSpace(const std::string &sText, size_t nPosition) {
    while (nPosition < sText.size() && IsAsciiSpace(sText[nPosition]))
        ++nPosition;
    return nPosition;
}

// The run of letters and digits from the position on (the underscore ends it).
std::string TermAt(const std::string &sText, size_t &nPosition) {
    const size_t nBegin = nPosition;
    while (nPosition < sText.size() && IsLetterOrDigit(sText[nPosition]))
        ++nPosition;
    return sText.substr(nBegin, nPosition - nBegin);
}

int DigitValue(char c) {
    if (IsAsciiDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

// A number as C writes it: "0x1F" hexadecimal, "017" octal, else decimal; reading stops at the
// first character that is no digit of the base, and the value wraps at 32 bits.
int32_t ParseNumber(const std::string &sTerm) {
    unsigned nBase = 10;
    size_t nPosition = 0;
    if (sTerm.size() > 1 && sTerm[0] == '0') {
        if (sTerm[1] == 'x' || sTerm[1] == 'X') {
            nBase = 16;
            nPosition = 2;
        } else {
            nBase = 8;
        }
    }
    uint32_t nValue = 0;
    for (; nPosition < sTerm.size(); ++nPosition) {
        const int nDigit = DigitValue(sTerm[nPosition]);
        if (nDigit >= static_cast<int>(nBase))
            break;
        nValue = nValue * nBase + static_cast<uint32_t>(nDigit);
    }
    return static_cast<int32_t>(nValue);
}

int32_t Apply(char cOperator, int32_t nLeft, int32_t nRight) {
    const uint32_t nA = static_cast<uint32_t>(nLeft);
    const uint32_t nB = static_cast<uint32_t>(nRight);
    switch (cOperator) {
    case '|':
        return static_cast<int32_t>(nA | nB);
    case '&':
        return static_cast<int32_t>(nA & nB);
    case '^':
        return static_cast<int32_t>(nA ^ nB);
    case '+':
        return static_cast<int32_t>(nA + nB);
    case '-':
        return static_cast<int32_t>(nA - nB);
    case '*':
        return static_cast<int32_t>(nA * nB);
    case '/':
        if (nRight == 0)
            return 0;
        if (nRight == -1) // INT32_MIN / -1 wraps to itself
            return static_cast<int32_t>(0u - nA);
        return nLeft / nRight;
    case '%':
        if (nRight == 0 || nRight == -1)
            return 0;
        return nLeft % nRight;
    default:
        return nLeft;
    }
}

// The name and value text of an item. Without "=" the whole piece is the name. With "=": the first
// run of word characters followed by blanks, "=", blanks and another run ("NAME = VALUE"); both
// stay empty when there is none (a value such as "-1").
void SplitItem(const std::string &sPiece, std::string &sName, std::string &sValue) {
    if (sPiece.find('=') == std::string::npos) {
        sName = sPiece;
        return;
    }
    size_t nPosition = 0;
    while (nPosition < sPiece.size()) {
        if (!IsWordCharacter(sPiece[nPosition])) {
            ++nPosition;
            continue;
        }
        const size_t nNameBegin = nPosition;
        while (nPosition < sPiece.size() && IsWordCharacter(sPiece[nPosition]))
            ++nPosition;
        const size_t nNameEnd = nPosition;
        size_t nScan = nNameEnd;
        while (nScan < sPiece.size() && sPiece[nScan] == ' ')
            ++nScan;
        if (nScan >= sPiece.size() || sPiece[nScan] != '=')
            continue;
        ++nScan;
        while (nScan < sPiece.size() && sPiece[nScan] == ' ')
            ++nScan;
        const size_t nValueBegin = nScan;
        while (nScan < sPiece.size() && IsWordCharacter(sPiece[nScan]))
            ++nScan;
        if (nScan == nValueBegin)
            continue;
        sName = sPiece.substr(nNameBegin, nNameEnd - nNameBegin);
        sValue = sPiece.substr(nValueBegin, nScan - nValueBegin);
        return;
    }
}

// One operator character, always consumed (an unknown one too); false at the end of the text.
bool ParseOperator(const std::string &sText, size_t &nPosition, char &cOperator) {
    nPosition = SkipSpace(sText, nPosition);
    if (nPosition >= sText.size())
        return false;
    cOperator = sText[nPosition++];
    return true;
}

} // namespace

EnumClassTable::EnumClassTable(const std::string &sDefinition, int32_t nResourceNumber)
    : msDefinition(sDefinition), msDefaultText("undefined"), mnResourceNumber(nResourceNumber) {}

EnumClassTable::~EnumClassTable() = default;

void EnumClassTable::Build() const {
    std::call_once(mBuilt, [this] { ParseDefinition(msDefinition); });
}

const std::vector<EnumClassEntry> &EnumClassTable::GetEntries() const {
    Build();
    return mEntries;
}

int32_t EnumClassTable::GetLargestValue() const {
    Build();
    return mnLargestValue;
}

std::string EnumClassTable::ValueToName(int32_t nValue) const {
    const size_t nIndex = FindValue(nValue);
    return nIndex < mEntries.size() ? mEntries[nIndex].GetDisplayName() : msDefaultText;
}

int32_t EnumClassTable::ValueOfName(const std::string &sText) const {
    Build();
    return Lookup(sText);
}

int32_t EnumClassTable::NextValue(int32_t nValue) const {
    const size_t nIndex = FindValue(nValue);
    if (nIndex + 1 < mEntries.size())
        return mEntries[nIndex + 1].nValue;
    return static_cast<int32_t>(static_cast<uint32_t>(mnLargestValue) + 1u);
}

size_t EnumClassTable::FindValue(int32_t nValue) const {
    Build();
    size_t nIndex = 0;
    while (nIndex < mEntries.size() && mEntries[nIndex].nValue != nValue)
        ++nIndex;
    return nIndex;
}

int32_t EnumClassTable::EvaluateExpression(const std::string &sExpression) const {
    Build();
    size_t nPosition = 0;
    return Evaluate(sExpression, nPosition);
}

// ---- Building (runs once, inside Build) ------------------------------------------------------------

void EnumClassTable::ParseDefinition(const std::string &sDefinition) const {
    const size_t nOpen = sDefinition.find('{');
    const size_t nBegin = nOpen == std::string::npos ? 0 : nOpen + 1;
    size_t nEnd = sDefinition.find('}');
    if (nEnd == std::string::npos)
        nEnd = sDefinition.size();
    if (nEnd < nBegin)
        return;
    const std::string sBody = sDefinition.substr(nBegin, nEnd - nBegin);
    size_t nPieceBegin = 0;
    for (;;) {
        const size_t nComma = sBody.find(',', nPieceBegin);
        AddItem(sBody.substr(nPieceBegin,
                             nComma == std::string::npos ? std::string::npos : nComma - nPieceBegin));
        if (nComma == std::string::npos)
            break;
        nPieceBegin = nComma + 1;
    }
}

void EnumClassTable::AddItem(const std::string &sPiece) const {
    const size_t nStart = SkipSpace(sPiece, 0);
    if (nStart >= sPiece.size())
        return;
    const std::string sRest = sPiece.substr(nStart);
    std::string sName;
    std::string sValueText;
    SplitItem(sRest, sName, sValueText);
    const int32_t nValue = EvaluateValue(sValueText);
    AddEntry(nValue, DisplayNameOf(nValue, sName), sName);
    mnLargestValue = mEntries.size() == 1 ? nValue : std::max(mnLargestValue, nValue);
}

std::string EnumClassTable::DisplayNameOf(int32_t nValue, const std::string &sName) const {
    if (mnResourceNumber <= 0)
        return sName;
    clsTovikLng language(static_cast<DWORD>(mnResourceNumber));
    const std::string sText = language.getText(static_cast<DWORD>(static_cast<uint32_t>(nValue)));
    return sText.empty() ? sName : sText;
}

void EnumClassTable::AddEntry(int32_t nValue, const std::string &sDisplayName,
                              const std::string &sName) const {
    for (EnumClassEntry &entry : mEntries)
        if (entry.nValue == nValue) {
            entry.Names.push_back(sDisplayName);
            return;
        }
    mEntries.push_back(EnumClassEntry{nValue, {sDisplayName, sName}});
}

int32_t EnumClassTable::EvaluateValue(const std::string &sValueText) const {
    if (SkipSpace(sValueText, 0) >= sValueText.size()) {
        if (mEntries.empty())
            return 0;
        return static_cast<int32_t>(static_cast<uint32_t>(mEntries.back().nValue) + 1u);
    }
    size_t nPosition = 0;
    return Evaluate(sValueText, nPosition);
}

int32_t EnumClassTable::Evaluate(const std::string &sText, size_t &nPosition) const {
    int32_t nValue = ParseOperand(sText, nPosition);
    for (;;) {
        char cOperator = 0;
        if (!ParseOperator(sText, nPosition, cOperator))
            return nValue;
        // An unknown operator still consumes the operand behind it, which is dropped.
        nValue = Apply(cOperator, nValue, ParseOperand(sText, nPosition));
    }
}

int32_t EnumClassTable::ParseOperand(const std::string &sText, size_t &nPosition) const {
    nPosition = SkipSpace(sText, nPosition);
    if (nPosition >= sText.size())
        return 0;
    if (sText[nPosition] == '(') {
        size_t nClose = nPosition + 1;
        for (int nDepth = 1; nClose < sText.size(); ++nClose) {
            if (sText[nClose] == '(')
                ++nDepth;
            else if (sText[nClose] == ')' && --nDepth == 0)
                break;
        }
        const std::string sInner = sText.substr(nPosition + 1, nClose - nPosition - 1);
        nPosition = nClose < sText.size() ? nClose + 1 : sText.size();
        size_t nInner = 0;
        return Evaluate(sInner, nInner);
    }
    if (!IsLetterOrDigit(sText[nPosition]))
        return 0;
    const std::string sTerm = TermAt(sText, nPosition);
    return IsAsciiDigit(sTerm[0]) ? ParseNumber(sTerm) : Lookup(sTerm);
}

int32_t EnumClassTable::Lookup(const std::string &sText) const {
    size_t nPosition = SkipSpace(sText, 0);
    const std::string sName = TermAt(sText, nPosition);
    for (const EnumClassEntry &entry : mEntries)
        for (const std::string &sEntryName : entry.Names)
            if (sEntryName == sName)
                return entry.nValue;
    return 0;
}

// ---- The framework's tables ------------------------------------------------------------------------

CouplingTypeEnumClass__EnumClass::CouplingTypeEnumClass__EnumClass()
    : EnumClass("({ AC = 1, firstCouplingType = 1, DC, lastCouplingType=DC })", 601) {}

GPIBBoardNumbersEnumClass__EnumClass::GPIBBoardNumbersEnumClass__EnumClass()
    : EnumClass("({ GPIB_INVALID = -1, MIN_GPIB_BOARD = 0, GPIB0 = MIN_GPIB_BOARD, GPIB1, GPIB2, GPIB3, "
                "MAX_GPIB_BOARD = GPIB3 })",
                599) {}

eEndOfStringModeEnumClass__EnumClass::eEndOfStringModeEnumClass__EnumClass()
    : EnumClass("({ eeosmNone = 0, eeosmTerminateReadOnEOS = 1, eeosmSendEndWithEOS = 2, "
                "eeosmEightBitCompare = 4 })",
                598) {}

baudRateEnumClass__EnumClass::baudRateEnumClass__EnumClass()
    : EnumClass(
          "({ UNKNOWN_BAUDRATE = 0, MIN_BAUDRATE = 50, Br50 = 50, Br300 = 300, Br600 = 600, Br1200 = 1200, "
          "Br2400 = 2400, Br4800 = 4800, Br9600 = 9600, Br19200 = 19200, Br38400 = 38400, Br57600 = 57600, "
          "Br115200 = 115200, Br230400 = 230400, Br460800 = 460800, Br921600 = 921600, MAX_BAUDRATE = "
          "921600 })",
          590) {}

dataBitsEnumClass__EnumClass::dataBitsEnumClass__EnumClass()
    : EnumClass("({ MIN_DATABITS = 5, Data5 = 5, Data6, Data7, Data8, MAX_DATABITS = 8 })", 588) {}

parityEnumClass__EnumClass::parityEnumClass__EnumClass()
    : EnumClass("({ None = 0, firstParity = 0, Odd, Even, Mark, Space, lastParity=Space })", 587) {}

stopBitsEnumClass__EnumClass::stopBitsEnumClass__EnumClass()
    : EnumClass("({ Stop1 = 0, MIN_STOPBITS = 0, Stop15 = 1, Stop2 = 2, MAX_STOPBITS = 2 })", 589) {}

communicationTerminationOptionENUMClass__EnumClass::communicationTerminationOptionENUMClass__EnumClass()
    : EnumClass(
          "({ NoTermination = 0, MIN_COMMUNICATION_TERMINATION_OPTION=0, CarrierReturn = 1, LineFeed = 2, "
          "CarrierReturnPlusLineFeed = 3, MAX_COMMUNICATION_TERMINATION_OPTION = 3 })",
          600) {}

const CouplingTypeEnumClass__EnumClass CouplingTypeEnumClass;
const GPIBBoardNumbersEnumClass__EnumClass GPIBBoardNumbersEnumClass;
const eEndOfStringModeEnumClass__EnumClass eEndOfStringModeEnumClass;
const baudRateEnumClass__EnumClass baudRateEnumClass;
const dataBitsEnumClass__EnumClass dataBitsEnumClass;
const parityEnumClass__EnumClass parityEnumClass;
const stopBitsEnumClass__EnumClass stopBitsEnumClass;
const communicationTerminationOptionENUMClass__EnumClass communicationTerminationOptionENUMClass;

std::string CommunicationTerminationOptionToName(const CommunicationTerminationOption &eOption) {
    return communicationTerminationOptionENUMClass.ValueToName(eOption);
}

CommunicationTerminationOption CommunicationTerminationOptionFromName(const std::string &sName) {
    return communicationTerminationOptionENUMClass.NameToValue(sName);
}
