// Driver log file: the call-log copy of each message, the enabling check and the appending of
// lines. Threads of this process take turns on a process mutex; other processes are kept apart
// by the file's exclusive lock, tried three times 10 ms apart before a line is dropped.
#include "logging/DriverLog.h"

#include <atomic>
#include <mutex>

#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/ExclusiveFile.h"

namespace {

std::atomic<bool> gEnabled{false};

// Guards the path and serialises the file writes of this process.
std::mutex &FileMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string &StoredPath() {
    static std::string path = Platform::DriveCFile(DriverLogFile::FileName);
    return path;
}

bool IsPrintable(unsigned char c) {
    return c >= 0x20 && c <= 0x7E;
}

// The data names the record's function unless it would not read as one field of plain text.
bool IsPlainFunctionText(const std::string &data) {
    for (char c : data) {
        if (c == ';' || !IsPrintable(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

void SendNoteRecord(const std::string &description, const std::string &data) {
    QuellinEntry entry(description, IsPlainFunctionText(data) ? data : std::string("DDLOG Description"));
    entry.Log(L"DDLOG", QuellinMarkerGeneral, "DDL_log_data", data);
}

constexpr int OpenTries = 3;
constexpr uint32_t RetryPauseMilliseconds = 10;

DWORD AppendLine(const std::string &path, const std::string &line) {
    Platform::ExclusiveAppendFile file;
    // Only a file locked by another writer is tried again; any other failure ends at once.
    for (int attempt = 1; attempt <= OpenTries; ++attempt) {
        if (file.Open(path) != Platform::ExclusiveAppendFile::OpenResult::Busy)
            break;
        if (attempt < OpenTries)
            Platform::SleepMilliseconds(RetryPauseMilliseconds);
    }
    // Still held by another writer: the line is dropped without an error (LastError is 0 then).
    if (!file.IsOpen())
        return file.LastError();
    DWORD result = file.Append(line.data(), line.size());
    DWORD closed = file.Close();
    return result != 0 ? result : closed;
}

} // namespace

void DriverLogFile::CheckEnabled() {
    std::lock_guard<std::mutex> lock(FileMutex());
    StoredPath() = Platform::DriveCFile(FileName);
    gEnabled = Platform::IsRegularFile(StoredPath());
}

bool DriverLogFile::IsEnabled() {
    return gEnabled;
}

std::string DriverLogFile::FilePath() {
    std::lock_guard<std::mutex> lock(FileMutex());
    return StoredPath();
}

std::string DriverLogFile::FormatLine(int hour, int minute, int second, int milliseconds,
                                      const std::string &description, const std::string &data) {
    return FormatString("%2d:%02d:%02d.%03d", hour, minute, second, milliseconds) + ": " + description +
           ": " + data + "\r\n";
}

DWORD DriverLogFile::Write(const std::string &description, const std::string &data) {
    SendNoteRecord(description, data);
    if (!gEnabled)
        return 0;
    const Platform::LocalTime now = Platform::LocalTimeNow();
    const std::string line =
        FormatLine(now.Hour, now.Minute, now.Second, now.Milliseconds, description, data);
    std::lock_guard<std::mutex> lock(FileMutex());
    return AppendLine(StoredPath(), line);
}

DWORD DriverLogFile::Write(const std::wstring &description, const std::wstring &data) {
    return Write(ToStdString(description), ToStdString(data));
}
