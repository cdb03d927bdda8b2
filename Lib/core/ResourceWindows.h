// Configuration windows loaded by name from the process-wide XRC collection (wxXmlResource::Get)
// and shown over the host's window: a dialog or frame class filled from its own resource, a panel
// inside "GenericDialog" (child "GenericPanel"), or a list of pages as the tabs of
// "GenericTabbedDialog" (child "GenericTabs").
//
// The host's window handle is a parent only when it is one of this process's wx top-level windows
// (Platform::ParentFromHandle); it is disabled while a configuration window is up. Windows are
// shown only on the GUI thread with a display; otherwise nothing is loaded, the caller's window
// objects are deleted and the call answers as "not shown".
//
// Ownership: the window object handed to ShowConfigurationWindow and the panels of a page list
// belong to the call from then on. What a modal run showed is deleted when the run ends (GTK
// neither destroys a closed dialog nor runs deferred deletes without an event loop); what was
// never shown is deleted before the call returns. Frames and modeless dialogs stay up.
//
// Modal runs without a person: a sink installed with SetModalDialogSink answers every modal run;
// with KORVALIS_NONINTERACTIVE=1 and no sink, the answer comes from KORVALIS_DIALOG_ANSWER ("ok",
// else Cancel). Either way the dialog is initialised as for a shown run (its init-dialog event
// fills the controls), and an OK answer validates and transfers the controls back just as the OK
// button does; when that fails the answer becomes Cancel.
#pragma once

#include <functional>
#include <string>

#include <wx/string.h>

#include "core/PanelResourceName.h"
#include "platform/HostTypes.h"

class wxDialog;
class wxFrame;
class wxNotebook;
class wxPanel;
class wxTopLevelWindow;
class wxWindow;

// Resources that the windows here take their frame from.
inline constexpr const char *GenericDialogResource = "GenericDialog";
inline constexpr const char *GenericPanelName = "GenericPanel";
inline constexpr const char *GenericTabbedDialogResource = "GenericTabbedDialog";
inline constexpr const char *GenericTabsName = "GenericTabs";

// ShowConfigurationWindow, modal.
int ShowConfigurationWindowAsDialog(wxWindow *window, HostWindow hWnd, const wxString &resourceName,
                                    const wxString &title);
// Loads the window object (a dialog, a frame, or a panel shown inside "GenericDialog") from its
// resource and shows it. The modal result, 0 for a window shown without a modal run;
// ResultCode::ConfigurationWindowUnavailable when nothing was shown (a modal call first gives the
// "could not be loaded" box when windows can be shown but none was loaded).
int ShowConfigurationWindow(wxWindow *window, HostWindow hWnd, const wxString &resourceName,
                            const wxString &title, bool bModal);
// The pages as the tabs of "GenericTabbedDialog", run modally. The modal result;
// ResultCode::ConfigurationWindowUnavailable when no dialog was shown (after the "could not be
// loaded" box when windows can be shown).
int ShowTabbedConfigurationWindow(const PanelResourceNameList &panels, HostWindow hWnd,
                                  const wxString &title);
// The driver's configuration pages: 0 once the tabbed window was shown (whatever it answered),
// ResultCode::ConfigurationWindowUnavailable where none was (no display, not the GUI thread, its
// resources not loaded).
DWORD ShowTabbedConfigurationPages(HostWindow hWnd, const PanelResourceNameList &panels,
                                   const std::wstring &title);

// Deletes the panels of a list that is dropped without being shown (a page list whose collection
// failed); panels that are windows of a parent already are left to it.
void DeleteConfigurationPages(const PanelResourceNameList &panels);

// Loads the resource into the dialog object; null when it does not load or its title is empty
// (then a "debugging" box; the loaded object is left to the caller).
wxDialog *ShowDialog(wxDialog *dialog, wxWindow *parent, const wxString &resourceName);
// The same for a frame.
wxFrame *LoadFrameFromResource(wxFrame *frame, wxWindow *parent, const wxString &resourceName);
// A new dialog from the resource, or null.
wxDialog *LoadDialog(wxWindow *parent, const std::string &sResourceName);
// "GenericDialog" holding the panel loaded from its resource, laid out; null (and nothing left
// over but the caller's panel, when it was not loaded) when a step fails or a page of a notebook
// on the panel did not load.
wxDialog *ShowGenericDialog(wxPanel *panel, wxWindow *parent, const wxString &panelResourceName);
// "GenericTabbedDialog" with one tab per page, laid out; null when the list is empty, the dialog
// has no "GenericTabs" notebook, or a page (a page of a notebook on a page too) did not load: a
// dialog without one of its pages is not shown. The call log names the pages and the folder.
wxDialog *ShowGenericTabbedDialog(const PanelResourceNameList &panels, wxWindow *parent);
// Loads every page of the list into the notebook and adds it as a tab (title with '&' escaped),
// in list order; a page that does not load is left out (and keeps the dialog being built from
// being shown).
wxNotebook *LoadPanelFromResource(wxNotebook *notebook, const PanelResourceNameList &panels);
// Titles the dialog, runs it modally over the disabled parent and deletes it afterwards. Without
// a dialog the "could not be loaded" box, and ResultCode::ConfigurationWindowUnavailable.
int ShowDialogModal(wxWindow *parent, wxDialog *dialog, const wxString &title);
// Titles and shows the window; no modal loop.
void ShowFrame(wxWindow *parent, wxTopLevelWindow *window, const wxString &title);

// Answers every modal run instead of a person (tests); an empty function removes it. The sink
// gets the initialised dialog and returns wxID_OK, wxID_CANCEL or another id.
using ModalDialogSink = std::function<int(wxDialog &)>;
void SetModalDialogSink(ModalDialogSink sink);
