// Logged message boxes: the note record of each box, the answers where no one sees the box, the
// warning for a suppressed box, the recording sink, and the error message box with its driver-log
// line.
#include "logging/LoggedMessageBox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "RecordCapture.h"
#include "logging/DriverLog.h"
#include "platform/MessageBox.h"

namespace {

class LoggedMessageBoxTest : public ::testing::Test {
protected:
    void TearDown() override { Platform::SetMessageBoxSink(nullptr); }

    // Every box from here on is answered by the sink and remembered.
    void RecordBoxes(int answer) {
        Platform::SetMessageBoxSink([this, answer](const Platform::MessageBoxRequest &request) {
            mBoxes.push_back(request);
            return answer;
        });
    }

    std::vector<Quellin::Record> BoxRecords() {
        return RecordCapture::WithModule(mCapture.Records(), L"DeviceDriver");
    }

    RecordCapture mCapture;
    TestSupport::ScopedEnv mNonInteractive{"KORVALIS_NONINTERACTIVE", "1"};
    std::vector<Platform::MessageBoxRequest> mBoxes;
};

} // namespace

TEST_F(LoggedMessageBoxTest, AWideBoxIsLoggedOnceAndAnsweredByItsDefaultButton) {
    bool suppressed = true;
    EXPECT_EQ(Platform::IdOk, MessageBoxW(nullptr, L"a;b", L"Caption", 48, &suppressed));
    EXPECT_FALSE(suppressed);

    auto records = BoxRecords();
    ASSERT_EQ(1u, records.size());
    const Quellin::Record &record = records[0];
    EXPECT_EQ(L"MessageBoxW", record.Function);
    EXPECT_EQ(L"Note", record.Level);
    EXPECT_EQ(L"MessageBoxW(\"a;b\", \"Caption\", 48)", record.Value(L"description"));
    EXPECT_NE(std::wstring::npos, record.Raw.find(L"!input;a:Text;3;a;b;a:Title;7;Caption;i:Type;48;"));
}

TEST_F(LoggedMessageBoxTest, ANarrowBoxIsLoggedUnderItsOwnName) {
    EXPECT_EQ(Platform::IdYes, MessageBoxA(nullptr, "Proceed?", "Manual instructions", 0x24));
    EXPECT_EQ(Platform::IdNo, MessageBoxA(nullptr, "Proceed?", "Manual instructions", 0x124));

    auto records = BoxRecords();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(L"MessageBoxA", records[0].Function);
    EXPECT_EQ(L"MessageBoxA(\"Proceed?\", \"Manual instructions\", 36)", records[0].Value(L"description"));
    EXPECT_EQ(L"Manual instructions", records[0].Value(L"Title"));
    EXPECT_EQ(L"292", records[1].Value(L"Type"));
}

TEST_F(LoggedMessageBoxTest, TheSinkSeesTheBoxAndItsAnswerIsReturned) {
    RecordBoxes(Platform::IdCancel);
    int hostWindow = 0;
    EXPECT_EQ(Platform::IdCancel, MessageBoxA(&hostWindow, "caf\xC3\xA9", "Title", 0x31));
    ASSERT_EQ(1u, mBoxes.size());
    EXPECT_EQ(&hostWindow, mBoxes[0].Window);
    EXPECT_EQ(L"caf\u00e9", mBoxes[0].Text);
    EXPECT_EQ(L"Title", mBoxes[0].Caption);
    EXPECT_EQ(0x31u, mBoxes[0].Style);
}

TEST_F(LoggedMessageBoxTest, ABoxNobodyCanSeeIsAnsweredAndReportedAsSuppressed) {
    // Interactive, but this thread is not the GUI thread.
    TestSupport::ScopedEnv interactive("KORVALIS_NONINTERACTIVE", "0");
    ASSERT_FALSE(Platform::IsGuiThread());
    bool suppressed = false;
    EXPECT_EQ(Platform::IdRetry, MessageBoxW(nullptr, L"text", L"cap", 0x5, &suppressed));
    EXPECT_TRUE(suppressed);

    auto records = BoxRecords();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(L"Note", records[0].Level);
    EXPECT_EQ(L"Warning", records[1].Level);
    EXPECT_EQ(L"MessageBoxW", records[1].Function);
    EXPECT_EQ(L"MessageBoxW(\"text\", \"cap\", 5)", records[1].Value(L"description"));
    EXPECT_NE(std::wstring::npos, records[1].Value(L"Warning").find(L"suppressed"));
}

TEST_F(LoggedMessageBoxTest, AnErrorMessageJoinsMessageAndFunction) {
    RecordBoxes(Platform::IdOk);
    ShowFunctionErrorMessage("configObject == NULL", "DWORD Check(int)");
    ASSERT_EQ(1u, mBoxes.size());
    EXPECT_EQ(L"Message:      configObject == NULL\n\nFunction:   DWORD Check(int)", mBoxes[0].Text);
    EXPECT_EQ(L"DWORD Check(int)", mBoxes[0].Caption);
    EXPECT_EQ(48u, mBoxes[0].Style);

    auto records = mCapture.Records();
    auto ddlog = RecordCapture::WithModule(records, L"DWORD Check(int)");
    ASSERT_EQ(1u, ddlog.size());
    EXPECT_EQ(L"configObject == NULL", ddlog[0].Value(L"DDL_log_data"));
    EXPECT_EQ(1u, RecordCapture::WithModule(records, L"DeviceDriver").size());

    ShowErrorMessage(L"only the message", "");
    ASSERT_EQ(2u, mBoxes.size());
    EXPECT_EQ(L"only the message", mBoxes[1].Text);
    EXPECT_EQ(L"", mBoxes[1].Caption);
}

TEST_F(LoggedMessageBoxTest, AnEmptyMessageShowsTheFunctionAloneAndLogsItAsData) {
    const std::string logPath = mCapture.Environment().DriveC() + "/DDLOGGER.DAT";
    TestSupport::WriteFile(logPath, "");
    DriverLogFile::CheckEnabled();
    RecordBoxes(Platform::IdOk);

    ShowErrorMessage(L"", "Function()");
    ASSERT_EQ(1u, mBoxes.size());
    EXPECT_EQ(L"Function()", mBoxes[0].Text);
    EXPECT_EQ(L"Function()", mBoxes[0].Caption);
    const std::string content = TestSupport::ReadFile(logPath);
    EXPECT_EQ(": Function(): Function()\r\n", content.substr(12)) << content;

    std::filesystem::remove(logPath);
    DriverLogFile::CheckEnabled();
}
