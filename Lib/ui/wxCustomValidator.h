// Property validators: bind one control of a configuration page to one property of an object
// (a driver, a stream configuration, a settings object) through its getter and setter. wx calls
// TransferToWindow when the page is initialised, Validate and then TransferFromWindow when the user
// confirms. The control is read and written by its class (ControlValue.h).
//
// wxTemplatePropertyValidator is the class that pages create; it clones to its own class.
#pragma once

#include <functional>
#include <string>
#include <type_traits>
#include <utility>

#include "ui/ControlValue.h"
#include "ui/wxValidatorInterface.h"

template <typename C, typename V> class wxCustomValidator : public wxValidatorInterface {
public:
    using Getter = std::function<V(C &)>;
    using Setter = std::function<void(C &, const V &)>;

    // Getter and setter are member functions of C (any constness, any setter result); a null
    // object, getter or setter is accepted and then that direction does nothing.
    template <typename G, typename S>
    wxCustomValidator(C *object, G getter, S setter, std::string sFormat)
        : wxCustomValidator(Accessors{}, object, MakeGetter(getter), MakeSetter(setter), std::move(sFormat)) {
    }

    wxObject *Clone() const override {
        return new wxCustomValidator(Accessors{}, mObject, mGetter, mSetter, GetFormat());
    }

    // No message; the parent is not used.
    bool Validate(wxWindow *) override { return ControlValue::ValidateControl<V>(GetWindow()); }

    // Without an object or a getter there is nothing to show: the control is left as it is.
    bool TransferToWindow() override {
        if (GetWindow() == nullptr)
            return false;
        if (!CanGetPropertyValue())
            return true;
        return WriteValueToControl(GetPropertyValue());
    }

    // True whenever the control could be read, whether or not a setter stored the value.
    bool TransferFromWindow() override {
        V value{};
        if (!GetControlValue(value))
            return false;
        SetPropertyValue(value);
        return true;
    }

    virtual bool SelectItemByClientData(wxItemContainer *container, const V &value) {
        return ControlValue::SelectItemByClientData<V>(container, value);
    }

    virtual bool WriteValueToControl(const V &value) {
        return ControlValue::WriteValueToControl<V>(GetWindow(), value, GetFormat());
    }

    // The type's default without an object or a getter.
    virtual V GetPropertyValue() {
        if (!CanGetPropertyValue())
            return V{};
        return mGetter(*mObject);
    }

    virtual bool SetPropertyValue(const V &value) {
        if (mObject == nullptr || !mSetter)
            return false;
        mSetter(*mObject, value);
        return true;
    }

    bool GetControlValue(V &value) { return ControlValue::GetControlValue<V>(GetWindow(), value); }

    bool CanGetPropertyValue() const { return mObject != nullptr && static_cast<bool>(mGetter); }
    C *GetObject() const { return mObject; }

protected:
    // Construction from accessors already wrapped (clones).
    struct Accessors {};
    wxCustomValidator(Accessors, C *object, Getter getter, Setter setter, std::string sFormat)
        : wxValidatorInterface(std::move(sFormat)), mSetter(std::move(setter)), mGetter(std::move(getter)),
          mObject(object) {}

    const Getter &GetGetter() const { return mGetter; }
    const Setter &GetSetter() const { return mSetter; }

private:
    template <typename G> static Getter MakeGetter(G getter) {
        if constexpr (std::is_null_pointer_v<G>) {
            return Getter();
        } else {
            if (getter == nullptr)
                return Getter();
            return [getter](C &object) -> V { return std::invoke(getter, object); };
        }
    }

    template <typename S> static Setter MakeSetter(S setter) {
        if constexpr (std::is_null_pointer_v<S>) {
            return Setter();
        } else {
            if (setter == nullptr)
                return Setter();
            return [setter](C &object, const V &value) { std::invoke(setter, object, value); };
        }
    }

    Setter mSetter;
    Getter mGetter;
    C *mObject;
};

template <typename C, typename V> class wxTemplatePropertyValidator : public wxCustomValidator<C, V> {
public:
    template <typename G, typename S>
    wxTemplatePropertyValidator(C *object, G getter, S setter, std::string sFormat)
        : wxCustomValidator<C, V>(object, getter, setter, std::move(sFormat)) {}
    ~wxTemplatePropertyValidator() override = default;

    wxObject *Clone() const override {
        return new wxTemplatePropertyValidator(Accessors{}, this->GetObject(), this->GetGetter(),
                                               this->GetSetter(), this->GetFormat());
    }

private:
    using Accessors = typename wxCustomValidator<C, V>::Accessors;
    wxTemplatePropertyValidator(Accessors, C *object, const typename wxCustomValidator<C, V>::Getter &getter,
                                const typename wxCustomValidator<C, V>::Setter &setter, std::string sFormat)
        : wxCustomValidator<C, V>(Accessors{}, object, getter, setter, std::move(sFormat)) {}
};
