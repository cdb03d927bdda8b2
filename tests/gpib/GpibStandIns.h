// The GPIB stand-in and the service-request library as one test fixture: the library path points
// at the stand-ins and at the built libgpibsrq.so, the stand-in's control entry points are bound,
// every test starts with an empty bus and the collector socket and lock directory are private.
// Helpers read the trace of GPIB calls and the bytes an instrument received.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "../stand-ins/gpib-32/Gpib32StandIn.h"
#include "core/StandInLibraries.h"
#include "platform/DynamicLibrary.h"
#include "support/TestSupport.h"

// The stand-ins first, then the folder of the plug-in and libgpibsrq.so.
inline std::string GpibLibraryPath() {
    const std::string standIns = StandIns::Directory();
    return standIns + ":" + standIns.substr(0, standIns.find_last_of('/')) + "/plugin";
}

class GpibStandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(StandIns::Directory().empty());
        ASSERT_TRUE(mGpib.Load("GPIB-32.DLL")) << mGpib.LastError();
        if (mWithServiceRequests) {
            ASSERT_TRUE(mSrq.Load("GPIBSRQ.DLL")) << mSrq.LastError();
        }
        Bind(mGpib, "gpibStandInReset", Reset);
        Reset();
        Bind(mGpib, "gpibStandInSetBoard", SetBoard);
        Bind(mGpib, "gpibStandInAddInstrument", AddInstrument);
        Bind(mGpib, "gpibStandInSetReply", SetReply);
        Bind(mGpib, "gpibStandInQueueOutput", QueueOutput);
        Bind(mGpib, "gpibStandInPushError", PushError);
        Bind(mGpib, "gpibStandInSetQueryError", SetQueryError);
        Bind(mGpib, "gpibStandInKeepOutput", KeepOutput);
        Bind(mGpib, "gpibStandInTalkFor", TalkFor);
        Bind(mGpib, "gpibStandInHoldLock", HoldLock);
        Bind(mGpib, "gpibStandInHoldOpen", HoldOpen);
        Bind(mGpib, "gpibStandInFailNext", FailNext);
        Bind(mGpib, "gpibStandInTrace", TraceText);
        Bind(mGpib, "gpibStandInClearTrace", ClearTrace);
        Bind(mGpib, "gpibStandInWriteTimes", WriteTimes);
        Bind(mGpib, "gpibStandInReceived", ReceivedBytes);
        Bind(mGpib, "gpibStandInOpenDevices", OpenDevices);
        Bind(mGpib, "gpibStandInPendingFailures", PendingFailures);
    }

    template <typename F> void Bind(Platform::DynamicLibrary &library, const char *name, F &function) {
        function = reinterpret_cast<F>(library.GetSymbol(name));
        ASSERT_NE(nullptr, function) << name;
    }

    // The calls traced since the last ClearTrace, one a line.
    std::vector<std::string> Trace() {
        std::string text(static_cast<size_t>(TraceText(nullptr, 0)) + 1, '\0');
        TraceText(text.data(), static_cast<long>(text.size()));
        std::vector<std::string> lines;
        std::istringstream stream(text.c_str());
        for (std::string line; std::getline(stream, line);)
            lines.push_back(line);
        return lines;
    }

    // The traced calls whose names start with the prefix.
    std::vector<std::string> TraceOf(const std::string &prefix) {
        std::vector<std::string> lines;
        for (const std::string &line : Trace())
            if (line.compare(0, prefix.size(), prefix) == 0)
                lines.push_back(line);
        return lines;
    }

    std::string Received(int board, int pad, int sad = 0) {
        std::string text(static_cast<size_t>(ReceivedBytes(board, pad, sad, nullptr, 0)) + 1, '\0');
        const long n = ReceivedBytes(board, pad, sad, text.data(), static_cast<long>(text.size()));
        text.resize(static_cast<size_t>(n));
        return text;
    }

    // False: the service-request library is left alone (a library once loaded stays in the process).
    bool mWithServiceRequests = true;
    TestSupport::IsolatedEnvironment mEnvironment;
    TestSupport::ScopedEnv mLibraryPath{"KORVALIS_LIBRARY_PATH", GpibLibraryPath()};
    TestSupport::ScopedEnv mRegistry{"KORVALIS_REGISTRY", ""};
    Platform::DynamicLibrary mGpib;
    Platform::DynamicLibrary mSrq;

    Gpib32StandIn::ResetFunction Reset = nullptr;
    Gpib32StandIn::SetBoardFunction SetBoard = nullptr;
    Gpib32StandIn::AddInstrumentFunction AddInstrument = nullptr;
    Gpib32StandIn::SetReplyFunction SetReply = nullptr;
    Gpib32StandIn::QueueOutputFunction QueueOutput = nullptr;
    Gpib32StandIn::PushErrorFunction PushError = nullptr;
    Gpib32StandIn::SetQueryErrorFunction SetQueryError = nullptr;
    Gpib32StandIn::KeepOutputFunction KeepOutput = nullptr;
    Gpib32StandIn::TalkForFunction TalkFor = nullptr;
    Gpib32StandIn::HoldLockFunction HoldLock = nullptr;
    Gpib32StandIn::HoldOpenFunction HoldOpen = nullptr;
    Gpib32StandIn::FailNextFunction FailNext = nullptr;
    Gpib32StandIn::TraceFunction TraceText = nullptr;
    Gpib32StandIn::ClearTraceFunction ClearTrace = nullptr;
    Gpib32StandIn::WriteTimesFunction WriteTimes = nullptr;
    Gpib32StandIn::ReceivedFunction ReceivedBytes = nullptr;
    Gpib32StandIn::OpenDevicesFunction OpenDevices = nullptr;
    Gpib32StandIn::PendingFailuresFunction PendingFailures = nullptr;
};
