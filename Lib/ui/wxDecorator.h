// Validator decorators: a validator that owns another one (normally a property validator) and adds
// one rule: act only while the control is enabled, fill a combo box with a range of values, accept
// a number only inside a range, or accept a value only from a set. Decorators nest; cloning one
// clones the whole chain below it.
//
// The rules read the control through the value-type templates of ControlValue.h, never through the
// wrapped validator's class.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <wx/event.h>
#include <wx/window.h>

#include "ui/ControlValue.h"
#include "ui/wxValidatorInterface.h"

// Clears a combo box for a new list; until the object goes, the box sends no text or selection
// events, which a page could take for the user's edits.
class ComboBoxFilling {
public:
    explicit ComboBoxFilling(wxComboBox *combo);
    ~ComboBoxFilling();
    ComboBoxFilling(const ComboBoxFilling &) = delete;
    ComboBoxFilling &operator=(const ComboBoxFilling &) = delete;

private:
    wxEventBlocker mBlocker;
};

class wxDecorator : public wxValidatorInterface {
public:
    // Takes ownership of the wrapped validator; its format becomes this one's.
    explicit wxDecorator(wxValidatorInterface *wrapped);
    ~wxDecorator() override;
    wxDecorator(const wxDecorator &) = delete;
    wxDecorator &operator=(const wxDecorator &) = delete;

    wxObject *Clone() const override;
    bool Validate(wxWindow *parent) override;
    bool TransferToWindow() override;
    bool TransferFromWindow() override;
    // The wrapped validator follows this one's window.
    void SetWindow(wxWindow *window) override;

    // Takes the source's window and a clone of its wrapped validator; derived classes add their
    // own fields when the source is of their class.
    virtual bool Copy(const wxDecorator &source);

    wxValidatorInterface *GetWrapped() const { return mWrapped; }

protected:
    // A clone of the wrapped validator; null without one.
    wxValidatorInterface *CloneDecorated() const;
    // Gives the wrapped validator this decorator's window; false without a wrapped validator.
    bool PrepareWrapped();

private:
    wxValidatorInterface *mWrapped;
};

// Validates and reads the control only while it is enabled; a disabled control keeps its property
// and passes validation, but is still filled.
class EnabledValidator : public wxDecorator {
public:
    explicit EnabledValidator(wxValidatorInterface *wrapped);

    wxObject *Clone() const override;
    bool Validate(wxWindow *parent) override;
    bool TransferFromWindow() override;
    bool Copy(const wxDecorator &source) override;

private:
    bool IsControlEnabled();
};

// Fills a combo box with the values from first to last (both included; an enumeration steps
// through its declared values), each item carrying its value, before the wrapped validator
// selects the property's item.
template <typename T> class wxComboBoxDecoratorValidator : public wxDecorator {
public:
    wxComboBoxDecoratorValidator(wxValidatorInterface *wrapped, const T &first, const T &last)
        : wxDecorator(wrapped), mFirst(first), mLast(last) {}

    wxObject *Clone() const override {
        return new wxComboBoxDecoratorValidator(CloneDecorated(), mFirst, mLast);
    }

    bool Validate(wxWindow *parent) override {
        if (!PrepareWrapped())
            return false;
        return wxDecorator::Validate(parent);
    }

    bool TransferToWindow() override {
        if (!PrepareWrapped())
            return false;
        if (auto *combo = dynamic_cast<wxComboBox *>(GetWindow())) {
            ComboBoxFilling filling(combo);
            T value = mFirst;
            // Bounded by the steps that can lie between first and last.
            while (static_cast<long long>(value) <= static_cast<long long>(mLast)) {
                const std::string sText = ItemText(value);
                if (!sText.empty())
                    combo->Append(ControlValue::ToWide(sText), new wxGenericClientData<T>(value));
                T next = value;
                if (value == mLast || !NextItemValue(value, next))
                    break;
                value = next;
            }
        }
        return GetWrapped()->TransferToWindow();
    }

    bool Copy(const wxDecorator &source) override {
        wxDecorator::Copy(source);
        if (auto *other = dynamic_cast<const wxComboBoxDecoratorValidator *>(&source)) {
            mFirst = other->mFirst;
            mLast = other->mLast;
        }
        return true;
    }

private:
    T mFirst;
    T mLast;
};

// Accepts the control's value only within [min, max]; silent.
template <typename T> class wxRangeDecoratorValidator : public wxDecorator {
public:
    wxRangeDecoratorValidator(wxValidatorInterface *wrapped, const T &min, const T &max)
        : wxDecorator(wrapped), mMin(min), mMax(max) {}

    wxObject *Clone() const override { return new wxRangeDecoratorValidator(CloneDecorated(), mMin, mMax); }

    bool Validate(wxWindow *parent) override {
        if (!PrepareWrapped())
            return false;
        T value{};
        if (!ControlValue::GetControlValue<T>(GetWindow(), value))
            return false;
        if (value < mMin || mMax < value)
            return false;
        return wxDecorator::Validate(parent);
    }

    bool Copy(const wxDecorator &source) override {
        wxDecorator::Copy(source);
        if (auto *other = dynamic_cast<const wxRangeDecoratorValidator *>(&source)) {
            mMin = other->mMin;
            mMax = other->mMax;
        }
        return true;
    }

private:
    T mMin;
    T mMax;
};

// The message for a value outside the allowed values (ascending); empty when the value is one of
// them or there are none.
std::string AllowedValueMessage(long long value, const std::vector<long long> &allowed);
// "Value Validation" box, exclamation icon, owned by the parent's top-level window.
void ShowValueValidationMessage(wxWindow *parent, const std::string &sText);

// Offers only the values of a shared set (a combo box lists them) and refuses any other value with
// a message naming the nearest allowed ones.
template <typename T> class AllowedSetDecoratorValidator : public wxDecorator {
public:
    AllowedSetDecoratorValidator(wxValidatorInterface *wrapped, std::shared_ptr<std::set<T>> allowed)
        : wxDecorator(wrapped), mAllowed(std::move(allowed)) {}

    wxObject *Clone() const override { return new AllowedSetDecoratorValidator(CloneDecorated(), mAllowed); }

    bool TransferToWindow() override {
        if (!PrepareWrapped())
            return false;
        auto *combo = dynamic_cast<wxComboBox *>(GetWindow());
        if (combo != nullptr && mAllowed) {
            ComboBoxFilling filling(combo);
            for (const T &value : *mAllowed) {
                const std::string sText = ItemText(value);
                if (!sText.empty())
                    combo->Append(ControlValue::ToWide(sText), new wxGenericClientData<T>(value));
            }
        }
        return GetWrapped()->TransferToWindow();
    }

    bool Validate(wxWindow *parent) override {
        if (!mAllowed || !PrepareWrapped())
            return false;
        T value{};
        if (!ControlValue::GetControlValue<T>(GetWindow(), value) || mAllowed->empty())
            return false;
        std::vector<long long> allowed;
        for (const T &member : *mAllowed)
            allowed.push_back(static_cast<long long>(member));
        const std::string sMessage = AllowedValueMessage(static_cast<long long>(value), allowed);
        if (sMessage.empty())
            return true;
        ShowValueValidationMessage(parent, sMessage);
        return false;
    }

    bool Copy(const wxDecorator &source) override {
        wxDecorator::Copy(source);
        if (auto *other = dynamic_cast<const AllowedSetDecoratorValidator *>(&source))
            mAllowed = other->mAllowed;
        return true;
    }

private:
    std::shared_ptr<std::set<T>> mAllowed;
};
