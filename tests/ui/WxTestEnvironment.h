// Starts wx as a GUI application for the whole test program and stops it at the end; wx's own log
// goes to stderr and a failed wx assertion fails the running test, so that nothing waits for a
// person. Every window test runs under Xvfb.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/xrc/xmlres.h>

#include "support/TestSupport.h"

class WxTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        mEnvironment = std::make_unique<TestSupport::IsolatedEnvironment>();
        static char name[] = "UiTest";
        static char *argv[] = {name, nullptr};
        int argc = 1;
        wxApp::SetInstance(new wxApp);
        ASSERT_TRUE(wxEntryStart(argc, argv)) << "no display: run under xvfb-run";
        ASSERT_TRUE(wxTheApp->CallOnInit());
        delete wxLog::SetActiveTarget(new wxLogStderr);
        wxSetAssertHandler(&FailOnAssert);
        wxXmlResource::Get()->InitAllHandlers();
    }

    void TearDown() override {
        if (wxTheApp != nullptr) {
            wxTheApp->OnExit();
            wxEntryCleanup();
        }
        mEnvironment.reset();
    }

private:
    static void FailOnAssert(const wxString &file, int line, const wxString &func, const wxString &cond,
                             const wxString &msg) {
        ADD_FAILURE() << "wx assertion " << cond << " in " << func << " (" << file << ":" << line
                      << "): " << msg;
    }

    std::unique_ptr<TestSupport::IsolatedEnvironment> mEnvironment;
};

inline ::testing::Environment *const gWxTestEnvironment =
    ::testing::AddGlobalTestEnvironment(new WxTestEnvironment);
