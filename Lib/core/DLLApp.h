// The plug-in's wx application and its log target. When the host process has no wx application
// object, start-up makes one of these: DLLApp where a display can be reached, DLLConsoleApp where
// none can (everything but windows works then). Both own the one wxLogQuellin, which turns every
// wx log message into a note record of the call log.
#pragma once

#include <memory>
#include <mutex>

#include <wx/app.h>
#include <wx/log.h>

// wx log messages as note records (module "wxLogQuellin", function "wxWidgets"). Stateless: may be
// called from several threads at once.
class wxLogQuellin : public wxLog {
public:
    wxLogQuellin() = default;
    ~wxLogQuellin() override;

    // The level word ("Error", "Warning" or "Note") and the description prefix of a wx level.
    static const wchar_t *LevelWord(wxLogLevel level);
    static const char *DescriptionPrefix(wxLogLevel level);

protected:
    void DoLogRecord(wxLogLevel level, const wxString &msg, const wxLogRecordInfo &info) override;
};

// What both application classes share: the lazily made log target, guarded by its own lock.
class DLLAppLogTarget {
public:
    virtual ~DLLAppLogTarget();
    // Makes the target on first use; the application keeps ownership.
    std::shared_ptr<wxLogQuellin> GetLogTarget();

    // Notes the process-wide target that exists before wx is started here: it belongs to someone
    // else and is never deleted by the application's start-up or exit.
    static void RememberForeignLogTarget();

protected:
    // The start-up and exit steps of both application classes.
    bool InitLogging(bool baseInitResult);
    void ExitLogging();

private:
    std::mutex mLogTargetLock;
    std::shared_ptr<wxLogQuellin> mLogTarget;
};

class DLLApp : public wxApp, public DLLAppLogTarget {
public:
    ~DLLApp() override;
    bool OnInit() override;
    int OnExit() override;
    bool UsesEventLoop() const override { return false; }
};

class DLLConsoleApp : public wxAppConsole, public DLLAppLogTarget {
public:
    ~DLLConsoleApp() override;
    bool OnInit() override;
    int OnExit() override;
    bool UsesEventLoop() const override { return false; }
};

// Application factories for wxInitialize.
wxAppConsole *wxCreateApp();
wxAppConsole *wxCreateConsoleApp();

// The application object as one of the plug-in's own, or null for the host's (another class).
DLLAppLogTarget *AsDLLApp(wxAppConsole *app);
