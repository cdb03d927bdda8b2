// The driver log file: enabling by the file's existence, the line format, appending from many
// threads, a file locked by another writer, and the call-log copy of every message.
#include "logging/DriverLog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <limits>
#include <sstream>
#include <thread>
#include <vector>

#include "RecordCapture.h"
#include "platform/ExclusiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<std::string> Lines(const std::string &content) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    return lines;
}

class DriverLogTest : public ::testing::Test {
protected:
    std::string LogPath() const { return mCapture.Environment().DriveC() + "/DDLOGGER.DAT"; }
    void Enable(const std::string &content = std::string()) {
        TestSupport::WriteFile(LogPath(), content);
        DriverLogFile::CheckEnabled();
        ASSERT_TRUE(DriverLogFile::IsEnabled());
    }
    void TearDown() override {
        std::filesystem::remove_all(LogPath());
        DriverLogFile::CheckEnabled();
    }

    RecordCapture mCapture;
};

// The text after a time stamp "hh:mm:ss.mmm: " (hour padded with a blank), or "<bad time>".
std::string AfterTimeStamp(const std::string &line) {
    const std::string shape = "#9:59:59.999: ";
    if (line.size() < shape.size())
        return "<bad time>";
    for (size_t i = 0; i < shape.size(); ++i) {
        const char c = line[i];
        bool good = shape[i] == '#'   ? (c == ' ' || c == '1' || c == '2')
                    : shape[i] == '9' ? (c >= '0' && c <= '9')
                    : shape[i] == '5' ? (c >= '0' && c <= '5')
                                      : c == shape[i];
        if (!good)
            return "<bad time>";
    }
    return line.substr(shape.size());
}

} // namespace

TEST_F(DriverLogTest, LineFormatPadsTheHourWithABlankAndTheRestWithZeros) {
    EXPECT_EQ(" 9:05:03.042: Desc: Data\r\n", DriverLogFile::FormatLine(9, 5, 3, 42, "Desc", "Data"));
    EXPECT_EQ("13:00:00.007: a: \r\n", DriverLogFile::FormatLine(13, 0, 0, 7, "a", ""));
}

TEST_F(DriverLogTest, WithoutTheFileNothingIsWrittenButTheNoteRecordIsSent) {
    DriverLogFile::CheckEnabled();
    EXPECT_FALSE(DriverLogFile::IsEnabled());
    EXPECT_EQ(LogPath(), DriverLogFile::FilePath());

    EXPECT_EQ(0u, DriverLogFile::Write(std::string("wxDLLApp"), std::string("abc")));
    EXPECT_FALSE(std::filesystem::exists(LogPath()));

    auto records = RecordCapture::WithModule(mCapture.Records(), L"wxDLLApp");
    ASSERT_EQ(1u, records.size());
    const Quellin::Record &record = records[0];
    EXPECT_EQ(Quellin::Record::Kind::Note, record.RecordKind);
    EXPECT_EQ(L"abc", record.Function);
    EXPECT_EQ(L"DDLOG", record.Level);
    EXPECT_NE(std::wstring::npos, record.Raw.find(L";DDLOG;!general;a:DDL_log_data;3;abc;"));
    EXPECT_EQ(L"abc", record.Value(L"DDL_log_data", L"!general"));
}

TEST_F(DriverLogTest, DataThatWouldNotReadAsAFunctionNameIsDescribedInstead) {
    const std::string datas[] = {"a;b", "tab\there", "line\r\nbreak", "caf\xC3\xA9",
                                 std::string("nul\0x", 5)};
    for (const std::string &data : datas)
        DriverLogFile::Write(std::string("Module"), data);
    DriverLogFile::Write(std::string("Module"), std::string("plain text ~!"));

    auto records = RecordCapture::WithModule(mCapture.Records(), L"Module");
    ASSERT_EQ(6u, records.size());
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(L"DDLOG Description", records[i].Function) << i;
    EXPECT_EQ(L"plain text ~!", records[5].Function);
    // The counted value keeps the ';' inside the data.
    EXPECT_EQ(L"a;b", records[0].Value(L"DDL_log_data"));
    EXPECT_NE(std::wstring::npos, records[0].Raw.find(L"a:DDL_log_data;3;a;b;"));
}

TEST_F(DriverLogTest, AnEnabledFileGetsOneLinePerMessageAppended) {
    Enable("earlier line\r\n");
    EXPECT_EQ(
        0u, DriverLogFile::Write(std::string("DeviceDriverBase::PushWarningToQueue"), std::string("first")));
    EXPECT_EQ(0u, DriverLogFile::Write(std::wstring(L"Wide"), std::wstring(L"second \u00e9")));

    const std::string content = TestSupport::ReadFile(LogPath());
    auto lines = Lines(content);
    ASSERT_EQ(3u, lines.size()) << content;
    EXPECT_EQ("earlier line", lines[0]);
    EXPECT_EQ("DeviceDriverBase::PushWarningToQueue: first", AfterTimeStamp(lines[1]));
    EXPECT_EQ("Wide: second \xC3\xA9", AfterTimeStamp(lines[2]));
    EXPECT_EQ("\r\n", content.substr(content.size() - 2));

    // The call-log copy goes out with the file enabled too.
    EXPECT_EQ(1u,
              RecordCapture::WithModule(mCapture.Records(), L"DeviceDriverBase::PushWarningToQueue").size());
}

TEST_F(DriverLogTest, TheFlagFollowsTheFileOnlyAtTheEnablingCheck) {
    Enable();
    std::filesystem::remove(LogPath());
    // Still enabled: the message brings the file back.
    EXPECT_EQ(0u, DriverLogFile::Write(std::string("d"), std::string("recreated")));
    EXPECT_EQ(1u, Lines(TestSupport::ReadFile(LogPath())).size());

    std::filesystem::remove(LogPath());
    DriverLogFile::CheckEnabled();
    EXPECT_FALSE(DriverLogFile::IsEnabled());
    DriverLogFile::Write(std::string("d"), std::string("dropped"));
    EXPECT_FALSE(std::filesystem::exists(LogPath()));

    // A directory of that name does not enable the file.
    std::filesystem::create_directory(LogPath());
    DriverLogFile::CheckEnabled();
    EXPECT_FALSE(DriverLogFile::IsEnabled());
}

// Something else put in place of an enabled file: the line fails at once (only a lock held by
// another writer is worth a retry), no link is followed and nothing blocks.
TEST_F(DriverLogTest, AReplacedFileFailsAtOnceWithoutFollowingOrBlocking) {
    const std::string target = mCapture.Environment().Root() + "/elsewhere";
    const std::string fifo = mCapture.Environment().Root() + "/fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    struct Case {
        const char *name;
        std::function<void()> replace;
    } cases[] = {
        {"directory", [&] { std::filesystem::create_directory(LogPath()); }},
        {"link to a file", [&] { std::filesystem::create_symlink(target, LogPath()); }},
        {"FIFO", [&] { std::filesystem::rename(fifo, LogPath()); }},
    };
    TestSupport::WriteFile(target, "kept\n");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Enable();
        std::filesystem::remove(LogPath());
        c.replace();
        auto written = std::async(std::launch::async, [] {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < 20; ++i)
                if (DriverLogFile::Write(std::string("d"), std::string("x")) == 0)
                    return std::numeric_limits<double>::infinity();
            return TestSupport::MillisecondsSince(start);
        });
        if (written.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the write blocked";
            int unblock = open(LogPath().c_str(), O_RDONLY | O_NONBLOCK);
            written.wait();
            close(unblock);
            continue;
        }
        // Three tries 10 ms apart would take at least 400 ms for the 20 lines.
        EXPECT_LT(written.get(), 300);
        std::filesystem::remove(LogPath());
    }
    EXPECT_EQ("kept\n", TestSupport::ReadFile(target));
}

// Without a collector the writers spend their time on the file, where they meet.
TEST(DriverLogThreadsTest, ThreadsOfOneProcessLoseNoLine) {
    TestSupport::IsolatedEnvironment environment;
    const std::string logPath = environment.DriveC() + "/DDLOGGER.DAT";
    TestSupport::WriteFile(logPath, "");
    DriverLogFile::CheckEnabled();
    constexpr int ThreadCount = 32;
    constexpr int LinesPerThread = 400;
    std::vector<std::thread> threads;
    std::vector<int> failures(ThreadCount, 0);
    for (int t = 0; t < ThreadCount; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < LinesPerThread; ++i) {
                std::ostringstream data;
                data << "thread " << t << " line " << i;
                if (DriverLogFile::Write(std::string("Worker"), data.str()) != 0)
                    ++failures[t];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    auto lines = Lines(TestSupport::ReadFile(logPath));
    std::filesystem::remove(logPath);
    DriverLogFile::CheckEnabled();
    ASSERT_EQ(static_cast<size_t>(ThreadCount * LinesPerThread), lines.size());
    std::vector<int> next(ThreadCount, 0);
    for (const std::string &line : lines) {
        int t = -1, i = -1;
        char end = 0;
        ASSERT_EQ(2, std::sscanf(AfterTimeStamp(line).c_str(), "Worker: thread %d line %d%c", &t, &i, &end))
            << line;
        ASSERT_TRUE(t >= 0 && t < ThreadCount) << line;
        // Each thread's lines arrive whole and in its own order.
        EXPECT_EQ(next[t]++, i);
    }
    for (int t = 0; t < ThreadCount; ++t)
        EXPECT_EQ(0, failures[t]);
}

TEST_F(DriverLogTest, AFileLockedByAnotherWriterDropsTheLineAfterThreeTries) {
    Enable();
    Platform::ExclusiveAppendFile other;
    ASSERT_EQ(Platform::ExclusiveAppendFile::OpenResult::Opened, other.Open(LogPath()));

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0u, DriverLogFile::Write(std::string("d"), std::string("lost")));
    const double waited = TestSupport::MillisecondsSince(start);
    EXPECT_GE(waited, 19);
    EXPECT_LT(waited, 20 + TestSupport::SchedulingSlack.count()) << "more than three tries";
    EXPECT_EQ("", TestSupport::ReadFile(LogPath()));

    other.Close();
    EXPECT_EQ(0u, DriverLogFile::Write(std::string("d"), std::string("kept")));
    EXPECT_EQ(1u, Lines(TestSupport::ReadFile(LogPath())).size());
}
