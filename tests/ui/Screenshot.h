// Screenshots of configuration pages under Xvfb: waits until a window has really been painted,
// checks that every control of a page shows something other than the page's background, and saves
// the picture as <build>/screenshots/<name>.png.
//
//     EXPECT_TRUE(Screenshot::Capture(dialog, *page, "my-page"));
//
// The window must be shown; the page is the part whose controls are checked (the window itself
// when it is the page, e.g. a whole dialog).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <wx/filename.h>
#include <wx/image.h>
#include <wx/window.h>

#include "tools/host/WindowPhotograph.h"
#include "support/TestSupport.h"

namespace Screenshot {

using WindowPhotograph::Photograph;
using WindowPhotograph::Pump;
using WindowPhotograph::Same;

inline ::testing::AssertionResult
WaitUntilPainted(wxWindow &window, wxWindow &page, wxImage &shot,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::string why;
    if (WindowPhotograph::WaitUntilPainted(window, page, shot, why, timeout))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << why;
}

// The folder for screenshots: <build>/screenshots under ctest, else a folder below the temporary
// directory.
inline std::string Folder() {
    const std::string binary = TestSupport::RunnerEnv("KORVALIS_BINARY_DIR");
    const std::string folder = binary.empty()
                                   ? wxFileName::GetTempDir().utf8_string() + "/korvalis-screenshots"
                                   : binary + "/screenshots";
    wxFileName::Mkdir(wxString::FromUTF8(folder.c_str()), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    return folder;
}

// Waits until the window is painted, checks the page's controls and saves <folder>/<name>.png;
// the picture also goes to *picture when given.
inline ::testing::AssertionResult Capture(wxWindow &window, wxWindow &page, const std::string &name,
                                          wxImage *picture = nullptr) {
    wxImage shot;
    ::testing::AssertionResult painted = WaitUntilPainted(window, page, shot);
    if (picture != nullptr)
        *picture = shot;
    const std::string file = Folder() + "/" + name + ".png";
    if (shot.IsOk() && !shot.SaveFile(wxString::FromUTF8(file.c_str()), wxBITMAP_TYPE_PNG))
        return ::testing::AssertionFailure() << "cannot write " << file;
    if (!painted)
        return painted << " (picture: " << file << ")";
    return ::testing::AssertionSuccess();
}

} // namespace Screenshot
