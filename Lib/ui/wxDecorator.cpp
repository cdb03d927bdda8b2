// The decorator base, the enabled-only decorator and the allowed-value message.
#include "ui/wxDecorator.h"

#include <wx/toplevel.h>
#include <wx/window.h>

#include "logging/LoggedMessageBox.h"
#include "logging/MakeString.h"
#include "platform/MessageBox.h"

ComboBoxFilling::ComboBoxFilling(wxComboBox *combo) : mBlocker(combo, wxEVT_TEXT) {
    mBlocker.Block(wxEVT_COMBOBOX);
    combo->Clear();
}

ComboBoxFilling::~ComboBoxFilling() = default;

wxDecorator::wxDecorator(wxValidatorInterface *wrapped)
    : wxValidatorInterface(wrapped != nullptr ? wrapped->GetFormat() : std::string()), mWrapped(wrapped) {}

wxDecorator::~wxDecorator() {
    delete mWrapped;
}

wxObject *wxDecorator::Clone() const {
    return new wxDecorator(CloneDecorated());
}

wxValidatorInterface *wxDecorator::CloneDecorated() const {
    if (mWrapped == nullptr)
        return nullptr;
    return dynamic_cast<wxValidatorInterface *>(mWrapped->Clone());
}

bool wxDecorator::PrepareWrapped() {
    if (mWrapped == nullptr)
        return false;
    mWrapped->SetWindow(GetWindow());
    return true;
}

bool wxDecorator::Validate(wxWindow *parent) {
    if (!PrepareWrapped())
        return false;
    return mWrapped->Validate(parent);
}

bool wxDecorator::TransferToWindow() {
    if (!PrepareWrapped())
        return false;
    return mWrapped->TransferToWindow();
}

bool wxDecorator::TransferFromWindow() {
    if (!PrepareWrapped())
        return false;
    return mWrapped->TransferFromWindow();
}

void wxDecorator::SetWindow(wxWindow *window) {
    wxValidatorInterface::SetWindow(window);
    if (mWrapped != nullptr)
        mWrapped->SetWindow(window);
}

bool wxDecorator::Copy(const wxDecorator &source) {
    wxValidator::Copy(source);
    if (&source == this)
        return true;
    wxValidatorInterface *clone = source.CloneDecorated();
    delete mWrapped;
    mWrapped = clone;
    return true;
}

// ---- EnabledValidator ----------------------------------------------------------------------------

EnabledValidator::EnabledValidator(wxValidatorInterface *wrapped) : wxDecorator(wrapped) {}

wxObject *EnabledValidator::Clone() const {
    return new EnabledValidator(CloneDecorated());
}

bool EnabledValidator::IsControlEnabled() {
    if (!PrepareWrapped())
        return false;
    wxWindow *window = GetWrapped()->GetWindow();
    return window != nullptr && window->IsEnabled();
}

bool EnabledValidator::Validate(wxWindow *parent) {
    if (!IsControlEnabled())
        return true;
    return GetWrapped()->Validate(parent);
}

bool EnabledValidator::TransferFromWindow() {
    if (!IsControlEnabled())
        return true;
    return GetWrapped()->TransferFromWindow();
}

bool EnabledValidator::Copy(const wxDecorator &source) {
    return wxDecorator::Copy(source);
}

// ---- Allowed values ------------------------------------------------------------------------------

std::string AllowedValueMessage(long long value, const std::vector<long long> &allowed) {
    if (allowed.empty())
        return std::string();
    for (size_t i = 0; i < allowed.size(); ++i) {
        if (value > allowed[i])
            continue;
        if (value == allowed[i])
            return std::string();
        if (i == 0)
            return MakeString("The value ('", value, "') you specified is not valid.\nLowest valid value is ",
                              allowed[i], ".");
        return MakeString("The value ('", value,
                          "') you specified is not valid.\nFirst valid lower value is ", allowed[i - 1],
                          ".\nFirst valid higher value is ", allowed[i], ".");
    }
    return MakeString("The value ('", value, "') you specified is not valid.\nHighest valid value is ",
                      allowed.back(), ".");
}

void ShowValueValidationMessage(wxWindow *parent, const std::string &sText) {
    wxWindow *owner = parent != nullptr ? wxGetTopLevelParent(parent) : nullptr;
    MessageBoxA(static_cast<HostWindow>(owner), sText, "Value Validation",
                Platform::MbOk | Platform::MbIconWarning);
}
