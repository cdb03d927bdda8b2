// Configuration windows from XRC resources: loading, laying out, running and cleaning up.
#include "core/ResourceWindows.h"

#include <set>
#include <utility>
#include <vector>

#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/tooltip.h>
#include <wx/weakref.h>
#include <wx/xrc/xmlres.h>

#include "core/DLLMain.h"
#include "core/ResultCodes.h"
#include "core/StringUtils.h"
#include "logging/DriverLog.h"
#include "logging/LoggedMessageBox.h"
#include "logging/QuellinEntry.h"
#include "platform/Environment.h"
#include "platform/GuardedSlot.h"
#include "platform/MessageBox.h"
#include "platform/WindowHandle.h"
#include "ui/ValidatorBasedPanel.h"

namespace {

constexpr const char *DriverLogDescription = "wxDLLApp";
constexpr const wchar_t *LogModule = L"wxDLLApp";
constexpr int ToolTipDisplayMilliseconds = 10000;
// Room around a tab's title in the tab strip (the theme's padding and borders).
constexpr int TabTitlePadding = 40;
// The answer of a window call that showed nothing; no modal result (a button id) takes this value.
constexpr int NotShown = static_cast<int>(ResultCode::ConfigurationWindowUnavailable);

// A function-local static, as GuardedSlot asks.
Platform::GuardedSlot<ModalDialogSink> &Sink() {
    static Platform::GuardedSlot<ModalDialogSink> slot;
    return slot;
}

// Deletes a window at once: a top-level window's Destroy() only queues it for an event loop that
// the host may never run. A window that a parent took with it is already gone.
void DeleteWindow(wxWindow *window) {
    wxWeakRef<wxWindow> alive(window);
    if (alive && !alive->IsBeingDeleted())
        delete alive.get();
}

// Why no window can be shown now; null when one can.
const wchar_t *WindowsUnavailableReason() {
    if (!Platform::IsGuiThread())
        return L"not the GUI thread";
    if (!Platform::CanShowWindows())
        return L"no display";
    return nullptr;
}

bool CanShowWindowsNow(const wchar_t *function, const wxString &title) {
    const wchar_t *reason = WindowsUnavailableReason();
    if (reason == nullptr)
        return true;
    QuellinEntry entry(LogModule, function);
    entry.Log(QuellinLevelWarning, QuellinDescription,
              MakeWString(L"The configuration window was not shown: ", reason), L"Title",
              ToStdWstring(title));
    return false;
}

// The resource names of the pages that did not load while one configuration window was built,
// pages of a notebook on a page included (they load when their page is initialised). Windows are
// built on the GUI thread only, one at a time; a nested window keeps its own list.
class MissingPages {
public:
    MissingPages() : mOuter(Current()) { Current() = this; }
    ~MissingPages() { Current() = mOuter; }
    MissingPages(const MissingPages &) = delete;
    MissingPages &operator=(const MissingPages &) = delete;

    static void Note(const wxString &resourceName) {
        if (Current() != nullptr)
            Current()->mNames.push_back(ToStdWstring(resourceName));
    }
    bool Empty() const { return mNames.empty(); }
    std::wstring Names() const { return JoinTexts(mNames, L", "); }

private:
    static MissingPages *&Current() {
        static MissingPages *current = nullptr;
        return current;
    }
    MissingPages *mOuter;
    std::vector<std::wstring> mNames;
};

// Where the plug-in looked for its resources, for the call log.
std::wstring ResourceFolderText() {
    if (const auto *module = dynamic_cast<const DefaultResourcesDLLModule *>(DLLCurrentModule()))
        return module->GetResourceFolder().Describe();
    return L"none (no resources loaded at start-up)";
}

// A window that lost pages is not shown: what it would store could only be a part of the settings.
bool RefuseWithoutEveryPage(const MissingPages &missing, const wchar_t *function) {
    if (missing.Empty())
        return false;
    QuellinEntry entry(LogModule, function);
    entry.Log(QuellinLevelError, QuellinDescription, L"Pages not loaded from the resources", L"Pages",
              missing.Names(), L"Folder", ResourceFolderText());
    return true;
}

// Panels of a page list that no window took as a child are deleted when the call ends.
class UnshownPages {
public:
    explicit UnshownPages(const PanelResourceNameList &panels) {
        for (const auto &entry : panels)
            if (entry && entry->GetPanel() != nullptr)
                mPanels.emplace_back(entry->GetPanel());
    }
    ~UnshownPages() {
        for (wxWeakRef<wxPanel> &panel : mPanels)
            if (panel && panel->GetParent() == nullptr)
                DeleteWindow(panel.get()); // a panel listed twice is gone for its second reference
    }
    UnshownPages(const UnshownPages &) = delete;
    UnshownPages &operator=(const UnshownPages &) = delete;

private:
    std::vector<wxWeakRef<wxPanel>> mPanels;
};

// The host's window, when it is one of ours, disabled for the time of one configuration call.
class HostWindowScope {
public:
    explicit HostWindowScope(HostWindow hWnd) : mWindow(Platform::ParentFromHandle(hWnd)) {
        if (mWindow)
            mWindow->Enable(false);
    }
    ~HostWindowScope() {
        if (mWindow)
            mWindow->Enable(true);
    }
    HostWindowScope(const HostWindowScope &) = delete;
    HostWindowScope &operator=(const HostWindowScope &) = delete;

    wxWindow *Window() const { return mWindow.get(); }

private:
    wxWeakRef<wxWindow> mWindow;
};

// The minimum size of the first child of every window item of the dialog's top-level sizer goes
// to the target; the last such item decides. Items without child windows are skipped.
void TakeMinimumSizeOfFirstChildren(wxWindow *dialog, wxWindow *target) {
    wxSizer *sizer = dialog->GetSizer();
    if (sizer == nullptr)
        return;
    for (wxSizerItemList::compatibility_iterator node = sizer->GetChildren().GetFirst(); node;
         node = node->GetNext()) {
        wxSizerItem *item = node->GetData();
        if (item == nullptr || !item->IsWindow())
            continue;
        const wxWindowList &children = item->GetWindow()->GetChildren();
        if (children.empty())
            continue;
        target->SetMinSize(children.front()->GetMinSize());
    }
}

// The notebook grows to its largest page and to a tab strip that shows every title (a notebook on
// a page first): the first page alone would cut larger pages off, and GTK hides tabs that do not
// fit behind scroll arrows.
void GrowToEveryPage(wxNotebook *notebook) {
    wxSize size = notebook->GetMinSize();
    int strip = 0;
    for (size_t i = 0; i < notebook->GetPageCount(); ++i) {
        wxWindow *page = notebook->GetPage(i);
        for (wxWindow *child : page->GetChildren())
            if (auto *inner = dynamic_cast<wxNotebook *>(child)) {
                GrowToEveryPage(inner);
                page->InvalidateBestSize();
            }
        size.IncTo(notebook->CalcSizeFromPage(page->GetBestSize()));
        strip += notebook->GetTextExtent(notebook->GetPageText(i)).x + TabTitlePadding;
    }
    size.IncTo(wxSize(strip, 0));
    notebook->SetMinSize(size);
}

void FitToContent(wxDialog *dialog) {
    dialog->Layout();
    dialog->Fit();
    dialog->SetMinSize(dialog->GetSize());
}

int AnswerFromEnvironment() {
    return ToLower(Platform::GetEnv("KORVALIS_DIALOG_ANSWER")) == "ok" ? wxID_OK : wxID_CANCEL;
}

// The modal loop, or its stand-in where no person answers.
int RunModal(wxDialog &dialog) {
    const ModalDialogSink sink = Sink().Get();
    if (!sink && !Platform::IsNonInteractive())
        return dialog.ShowModal();

    dialog.InitDialog();
    int answer = sink ? sink(dialog) : AnswerFromEnvironment();
    // What the OK button does: nothing is stored unless every control validates.
    if (answer == wxID_OK && !(dialog.Validate() && dialog.TransferDataFromWindow()))
        answer = wxID_CANCEL;
    QuellinEntry entry(LogModule, L"ShowDialogModal");
    entry.Log(QuellinLevelNote, QuellinDescription, L"Dialog answered without a person", L"Title",
              ToStdWstring(dialog.GetTitle()), L"Answer", answer == wxID_OK ? L"OK" : L"Cancel");
    return answer;
}

} // namespace

void SetModalDialogSink(ModalDialogSink sink) {
    Sink().Set(std::move(sink));
}

int ShowConfigurationWindowAsDialog(wxWindow *window, HostWindow hWnd, const wxString &resourceName,
                                    const wxString &title) {
    return ShowConfigurationWindow(window, hWnd, resourceName, title, true);
}

int ShowConfigurationWindow(wxWindow *window, HostWindow hWnd, const wxString &resourceName,
                            const wxString &title, bool bModal) {
    if (window == nullptr)
        return 0;
    if (!CanShowWindowsNow(L"ShowConfigurationWindow", title)) {
        DeleteWindow(window);
        return NotShown;
    }
    HostWindowScope host(hWnd);
    wxWindow *parent = host.Window();
    wxWeakRef<wxWindow> object(window);
    ForEachChildWindow(window);

    int result = 0;
    bool shown = false;
    if (wxDialog *dialogObject = dynamic_cast<wxDialog *>(window)) {
        if (wxDialog *dialog = ShowDialog(dialogObject, parent, resourceName)) {
            shown = true;
            if (bModal)
                result = ShowDialogModal(parent, dialog, title);
            else
                ShowFrame(parent, dialog, title);
        }
    } else if (wxFrame *frameObject = dynamic_cast<wxFrame *>(window)) {
        if (wxFrame *frame = LoadFrameFromResource(frameObject, parent, resourceName)) {
            shown = true;
            ShowFrame(parent, frame, title);
        }
    }
    if (!shown) {
        // Only a panel can go into the generic dialog; any other object gives it none.
        wxPanel *panel = object ? dynamic_cast<wxPanel *>(object.get()) : nullptr;
        if (wxDialog *dialog = ShowGenericDialog(panel, parent, resourceName)) {
            shown = true;
            if (bModal)
                result = ShowDialogModal(parent, dialog, title);
            else
                ShowFrame(parent, dialog, title);
        }
    }
    // A dialog or frame with an empty title, or a panel that did not load, is not leaked.
    if (!shown) {
        DeleteWindow(object.get());
        // The person who asked for a dialog is told that none comes.
        result = bModal ? ShowDialogModal(parent, nullptr, title) : NotShown;
    }
    return result;
}

int ShowTabbedConfigurationWindow(const PanelResourceNameList &panels, HostWindow hWnd,
                                  const wxString &title) {
    UnshownPages unshown(panels);
    if (!CanShowWindowsNow(L"ShowTabbedConfigurationWindow", title))
        return NotShown;
    HostWindowScope host(hWnd);
    wxDialog *dialog = ShowGenericTabbedDialog(panels, host.Window());
    return ShowDialogModal(host.Window(), dialog, title);
}

DWORD ShowTabbedConfigurationPages(HostWindow hWnd, const PanelResourceNameList &panels,
                                   const std::wstring &title) {
    if (panels.empty())
        return 0;
    // What a shown window answers is not passed on; a window that was not shown is.
    return ShowTabbedConfigurationWindow(panels, hWnd, wxString(title)) == NotShown
               ? ResultCode::ConfigurationWindowUnavailable
               : 0;
}

void DeleteConfigurationPages(const PanelResourceNameList &panels) {
    UnshownPages unshown(panels);
}

wxDialog *ShowDialog(wxDialog *dialog, wxWindow *parent, const wxString &resourceName) {
    if (dialog == nullptr || !wxXmlResource::Get()->LoadDialog(dialog, parent, resourceName))
        return nullptr;
    const wxString label = dialog->GetLabel();
    if (label.empty()) {
        MessageBoxW(nullptr, L"Name in ShowDialog in IsEmpty(): " + ToStdWstring(label), L"debugging",
                    Platform::MbIconError);
        return nullptr;
    }
    return dialog;
}

wxFrame *LoadFrameFromResource(wxFrame *frame, wxWindow *parent, const wxString &resourceName) {
    if (frame == nullptr || !wxXmlResource::Get()->LoadFrame(frame, parent, resourceName))
        return nullptr;
    const wxString label = frame->GetLabel();
    if (label.empty()) {
        MessageBoxW(nullptr, L"Name in LoadFrameFromResource in IsEmpty(): " + ToStdWstring(label),
                    L"debugging", Platform::MbIconError);
        return nullptr;
    }
    return frame;
}

wxDialog *LoadDialog(wxWindow *parent, const std::string &sResourceName) {
    DriverLogFile::Write(DriverLogDescription, "Going to LoadDialog");
    wxDialog *dialog = wxXmlResource::Get()->LoadDialog(parent, wxString::FromUTF8(sResourceName.c_str()));
    DriverLogFile::Write(DriverLogDescription, dialog != nullptr
                                                   ? "Dialog seems to be loaded"
                                                   : "Dialog could NOT be loaded by LoadDialog");
    return dialog;
}

wxDialog *ShowGenericDialog(wxPanel *panel, wxWindow *parent, const wxString &panelResourceName) {
    wxDialog *dialog = LoadDialog(parent, GenericDialogResource);
    MissingPages missing;
    bool completed = false;
    if (panel != nullptr && dialog != nullptr) {
        wxPanel *genericPanel = dynamic_cast<wxPanel *>(dialog->FindWindow(GenericPanelName));
        if (genericPanel != nullptr &&
            wxXmlResource::Get()->LoadPanel(panel, genericPanel, panelResourceName)) {
            panel->Show(true);
            // XRC panels carry no label on GTK: their name stands in.
            if (!WindowLabelOrName(panel).empty()) {
                panel->InitDialog();
                panel->Layout();
                TakeMinimumSizeOfFirstChildren(dialog, genericPanel);
                FitToContent(dialog);
                completed = !RefuseWithoutEveryPage(missing, L"ShowGenericDialog");
            }
        }
    }
    if (completed)
        return dialog;
    // "GenericPanel" and a panel loaded into it go with the dialog.
    DeleteWindow(dialog);
    return nullptr;
}

wxDialog *ShowGenericTabbedDialog(const PanelResourceNameList &panels, wxWindow *parent) {
    wxDialog *dialog = LoadDialog(parent, GenericTabbedDialogResource);
    wxNotebook *notebook = nullptr;
    MissingPages missing;
    if (!panels.empty() && dialog != nullptr) {
        notebook = dynamic_cast<wxNotebook *>(dialog->FindWindow(GenericTabsName));
        if (notebook != nullptr)
            LoadPanelFromResource(notebook, panels);
    }
    if (notebook != nullptr && RefuseWithoutEveryPage(missing, L"ShowGenericTabbedDialog"))
        notebook = nullptr;
    if (notebook != nullptr) {
        TakeMinimumSizeOfFirstChildren(dialog, notebook);
        GrowToEveryPage(notebook);
        FitToContent(dialog);
    } else {
        DeleteWindow(dialog);
        dialog = nullptr;
    }
    wxToolTip::SetAutoPop(ToolTipDisplayMilliseconds);
    return dialog;
}

wxNotebook *LoadPanelFromResource(wxNotebook *notebook, const PanelResourceNameList &panels) {
    if (notebook == nullptr)
        return nullptr;
    for (const auto &entry : panels) {
        if (!entry)
            continue;
        wxPanel *panel = entry->GetPanel();
        // A panel that is a window already (listed twice) cannot be loaded again.
        if (panel == nullptr || panel->GetParent() != nullptr || panel->GetHandle() != nullptr)
            continue;
        ForEachChildWindow(panel);
        if (!wxXmlResource::Get()->LoadPanel(panel, notebook, entry->GetResourceName())) {
            MissingPages::Note(entry->GetResourceName());
            continue;
        }
        panel->Show(true);
        // Every page gets its init-dialog event, which attaches its validators: XRC panels carry no
        // label on GTK, their name stands in.
        if (!WindowLabelOrName(panel).empty()) {
            panel->InitDialog();
            panel->Layout();
        }
        notebook->AddPage(panel, EscapeAmpersands(entry->GetTitle()), false, wxNOT_FOUND);
    }
    notebook->Layout();
    return notebook;
}

int ShowDialogModal(wxWindow *parent, wxDialog *dialog, const wxString &title) {
    if (dialog == nullptr) {
        QuellinEntry entry(LogModule, L"ShowDialogModal");
        entry.Log(QuellinLevelError, QuellinDescription, L"The configuration window could not be loaded",
                  L"Title", ToStdWstring(title), L"Folder", ResourceFolderText());
        const std::string sTitle = ToStdString(title);
        MessageBoxA(
            parent,
            FormatString("Dialog ('%s') could not be loaded. The configuration window cannot be shown.",
                         sTitle.c_str()),
            sTitle, Platform::MbIconError);
        return NotShown;
    }
    wxWeakRef<wxWindow> owner(parent);
    wxWeakRef<wxDialog> alive(dialog);
    ForEachChildWindow(dialog);
    dialog->SetLabel(title);
    if (owner)
        owner->Enable(false);
    const int result = RunModal(*dialog);
    if (owner) {
        owner->Enable(true);
        owner->Raise();
    }
    if (alive)
        alive->Close(true);
    // Close only hides a dialog on GTK, and a Destroy() waits for an event loop: delete it now, so
    // that no validator outlives the run with a pointer into its driver.
    DeleteWindow(alive.get());
    return result;
}

void ShowFrame(wxWindow *, wxTopLevelWindow *window, const wxString &title) {
    if (window == nullptr)
        return;
    ForEachChildWindow(window);
    window->SetLabel(title);
    window->Show(true);
}
