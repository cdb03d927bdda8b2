// wx started as a console application with its socket layer, in a private environment (lock
// directory, mailslot), for the stream tests that need no display.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/socket.h>

#include "support/TestSupport.h"

class StreamTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // A child process of a test shares its parent's environment (the lock directory above all).
        if (TestSupport::RunnerEnv("KORVALIS_STREAM_CHILD").empty())
            mEnvironment = std::make_unique<TestSupport::IsolatedEnvironment>();
        mWx = std::make_unique<wxInitializer>();
        ASSERT_TRUE(mWx->IsOk());
        ASSERT_TRUE(wxSocketBase::Initialize());
    }
    void TearDown() override {
        wxSocketBase::Shutdown();
        mWx.reset();
        mEnvironment.reset();
    }

private:
    std::unique_ptr<TestSupport::IsolatedEnvironment> mEnvironment;
    std::unique_ptr<wxInitializer> mWx;
};

inline ::testing::Environment *const gStreamTestEnvironment =
    ::testing::AddGlobalTestEnvironment(new StreamTestEnvironment);
