// Reading and writing the common controls as values of one type. Every control is read and written
// through text, except the items of combo boxes and choices that carry their value as item data
// (wxGenericClientData). The conversions between each value type and text live here too, so that
// validators and decorators share them whatever class their property belongs to.
//
// Text that does not read as the value type, or whose value does not fit the type, gives the type's
// default (0, 0.0, false, the enumeration's value 0, an empty frequency); nothing here shows a
// message.
#pragma once

#include <string>
#include <type_traits>

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/clntdata.h>
#include <wx/combobox.h>
#include <wx/filepicker.h>
#include <wx/radiobox.h>
#include <wx/radiobut.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>

#include "core/EnumClass.h"
#include "core/FrequencyBase.h"
#include "core/StringUtils.h"

// Item data of combo boxes and choices; owned by the control once appended.
template <typename T> class wxGenericClientData : public wxClientData {
public:
    explicit wxGenericClientData(const T &value) : mValue(value) {}
    virtual T GetValue() const { return mValue; }

private:
    T mValue;
};

// Selects the combo box's item that matches its typed text, compared upper-cased: the selected item
// when it matches, else first an item equal to the text with blanks removed on both sides, else the
// first item that contains the typed text (the items keep their blanks). Empty typed text matches nothing.
// False when nothing matched; the selection is then unchanged.
bool SelectMatchingComboBoxItem(wxComboBox *combo);

// The decimal rate: the item text of baud-rate lists and the numbers of their messages.
std::string BaudRateToText(const BaudRate &eRate);

// ---- Enumerations with a global name table --------------------------------------------------------

template <typename T> struct EnumNameTable;
template <> struct EnumNameTable<GPIBBoardNumbers> {
    static const EnumClass<GPIBBoardNumbers> &Get() { return GPIBBoardNumbersEnumClass; }
};
template <> struct EnumNameTable<BaudRate> {
    static const EnumClass<BaudRate> &Get() { return baudRateEnumClass; }
};
template <> struct EnumNameTable<DataBits> {
    static const EnumClass<DataBits> &Get() { return dataBitsEnumClass; }
};
template <> struct EnumNameTable<Parity> {
    static const EnumClass<Parity> &Get() { return parityEnumClass; }
};
template <> struct EnumNameTable<StopBits> {
    static const EnumClass<StopBits> &Get() { return stopBitsEnumClass; }
};
template <> struct EnumNameTable<CommunicationTerminationOption> {
    static const EnumClass<CommunicationTerminationOption> &Get() {
        return communicationTerminationOptionENUMClass;
    }
};

template <typename T, typename = void> struct IsNamedEnum : std::false_type {};
template <typename T>
struct IsNamedEnum<T, std::void_t<decltype(EnumNameTable<T>::Get())>> : std::true_type {};

// ---- Value to text (the validator's format; empty means the type's plain text) --------------------

std::string ValueToText(const std::string &value, const std::string &sFormat);   // format not applied
std::string ValueToText(const int &value, const std::string &sFormat);           // "%d"
std::string ValueToText(const unsigned long &value, const std::string &sFormat); // "%u"
std::string ValueToText(const unsigned char &value, const std::string &sFormat); // "%hhu"
std::string ValueToText(const bool &value, const std::string &sFormat);          // "TRUE"/"FALSE"
std::string ValueToText(const double &value, const std::string &sFormat);        // "%lG"
// Every significant decimal; format not applied.
std::string ValueToText(const FrequencyBase<9> &value, const std::string &sFormat);
// The name of the value; format not applied.
std::string ValueToText(const BaudRate &value, const std::string &sFormat);
std::string ValueToText(const CommunicationTerminationOption &value, const std::string &sFormat);
template <typename E>
std::enable_if_t<IsNamedEnum<E>::value, std::string> ValueToText(const E &value, const std::string &) {
    return EnumNameTable<E>::Get().ValueToName(value);
}

// ---- Text to value -------------------------------------------------------------------------------

void ValueFromText(const std::string &sText, std::string &value);
void ValueFromText(const std::string &sText, int &value);
void ValueFromText(const std::string &sText, unsigned long &value); // 32-bit range, as "%u"
void ValueFromText(const std::string &sText, unsigned char &value);
void ValueFromText(const std::string &sText, bool &value);
void ValueFromText(const std::string &sText, double &value);
void ValueFromText(const std::string &sText, FrequencyBase<9> &value);
// All-digit text is the rate itself, other text a name.
void ValueFromText(const std::string &sText, BaudRate &value);
void ValueFromText(const std::string &sText, CommunicationTerminationOption &value);
// The value of the entry with exactly that name (shown names may hold blanks and signs: "CR+LF"),
// else the table's own name lookup.
template <typename E> E EnumValueOfText(const EnumClass<E> &table, const std::string &sText) {
    const std::string sName = TrimDefault(sText);
    for (const EnumClassEntry &entry : table.GetEntries())
        for (const std::string &sEntryName : entry.Names)
            if (sEntryName == sName)
                return static_cast<E>(entry.nValue);
    return table.NameToValue(sText);
}
template <typename E>
std::enable_if_t<IsNamedEnum<E>::value> ValueFromText(const std::string &sText, E &value) {
    value = EnumValueOfText(EnumNameTable<E>::Get(), sText);
}

// ---- Items of value lists (combo boxes filled by the decorators) ----------------------------------

std::string ItemText(const int &value);
std::string ItemText(const BaudRate &value);
std::string ItemText(const CommunicationTerminationOption &value);
template <typename E> std::enable_if_t<IsNamedEnum<E>::value, std::string> ItemText(const E &value) {
    return EnumNameTable<E>::Get().ValueToName(value);
}

// The value after the given one: the next int, or the next declared value of an enumeration.
// False when there is none above it.
bool NextItemValue(const int &value, int &next);
template <typename E> std::enable_if_t<IsNamedEnum<E>::value, bool> NextItemValue(const E &value, E &next) {
    next = EnumNameTable<E>::Get().NextValue(value);
    return static_cast<int32_t>(next) > static_cast<int32_t>(value);
}

// ---- Controls ------------------------------------------------------------------------------------

namespace ControlValue {

// Controls read and written as plain text: text, spin, floating-point spin, check box, option
// button, file picker and option box. False for any other window.
bool ReadControlText(wxWindow *window, std::string &sText);
bool WriteControlText(wxWindow *window, const std::string &sText);
// Option button, option box and check box: always valid.
bool IsAlwaysValidControl(wxWindow *window);
std::string ToNarrow(const wxString &text);
wxString ToWide(const std::string &text);

// Item data equality; frequencies compare their raw values.
template <typename V> bool SameValue(const V &first, const V &second) {
    return first == second;
}
inline bool SameValue(const FrequencyBase<9> &first, const FrequencyBase<9> &second) {
    return first.GetRaw() == second.GetRaw();
}

// The value carried by item index as item data of type V; false when it carries none.
template <typename V> bool ItemValue(wxItemContainer *container, int index, V &value) {
    if (container == nullptr || index < 0 || static_cast<unsigned>(index) >= container->GetCount() ||
        !container->HasClientObjectData())
        return false;
    auto *data = dynamic_cast<wxGenericClientData<V> *>(container->GetClientObject(index));
    if (data == nullptr)
        return false;
    value = data->GetValue();
    return true;
}

// Selects every item whose data equals the value (the last one stays selected); false when none
// matched or the items carry no data.
template <typename V> bool SelectItemByClientData(wxItemContainer *container, const V &value) {
    if (container == nullptr || !container->HasClientObjectData())
        return false;
    bool bSelected = false;
    const unsigned count = container->GetCount();
    for (unsigned i = 0; i < count; ++i) {
        V item{};
        if (ItemValue(container, static_cast<int>(i), item) && SameValue(item, value)) {
            container->SetSelection(static_cast<int>(i));
            bSelected = true;
        }
    }
    return bSelected;
}

// Reads the window as a V; false without a window, for a choice without selection and for a
// window of a class that is not handled.
template <typename V> bool GetControlValue(wxWindow *window, V &value) {
    if (window == nullptr)
        return false;
    if (auto *combo = dynamic_cast<wxComboBox *>(window)) {
        if (SelectMatchingComboBoxItem(combo) && ItemValue(combo, combo->GetSelection(), value))
            return true;
        ValueFromText(ToNarrow(combo->GetValue()), value);
        return true;
    }
    if (auto *choice = dynamic_cast<wxChoice *>(window)) {
        const int selection = choice->GetSelection();
        if (selection == wxNOT_FOUND)
            return false;
        if (!ItemValue(choice, selection, value))
            ValueFromText(ToNarrow(choice->GetString(selection)), value);
        return true;
    }
    std::string sText;
    if (!ReadControlText(window, sText))
        return false;
    ValueFromText(sText, value);
    return true;
}

// Shows the value in the window. A combo box or choice selects the item that carries the value;
// else a combo box shows the value's text and a choice selects the item of that text (any case),
// failing when there is none.
template <typename V> bool WriteValueToControl(wxWindow *window, const V &value, const std::string &sFormat) {
    if (window == nullptr)
        return false;
    if (auto *combo = dynamic_cast<wxComboBox *>(window)) {
        if (!SelectItemByClientData<V>(combo, value))
            combo->ChangeValue(ToWide(ValueToText(value, sFormat)));
        return true;
    }
    if (auto *choice = dynamic_cast<wxChoice *>(window)) {
        if (SelectItemByClientData<V>(choice, value))
            return true;
        const int index = choice->FindString(ToWide(ValueToText(value, sFormat)), false);
        if (index == wxNOT_FOUND)
            return false;
        choice->SetSelection(index);
        return true;
    }
    return WriteControlText(window, ValueToText(value, sFormat));
}

// Whether the window holds a value that can be taken: a simple-style combo box only when its text
// matches an item (which becomes selected).
template <typename V> bool ValidateControl(wxWindow *window) {
    if (window == nullptr)
        return false;
    if (auto *combo = dynamic_cast<wxComboBox *>(window)) {
        if (combo->GetWindowStyle() & wxCB_SIMPLE)
            return SelectMatchingComboBoxItem(combo);
    }
    if (IsAlwaysValidControl(window))
        return true;
    V value{};
    return GetControlValue(window, value);
}

} // namespace ControlValue
