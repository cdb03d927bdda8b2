// The settings database layers and the INI store over the platform's profile functions.
#include "core/ProgramSettingsDatabase.h"

#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "platform/Profile.h"
#include "platform/Text.h"

#include <algorithm>
#include <utility>

namespace {

// A value longer than this many characters is read cut rather than growing the buffer further.
constexpr uint32_t MaximumReadSize = 1u << 24;

// A refused write is logged; the database also remembers it (HasWriteFailed).
void ReportSettingsWriteFailure(const std::string &file, const std::wstring &section,
                                const std::wstring &key) {
    QuellinEntry entry(std::string("INIProgramSettingsDatabase"),
                       MakeString("WriteString(", QuoteString(ToStdString(section)), ", ",
                                  QuoteString(ToStdString(key)), ")"));
    entry.Log(QuellinLevelError, QuellinMarkerGeneral, "File", file, "Section", section, "Key", key);
}

std::string BytesToStdString(const U8String &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

U8String StdStringToBytes(const std::string &text) {
    return U8String(text.begin(), text.end());
}

// True when the number that "%u" would read from the text has a minus sign or needs more than
// 32 bits; "%u" would hand either back wrapped around.
bool UnsignedOutOfRange(const std::string &text) {
    size_t position = 0;
    while (position < text.size() && Platform::IsAsciiSpace(text[position]))
        ++position;
    const bool negative = position < text.size() && text[position] == '-';
    if (position < text.size() && (text[position] == '-' || text[position] == '+'))
        ++position;
    const size_t first = position;
    while (position < text.size() && Platform::IsAsciiDigit(text[position]))
        ++position;
    if (position == first)
        return false; // no number: the parser's 0
    if (negative)
        return true;
    size_t significant = first;
    while (significant < position && text[significant] == '0')
        ++significant;
    const std::string digits = text.substr(significant, position - significant);
    const std::string largest = "4294967295";
    return digits.size() > largest.size() || (digits.size() == largest.size() && digits > largest);
}

} // namespace

// ---- ProgramSettingsDatabase ---------------------------------------------------------------------

ProgramSettingsDatabase::ProgramSettingsDatabase(std::string location) : mLocation(std::move(location)) {}

ProgramSettingsDatabase::~ProgramSettingsDatabase() = default;

void ProgramSettingsDatabase::SetLocation(const std::string &location) {
    if (mOpenCount == 0)
        mLocation = location;
}

const std::string &ProgramSettingsDatabase::GetLocation() const {
    return mLocation;
}

void ProgramSettingsDatabase::WriteValue(const std::string &key, bool value) {
    WriteBool(key, value);
}
void ProgramSettingsDatabase::WriteValue(const std::string &key, float value) {
    WriteFloat(key, value);
}
void ProgramSettingsDatabase::WriteValue(const std::string &key, double value) {
    WriteDouble(key, value);
}
void ProgramSettingsDatabase::WriteValue(const std::string &key, unsigned long value) {
    WriteUnsignedLong(key, value);
}
void ProgramSettingsDatabase::WriteValue(const std::string &key, long value) {
    WriteLong(key, value);
}
void ProgramSettingsDatabase::WriteValue(const std::string &key, unsigned int value) {
    WriteUnsigned(key, value);
}
void ProgramSettingsDatabase::WriteValue(const std::string &key, int value) {
    WriteInt(key, value);
}
void ProgramSettingsDatabase::WriteValue(const std::string &key, const U8String &value) {
    WriteU8String(key, value);
}
void ProgramSettingsDatabase::WriteValue(const std::string &key, const std::string &value) {
    WriteStdString(key, value);
}
void ProgramSettingsDatabase::WriteValue(const std::string &key, wxString value) {
    WriteStdString(key, WxStringToStdString(value));
}
void ProgramSettingsDatabase::WriteValue(const std::string &key, const std::wstring &value) {
    WriteString(key, value);
}

bool ProgramSettingsDatabase::ReadValue(const std::string &key, bool defaultValue) {
    return ReadBool(key, defaultValue);
}
double ProgramSettingsDatabase::ReadValue(const std::string &key, double defaultValue) {
    return ReadDouble(key, defaultValue);
}
float ProgramSettingsDatabase::ReadValue(const std::string &key, float defaultValue) {
    return ReadFloat(key, defaultValue);
}
unsigned long ProgramSettingsDatabase::ReadValue(const std::string &key, unsigned long defaultValue) {
    return ReadUnsignedLong(key, defaultValue);
}
long ProgramSettingsDatabase::ReadValue(const std::string &key, long defaultValue) {
    return ReadLong(key, defaultValue);
}
unsigned int ProgramSettingsDatabase::ReadValue(const std::string &key, unsigned int defaultValue) {
    return ReadUnsigned(key, defaultValue);
}
int ProgramSettingsDatabase::ReadValue(const std::string &key, int defaultValue) {
    return ReadInt(key, defaultValue);
}
U8String ProgramSettingsDatabase::ReadValue(const std::string &key, const U8String &defaultValue) {
    return ReadU8String(key, defaultValue);
}
std::wstring ProgramSettingsDatabase::ReadValue(const std::string &key, wxString &value) {
    std::wstring text = ReadString(key, value.ToStdWstring());
    value = wxString(text);
    return text;
}
std::wstring ProgramSettingsDatabase::ReadValue(const std::string &key, const std::wstring &defaultValue) {
    return ReadString(key, defaultValue);
}
std::string ProgramSettingsDatabase::ReadValue(const std::string &key, const std::string &defaultValue) {
    return ReadStdString(key, defaultValue);
}

void ProgramSettingsDatabase::PushTable(const std::string &table) {
    if (mOpenCount != 0)
        mTableStack.push_back(ToStdWstring(table));
}

void ProgramSettingsDatabase::PopTable() {
    if (mOpenCount != 0 && !mTableStack.empty())
        mTableStack.pop_back();
}

void ProgramSettingsDatabase::Open() {
    ++mOpenCount;
}

void ProgramSettingsDatabase::Close() {
    if (mOpenCount > 0)
        --mOpenCount;
}

// ---- TableFullPathProgramSettingsDatabase --------------------------------------------------------

void TableFullPathProgramSettingsDatabase::PushTable(const std::string &table) {
    if (mOpenCount == 0)
        return;
    if (!mTablePath.empty())
        mTablePath += L'.';
    mTablePath += ToStdWstring(table);
    ProgramSettingsDatabase::PushTable(table);
}

void TableFullPathProgramSettingsDatabase::PopTable() {
    if (mOpenCount == 0 || mTableStack.empty())
        return;
    // The innermost name is the tail of the path.
    const size_t position = mTablePath.rfind(mTableStack.back());
    if (position != std::wstring::npos) {
        mTablePath.erase(position);
        if (!mTablePath.empty() && mTablePath.back() == L'.')
            mTablePath.pop_back();
    }
    ProgramSettingsDatabase::PopTable();
}

// ---- INIProgramSettingsDatabase ------------------------------------------------------------------

INIProgramSettingsDatabase::INIProgramSettingsDatabase(std::string fileName)
    : TableFullPathProgramSettingsDatabase(std::move(fileName)) {}

INIProgramSettingsDatabase::~INIProgramSettingsDatabase() = default;

void INIProgramSettingsDatabase::EnsureReadBuffer(uint32_t size) {
    if (mReadBufferCapacity >= size)
        return;
    mReadBuffer.reset();
    mReadBufferCapacity = 0;
    mReadBuffer.reset(new wchar_t[size]);
    mReadBufferCapacity = size;
}

std::wstring INIProgramSettingsDatabase::ReadString(const std::string &key,
                                                    const std::wstring &defaultValue) {
    const std::wstring file = ToStdWstring(mLocation);
    const std::wstring wideKey = ToStdWstring(key);
    EnsureReadBuffer(InitialReadSize);
    uint32_t copied = 0;
    for (;;) {
        copied = Platform::GetPrivateProfileString(mTablePath.c_str(), wideKey.c_str(), defaultValue.c_str(),
                                                   mReadBuffer.get(), mReadBufferCapacity, file.c_str());
        // A value that filled the buffer may have been cut: read again with twice the room.
        if (copied + 1 != mReadBufferCapacity || mReadBufferCapacity >= MaximumReadSize)
            break;
        EnsureReadBuffer(mReadBufferCapacity * 2);
    }
    return std::wstring(mReadBuffer.get(), std::min(copied, mReadBufferCapacity));
}

std::string INIProgramSettingsDatabase::ReadStdString(const std::string &key,
                                                      const std::string &defaultValue) {
    return ToStdString(ReadString(key, ToStdWstring(defaultValue)));
}

U8String INIProgramSettingsDatabase::ReadU8String(const std::string &key, const U8String &defaultValue) {
    return StdStringToBytes(ToStdString(ReadString(key, ToStdWstring(BytesToStdString(defaultValue)))));
}

unsigned long INIProgramSettingsDatabase::ReadUnsignedLong(const std::string &key,
                                                           unsigned long defaultValue) {
    // The design's 32-bit word: the same text as unsigned int.
    return ReadUnsigned(key, static_cast<unsigned int>(defaultValue));
}

long INIProgramSettingsDatabase::ReadLong(const std::string &key, long defaultValue) {
    return ReadInt(key, static_cast<int>(defaultValue));
}

unsigned int INIProgramSettingsDatabase::ReadUnsigned(const std::string &key, unsigned int defaultValue) {
    const std::string text = ReadStdString(key, UnsignedToString(defaultValue));
    // A negative or too large number keeps the default rather than becoming a huge value.
    if (UnsignedOutOfRange(text))
        return defaultValue;
    return ParseUnsigned(text);
}

int INIProgramSettingsDatabase::ReadInt(const std::string &key, int defaultValue) {
    return ParseInt(ReadStdString(key, IntToString(defaultValue)));
}

double INIProgramSettingsDatabase::ReadDouble(const std::string &key, double defaultValue) {
    return ParseDouble(ReadStdString(key, DoubleToString(defaultValue)));
}

float INIProgramSettingsDatabase::ReadFloat(const std::string &key, float defaultValue) {
    return ParseFloat(ReadStdString(key, FloatToString(defaultValue)));
}

bool INIProgramSettingsDatabase::ReadBool(const std::string &key, bool defaultValue) {
    return ParseBool(ReadStdString(key, BoolToString(defaultValue)));
}

bool INIProgramSettingsDatabase::IsReadable() const {
    return !Platform::IsProfileFileRefused(ToStdWstring(mLocation).c_str());
}

void INIProgramSettingsDatabase::WriteString(const std::string &key, const std::wstring &value) {
    if (!IsOpen())
        return;
    std::wstring line(value);
    std::replace(line.begin(), line.end(), L'\r', L' ');
    std::replace(line.begin(), line.end(), L'\n', L' ');
    const std::wstring wideKey = ToStdWstring(key);
    if (!Platform::WritePrivateProfileString(mTablePath.c_str(), wideKey.c_str(), line.c_str(),
                                             ToStdWstring(mLocation).c_str())) {
        NoteWriteFailure();
        ReportSettingsWriteFailure(mLocation, mTablePath, wideKey);
    }
}

void INIProgramSettingsDatabase::WriteStdString(const std::string &key, const std::string &value) {
    if (IsOpen())
        WriteString(key, ToStdWstring(value));
}

void INIProgramSettingsDatabase::WriteU8String(const std::string &key, const U8String &value) {
    if (IsOpen())
        WriteString(key, ToStdWstring(BytesToStdString(value)));
}

void INIProgramSettingsDatabase::WriteUnsignedLong(const std::string &key, unsigned long value) {
    WriteUnsigned(key, static_cast<unsigned int>(value));
}

void INIProgramSettingsDatabase::WriteLong(const std::string &key, long value) {
    WriteInt(key, static_cast<int>(value));
}

void INIProgramSettingsDatabase::WriteUnsigned(const std::string &key, unsigned int value) {
    if (IsOpen())
        WriteStdString(key, UnsignedToString(value));
}

void INIProgramSettingsDatabase::WriteInt(const std::string &key, int value) {
    if (IsOpen())
        WriteStdString(key, IntToString(value));
}

void INIProgramSettingsDatabase::WriteFloat(const std::string &key, float value) {
    if (IsOpen())
        WriteStdString(key, FloatToString(value));
}

void INIProgramSettingsDatabase::WriteDouble(const std::string &key, double value) {
    if (IsOpen())
        WriteStdString(key, DoubleToString(value));
}

void INIProgramSettingsDatabase::WriteBool(const std::string &key, bool value) {
    if (IsOpen())
        WriteStdString(key, value ? "1" : "0");
}

// ---- MemoryProgramSettingsDatabase ---------------------------------------------------------------

MemoryProgramSettingsDatabase::MemoryProgramSettingsDatabase() : INIProgramSettingsDatabase(std::string()) {}

MemoryProgramSettingsDatabase::~MemoryProgramSettingsDatabase() = default;

std::pair<std::wstring, std::wstring> MemoryProgramSettingsDatabase::Address(const std::string &key) const {
    return {Platform::AsciiUpper(mTablePath), Platform::AsciiUpper(ToStdWstring(key))};
}

void MemoryProgramSettingsDatabase::WriteString(const std::string &key, const std::wstring &value) {
    if (IsOpen())
        mValues[Address(key)] = value;
}

std::wstring MemoryProgramSettingsDatabase::ReadString(const std::string &key,
                                                       const std::wstring &defaultValue) {
    const auto found = mValues.find(Address(key));
    return found == mValues.end() ? defaultValue : found->second;
}

std::shared_ptr<ProgramSettingsDatabase> CreateINIProgramSettingsDatabase(const std::string &fileName) {
    return std::make_shared<INIProgramSettingsDatabase>(fileName);
}
