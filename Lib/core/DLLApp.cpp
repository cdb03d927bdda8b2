// The plug-in's wx application classes and the wx log target that feeds the call log.
#include "core/DLLApp.h"

#include <wx/thread.h>

#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"

namespace {

// The process-wide target found before wx was started here (usually none).
wxLog *gForeignLogTarget = nullptr;

// Makes the application's target the process-wide one. The target replaced is deleted only when
// wx made it on demand during this start-up (never the host's own).
void ActivateLogTarget(DLLAppLogTarget &app) {
    std::shared_ptr<wxLogQuellin> own = app.GetLogTarget();
    wxLog *previous = wxLog::SetActiveTarget(own.get());
    if (previous != nullptr && previous != own.get() && previous != gForeignLogTarget)
        delete previous;
}

} // namespace

// ---- wxLogQuellin ---------------------------------------------------------------------------------

wxLogQuellin::~wxLogQuellin() = default;

const wchar_t *wxLogQuellin::LevelWord(wxLogLevel level) {
    if (level == wxLOG_FatalError || level == wxLOG_Error)
        return QuellinLevelError;
    if (level == wxLOG_Warning)
        return QuellinLevelWarning;
    return QuellinLevelNote;
}

const char *wxLogQuellin::DescriptionPrefix(wxLogLevel level) {
    if (level == wxLOG_FatalError || level == wxLOG_Error)
        return "Error: ";
    if (level == wxLOG_Warning)
        return "Warning: ";
    return "";
}

void wxLogQuellin::DoLogRecord(wxLogLevel level, const wxString &msg, const wxLogRecordInfo &info) {
    // A log message must never fail the code that logged it.
    try {
        QuellinEntry entry("wxLogQuellin", "wxWidgets");
        const std::string description = DescriptionPrefix(level) + ToStdString(msg);
        entry.Log(LevelWord(level), QuellinDescription, description, QuellinMarkerInput, L"msg", msg,
                  L"Level", static_cast<DWORD>(level), L"filename", info.filename, L"line number", info.line,
                  L"function", info.func, L"thread", static_cast<DWORD>(info.threadId));
    } catch (...) {
    }
}

// ---- Log target of the application ------------------------------------------------------------------

DLLAppLogTarget::~DLLAppLogTarget() = default;

std::shared_ptr<wxLogQuellin> DLLAppLogTarget::GetLogTarget() {
    std::lock_guard<std::mutex> guard(mLogTargetLock);
    if (!mLogTarget)
        mLogTarget = std::make_shared<wxLogQuellin>();
    return mLogTarget;
}

void DLLAppLogTarget::RememberForeignLogTarget() {
    // SetActiveTarget reads the target without making one on demand.
    gForeignLogTarget = wxLog::SetActiveTarget(nullptr);
    wxLog::SetActiveTarget(gForeignLogTarget);
}

bool DLLAppLogTarget::InitLogging(bool baseInitResult) {
    QuellinEntry entry("DLLApp", "OnInit()");
    entry.LogBegin(QuellinLevelNote);
    entry.LogEnd(QuellinLevelComplete, L"InitStatus", baseInitResult, L"MainThreadID",
                 static_cast<DWORD>(wxThread::GetMainId()), L"ThreadID",
                 static_cast<DWORD>(wxThread::GetCurrentId()));
    return baseInitResult;
}

void DLLAppLogTarget::ExitLogging() {
    wxLog *previous = wxLog::SetActiveTarget(nullptr);
    std::shared_ptr<wxLogQuellin> own = GetLogTarget();
    // Only a target that wx made on demand while it ran for the plug-in is deleted here.
    if (previous != nullptr && previous != own.get() && previous != gForeignLogTarget)
        delete previous;
}

// ---- Application classes ----------------------------------------------------------------------------

DLLApp::~DLLApp() = default;

bool DLLApp::OnInit() {
    ActivateLogTarget(*this);
    return InitLogging(wxAppConsoleBase::OnInit());
}

int DLLApp::OnExit() {
    ExitLogging();
    return 0;
}

DLLConsoleApp::~DLLConsoleApp() = default;

bool DLLConsoleApp::OnInit() {
    ActivateLogTarget(*this);
    return InitLogging(wxAppConsoleBase::OnInit());
}

int DLLConsoleApp::OnExit() {
    ExitLogging();
    return 0;
}

wxAppConsole *wxCreateApp() {
    wxAppConsoleBase::CheckBuildOptions(WX_BUILD_OPTIONS_SIGNATURE, "your program");
    return new DLLApp();
}

wxAppConsole *wxCreateConsoleApp() {
    wxAppConsoleBase::CheckBuildOptions(WX_BUILD_OPTIONS_SIGNATURE, "your program");
    return new DLLConsoleApp();
}

DLLAppLogTarget *AsDLLApp(wxAppConsole *app) {
    return dynamic_cast<DLLAppLogTarget *>(app);
}
