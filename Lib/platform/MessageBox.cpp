// Message boxes as wx dialogs, answered by their default button where no one can see them.
#include "platform/MessageBox.h"

#include "platform/Environment.h"
#include "platform/GuardedSlot.h"
#include "platform/WindowHandle.h"

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include <wx/msgdlg.h>

namespace Platform {

namespace {

// Reached through functions: the module entry sets the GUI thread while the plug-in's static
// objects are still being made, and a namespace-scope object made after it would be reset.
GuardedSlot<MessageBoxSink> &Sink() {
    static GuardedSlot<MessageBoxSink> slot;
    return slot;
}

struct GuiThreadRecord {
    std::atomic<bool> Set{false};
    std::thread::id Id;
};

GuiThreadRecord &GuiThread() {
    static GuiThreadRecord record;
    return record;
}

// The buttons of a style, in the order MbDefButtonN counts them.
std::vector<int> Buttons(unsigned style) {
    switch (style & MbTypeMask) {
    case MbOkCancel:
        return {IdOk, IdCancel};
    case MbAbortRetryIgnore:
        return {IdAbort, IdRetry, IdIgnore};
    case MbYesNoCancel:
        return {IdYes, IdNo, IdCancel};
    case MbYesNo:
        return {IdYes, IdNo};
    case MbRetryCancel:
        return {IdRetry, IdCancel};
    default:
        return {IdOk};
    }
}

long IconFlags(unsigned style) {
    switch (style & MbIconMask) {
    case MbIconError:
        return wxICON_ERROR;
    case MbIconQuestion:
        return wxICON_QUESTION;
    case MbIconWarning:
        return wxICON_WARNING;
    case MbIconInformation:
        return wxICON_INFORMATION;
    default:
        return wxICON_NONE;
    }
}

// wx has OK/Cancel and Yes/No/Cancel: Retry and Abort/Retry/Ignore relabel them.
int ShowDialog(const MessageBoxRequest &request) {
    const unsigned type = request.Style & MbTypeMask;
    const std::vector<int> buttons = Buttons(request.Style);
    const unsigned defaultIndex = (request.Style & MbDefMask) >> 8;
    long flags = IconFlags(request.Style) | wxCENTRE;
    bool threeButtons = buttons.size() == 3;
    bool twoOkCancel = type == MbOkCancel || type == MbRetryCancel;
    if (threeButtons)
        flags |= wxYES_NO | wxCANCEL;
    else if (twoOkCancel)
        flags |= wxOK | wxCANCEL;
    else if (type == MbYesNo)
        flags |= wxYES_NO;
    else
        flags |= wxOK;
    if (defaultIndex == 1 && buttons.size() > 1)
        flags |= twoOkCancel ? wxCANCEL_DEFAULT : wxNO_DEFAULT;
    else if (defaultIndex == 2 && threeButtons)
        flags |= wxCANCEL_DEFAULT;

    wxMessageDialog dialog(ParentFromHandle(request.Window), wxString(request.Text),
                           wxString(request.Caption), flags);
    if (type == MbAbortRetryIgnore)
        dialog.SetYesNoCancelLabels(_("&Abort"), _("&Retry"), _("&Ignore"));
    else if (type == MbRetryCancel)
        dialog.SetOKCancelLabels(_("&Retry"), wxID_CANCEL);

    switch (dialog.ShowModal()) {
    case wxID_OK:
        return buttons[0];
    case wxID_YES:
        return buttons[0];
    case wxID_NO:
        return buttons[1];
    case wxID_CANCEL:
        // Closing the window answers like the last button (Cancel where there is one).
        return buttons.back();
    default:
        return DefaultButton(request.Style);
    }
}

} // namespace

int DefaultButton(unsigned style) {
    std::vector<int> buttons = Buttons(style);
    size_t index = (style & MbDefMask) >> 8;
    return index < buttons.size() ? buttons[index] : buttons[0];
}

MessageBoxAnswer ShowMessageBox(const MessageBoxRequest &request) {
    const MessageBoxSink sink = Sink().Get();
    if (sink)
        return MessageBoxAnswer{sink(request), true, false};
    const int fallback = DefaultButton(request.Style);
    if (IsNonInteractive())
        return MessageBoxAnswer{fallback, false, false};
    if (!IsGuiThread() || !CanShowWindows())
        return MessageBoxAnswer{fallback, false, true};
    return MessageBoxAnswer{ShowDialog(request), true, false};
}

void SetMessageBoxSink(MessageBoxSink sink) {
    Sink().Set(std::move(sink));
}

void SetGuiThread() {
    GuiThreadRecord &record = GuiThread();
    record.Id = std::this_thread::get_id();
    record.Set.store(true, std::memory_order_release);
}

bool IsGuiThread() {
    const GuiThreadRecord &record = GuiThread();
    return record.Set.load(std::memory_order_acquire) && record.Id == std::this_thread::get_id();
}

} // namespace Platform
