// The wx host's stand-in for a person at the plug-in's windows: once the next modal dialog is
// shown, it photographs every tab, types the queued values into the named controls and presses
// the queued button; a message box it answers with that button as it opens. It prints one line
// for each step. Without a queued button the dialog or box waits for a person, and says so; a call
// that opens no dialog to act on fails, and so do lines that no call took up. While it lives,
// neither a failed wx check nor a wx log message (an XRC error) opens a box: both are named on
// standard error; after a failed check a dialog the operator acts on is cancelled, and the call
// fails.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <wx/debug.h>
#include <wx/event.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/timer.h>

class wxDialog;

// wx's log messages on standard error, each at once: the host's own target keeps them for a box.
class StandardErrorLog : public wxLog {
protected:
    void DoLogRecord(wxLogLevel level, const wxString &msg, const wxLogRecordInfo &info) override;
};

class DialogOperator : public wxEvtHandler, private wxModalDialogHook {
public:
    DialogOperator();
    ~DialogOperator() override;
    DialogOperator(const DialogOperator &) = delete;
    DialogOperator &operator=(const DialogOperator &) = delete;

    // Pictures go to <folder>/<prefix>-<n>-<tab title>[-<inner tab title>].png.
    void Photograph(const std::string &folder, const std::string &prefix);
    void Set(const std::string &control, const std::string &value);
    // "ok" or "cancel"; false for any other answer.
    bool Answer(const std::string &button);

    // Watches for the dialog while the host's call runs; Finish forgets what was not done. False,
    // after a message naming them, when no dialog came, when controls were missing or could not
    // take their value, or when a wx check failed since the last Finish.
    void Arm();
    bool Finish();
    // False, after a message naming them, when lines are queued that no call took up.
    bool NothingLeft() const;

private:
    static void OnAssert(const wxString &file, int line, const wxString &func, const wxString &cond,
                         const wxString &msg);

    int Enter(wxDialog *dialog) override;
    void Exit(wxDialog *) override {}
    void OnTimer(wxTimerEvent &event);
    void Act(wxDialog &dialog);
    void PhotographTabs(wxDialog &dialog);
    void Shoot(wxDialog &dialog, wxWindow &page, std::string name);

    wxTimer mTimer;
    std::string mFolder;
    std::string mPrefix;
    std::vector<std::pair<std::string, std::string>> mValues;
    int mAnswer = 0;
    std::vector<std::string> mQueued; // the lines as given, for NothingLeft
    std::vector<std::string> mNotSet; // controls that were missing or refused their value
    bool mActed = false;
    bool mHooked = false;
    bool mAsserted = false;
    wxAssertHandler_t mPreviousAssertHandler = nullptr;
    StandardErrorLog mLog;
    wxLog *mPreviousLog = nullptr;
};
