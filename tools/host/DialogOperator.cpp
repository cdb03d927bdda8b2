#include "tools/host/DialogOperator.h"

#include <algorithm>
#include <cstdio>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/dialog.h>
#include <wx/filename.h>
#include <wx/imagpng.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/textctrl.h>

#include "common/CommandLine.h"
#include "tools/host/WindowPhotograph.h"

namespace {

constexpr int LookIntervalMilliseconds = 50;

DialogOperator *gAssertWatcher = nullptr;

void Say(const std::string &line) {
    std::printf("operator %s\n", line.c_str());
    std::fflush(stdout);
}

wxDialog *ShownModalDialog() {
    for (wxWindow *window : wxTopLevelWindows) {
        auto *dialog = dynamic_cast<wxDialog *>(window);
        if (dialog != nullptr && dialog->IsModal() && dialog->IsShown())
            return dialog;
    }
    return nullptr;
}

bool SetControl(wxWindow &control, const wxString &value) {
    if (auto *text = dynamic_cast<wxTextCtrl *>(&control)) {
        text->SetValue(value);
        return true;
    }
    if (auto *combo = dynamic_cast<wxComboBox *>(&control)) {
        combo->SetValue(value);
        return true;
    }
    if (auto *choice = dynamic_cast<wxChoice *>(&control))
        return choice->SetStringSelection(value);
    if (auto *check = dynamic_cast<wxCheckBox *>(&control)) {
        check->SetValue(value == "1" || value.Lower() == "true");
        return true;
    }
    return false;
}

} // namespace

void StandardErrorLog::DoLogRecord(wxLogLevel level, const wxString &msg, const wxLogRecordInfo &) {
    // What wx would show in its box; status, information, debug and trace texts stay out.
    if (level > wxLOG_Message)
        return;
    const char *kind = level <= wxLOG_Error ? "error" : level == wxLOG_Warning ? "warning" : "message";
    std::fprintf(stderr, "%s: wx %s: %s\n", CommandLine::MessagePrefix().c_str(), kind,
                 msg.utf8_str().data());
    std::fflush(stderr);
}

DialogOperator::DialogOperator() : mTimer(this) {
    Bind(wxEVT_TIMER, &DialogOperator::OnTimer, this);
    gAssertWatcher = this;
    mPreviousAssertHandler = wxSetAssertHandler(&DialogOperator::OnAssert);
    mPreviousLog = wxLog::SetActiveTarget(&mLog);
}

DialogOperator::~DialogOperator() {
    mTimer.Stop();
    // A plug-in that stays loaded may still pass checks on to OnAssert, which then only prints.
    gAssertWatcher = nullptr;
    if (wxTheAssertHandler == &DialogOperator::OnAssert)
        wxSetAssertHandler(mPreviousAssertHandler);
    // A target set over ours meanwhile stays.
    wxLog *current = wxLog::SetActiveTarget(mPreviousLog);
    if (current != &mLog)
        wxLog::SetActiveTarget(current);
}

// wx's own handler would open a modal box and wait for a person who is not there.
void DialogOperator::OnAssert(const wxString &file, int line, const wxString &func, const wxString &cond,
                              const wxString &msg) {
    std::fprintf(stderr, "%s: wx assertion failed: %s(%d): %s: %s: %s\n", CommandLine::Program,
                 file.utf8_str().data(), line, func.utf8_str().data(), cond.utf8_str().data(),
                 msg.utf8_str().data());
    std::fflush(stderr);
    if (gAssertWatcher != nullptr)
        gAssertWatcher->mAsserted = true;
}

void DialogOperator::Photograph(const std::string &folder, const std::string &prefix) {
    mFolder = folder;
    mPrefix = prefix;
    mQueued.push_back("photograph " + folder + " " + prefix);
}

void DialogOperator::Set(const std::string &control, const std::string &value) {
    mValues.emplace_back(control, value);
    mQueued.push_back("set " + control + " " + value);
}

bool DialogOperator::Answer(const std::string &button) {
    if (button == "ok")
        mAnswer = wxID_OK;
    else if (button == "cancel")
        mAnswer = wxID_CANCEL;
    else
        return false;
    mQueued.push_back("answer " + button);
    return true;
}

void DialogOperator::Arm() {
    mActed = false;
    if (mPrefix.empty() && mValues.empty() && mAnswer == 0)
        return;
    if (!mHooked)
        Register();
    mHooked = true;
    mTimer.Start(LookIntervalMilliseconds);
}

bool DialogOperator::Finish() {
    const bool waited = mTimer.IsRunning();
    mTimer.Stop();
    if (mHooked)
        Unregister();
    mHooked = false;
    if (waited && !mActed)
        mNotSet.push_back("saw no dialog");
    mFolder.clear();
    mPrefix.clear();
    mValues.clear();
    mAnswer = 0;
    mQueued.clear();
    if (mAsserted)
        mNotSet.push_back("fails the call: a wx assertion failed");
    mAsserted = false;
    for (const std::string &message : mNotSet)
        std::fprintf(stderr, "%s: operator %s\n", CommandLine::MessagePrefix().c_str(), message.c_str());
    const bool done = mNotSet.empty();
    mNotSet.clear();
    return done;
}

bool DialogOperator::NothingLeft() const {
    if (mQueued.empty())
        return true;
    std::string lines;
    for (const std::string &line : mQueued)
        lines += (lines.empty() ? "\"operator " : ", \"operator ") + line + "\"";
    std::fprintf(stderr,
                 "%s: operator lines that no call took up: %s (a remove, registered, unregistered, "
                 "check, init, deinit or configure after them does)\n",
                 CommandLine::MessagePrefix().c_str(), lines.c_str());
    return false;
}

int DialogOperator::Enter(wxDialog *dialog) {
    auto *box = dynamic_cast<wxMessageDialogBase *>(dialog);
    if (box == nullptr)
        return wxID_NONE; // shown as usual
    mTimer.Stop();
    mActed = true;
    Say("reads \"" + box->GetMessage().utf8_string() + "\"");
    if (mAnswer == 0) {
        Say("waits for a person to close the box (no operator answer)");
        return wxID_NONE;
    }
    Say(mAnswer == wxID_OK ? "presses OK" : "presses Cancel");
    return mAnswer;
}

void DialogOperator::OnTimer(wxTimerEvent &) {
    wxDialog *dialog = ShownModalDialog();
    if (dialog == nullptr)
        return;
    mTimer.Stop();
    mActed = true;
    Act(*dialog);
}

void DialogOperator::Act(wxDialog &dialog) {
    Say("sees \"" + dialog.GetTitle().utf8_string() + "\"");
    if (!mPrefix.empty())
        PhotographTabs(dialog);
    for (const auto &[name, value] : mValues) {
        wxWindow *control = wxWindow::FindWindowByName(wxString::FromUTF8(name.c_str()), &dialog);
        const bool done = control != nullptr && SetControl(*control, wxString::FromUTF8(value.c_str()));
        Say((done ? "set " : "could not set ") + name);
        if (control == nullptr)
            mNotSet.push_back("found no control " + name + " in \"" + dialog.GetTitle().utf8_string() + "\"");
        else if (!done)
            mNotSet.push_back("could not set " + name + " to \"" + value + "\"");
    }
    if (mAsserted) {
        // What the dialog holds is not to be trusted, and nobody comes to close it.
        Say("presses Cancel after a wx assertion");
        dialog.EndModal(wxID_CANCEL);
        return;
    }
    if (mAnswer == 0) {
        Say("waits for a person to close \"" + dialog.GetTitle().utf8_string() + "\" (no operator answer)");
        return;
    }
    Say(mAnswer == wxID_OK ? "presses OK" : "presses Cancel");
    // Through the button, as a click: OK validates and stores before the dialog ends.
    if (auto *button = dynamic_cast<wxButton *>(dialog.FindWindow(mAnswer))) {
        wxCommandEvent click(wxEVT_BUTTON, mAnswer);
        click.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(click);
    } else {
        dialog.EndModal(mAnswer);
    }
}

void DialogOperator::Shoot(wxDialog &dialog, wxWindow &page, std::string name) {
    std::replace(name.begin(), name.end(), ' ', '-');
    const std::string file = mFolder + "/" + mPrefix + "-" + name + ".png";
    wxImage shot;
    std::string why;
    const bool painted = WindowPhotograph::WaitUntilPainted(dialog, page, shot, why);
    if (shot.IsOk() && shot.SaveFile(wxString::FromUTF8(file.c_str()), wxBITMAP_TYPE_PNG))
        Say((painted ? "photographed " : "photographed unpainted (" + why + ") ") + file);
    else
        Say("could not photograph " + file);
}

// Every tab, and every further tab of a notebook on a tab, each selected in turn; what was
// selected is selected again (a page may act on its selection).
void DialogOperator::PhotographTabs(wxDialog &dialog) {
    wxFileName::Mkdir(wxString::FromUTF8(mFolder.c_str()), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr)
        wxImage::AddHandler(new wxPNGHandler);
    auto *tabs = dynamic_cast<wxNotebook *>(dialog.FindWindow("GenericTabs"));
    if (tabs == nullptr) {
        Shoot(dialog, dialog, "1-" + dialog.GetTitle().utf8_string());
        return;
    }
    const int selected = tabs->GetSelection();
    for (size_t i = 0; i < tabs->GetPageCount(); ++i) {
        tabs->SetSelection(i);
        const std::string name = std::to_string(i + 1) + "-" + tabs->GetPageText(i).utf8_string();
        Shoot(dialog, *tabs->GetPage(i), name);
        for (wxWindow *child : tabs->GetPage(i)->GetChildren()) {
            auto *inner = dynamic_cast<wxNotebook *>(child);
            if (inner == nullptr)
                continue;
            const int innerSelected = inner->GetSelection();
            for (size_t k = 0; k < inner->GetPageCount(); ++k) {
                if (static_cast<int>(k) == innerSelected)
                    continue; // in the tab's own picture
                inner->SetSelection(k);
                Shoot(dialog, *inner->GetPage(k), name + "-" + inner->GetPageText(k).utf8_string());
            }
            inner->SetSelection(innerSelected);
        }
    }
    tabs->SetSelection(selected);
}
