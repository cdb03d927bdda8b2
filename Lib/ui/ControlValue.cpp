// Value/text conversions of the validators and the text-level access to the common controls.
#include "ui/ControlValue.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/Saturating.h"
#include "logging/MakeString.h"
#include "platform/Text.h"

namespace {

// ---- printf formats ------------------------------------------------------------------------------

// The argument type that the one conversion of a format expects.
enum class FormatArgument {
    NoConversion,
    Int,
    Long,
    LongLong,
    IntMax,
    PtrDiff,
    Unsigned,
    UnsignedLong,
    UnsignedLongLong,
    UIntMax,
    Size,
    Double,
    LongDouble,
    Unusable, // several conversions, a '*' width, a text or pointer conversion, a broken format
};

FormatArgument ClassifyFormat(const std::string &sFormat) {
    FormatArgument argument = FormatArgument::NoConversion;
    size_t i = 0;
    while (i < sFormat.size()) {
        if (sFormat[i++] != '%')
            continue;
        if (i < sFormat.size() && sFormat[i] == '%') {
            ++i;
            continue;
        }
        if (argument != FormatArgument::NoConversion)
            return FormatArgument::Unusable;
        while (i < sFormat.size() && std::string("-+ #0'").find(sFormat[i]) != std::string::npos)
            ++i;
        while (i < sFormat.size() && Platform::IsAsciiDigit(sFormat[i]))
            ++i;
        if (i < sFormat.size() && sFormat[i] == '.') {
            ++i;
            while (i < sFormat.size() && Platform::IsAsciiDigit(sFormat[i]))
                ++i;
        }
        std::string length;
        while (i < sFormat.size() && std::string("hlLqjzt").find(sFormat[i]) != std::string::npos)
            length += sFormat[i++];
        if (i >= sFormat.size())
            return FormatArgument::Unusable;
        const char conversion = sFormat[i++];
        const bool isSigned = conversion == 'd' || conversion == 'i' || conversion == 'c';
        const bool isUnsigned =
            conversion == 'u' || conversion == 'o' || conversion == 'x' || conversion == 'X';
        const bool isFloating = std::string("eEfFgGaA").find(conversion) != std::string::npos;
        if (isSigned || isUnsigned) {
            if (length.empty() || length == "h" || length == "hh")
                argument = isSigned ? FormatArgument::Int : FormatArgument::Unsigned;
            else if (length == "l")
                argument = isSigned ? FormatArgument::Long : FormatArgument::UnsignedLong;
            else if (length == "ll" || length == "q")
                argument = isSigned ? FormatArgument::LongLong : FormatArgument::UnsignedLongLong;
            else if (length == "j")
                argument = isSigned ? FormatArgument::IntMax : FormatArgument::UIntMax;
            else if (length == "z")
                argument = isSigned ? FormatArgument::PtrDiff : FormatArgument::Size;
            else if (length == "t")
                argument = isSigned ? FormatArgument::PtrDiff : FormatArgument::Size;
            else
                return FormatArgument::Unusable;
            if (conversion == 'c' && !length.empty())
                return FormatArgument::Unusable;
        } else if (isFloating) {
            if (length.empty() || length == "l")
                argument = FormatArgument::Double;
            else if (length == "L")
                argument = FormatArgument::LongDouble;
            else
                return FormatArgument::Unusable;
        } else {
            return FormatArgument::Unusable;
        }
    }
    return argument;
}

// A value converted to an integer type without undefined behaviour: floating-point values are
// truncated and held within the type's range (NaN gives 0).
template <typename To, typename From> To ConvertForFormat(From value) {
    if constexpr (std::is_floating_point_v<From> && std::is_integral_v<To>)
        return SaturatingCast<To>(value);
    else
        return static_cast<To>(value);
}

// FormatString with the value passed as the type that the format's conversion reads. False when
// the format cannot be used with one number.
template <typename N> bool FormatNumber(const std::string &sFormat, N value, std::string &sText) {
    const char *format = sFormat.c_str();
    switch (ClassifyFormat(sFormat)) {
    case FormatArgument::NoConversion:
        sText = FormatString(format, 0);
        return true;
    case FormatArgument::Int:
        sText = FormatString(format, ConvertForFormat<int>(value));
        return true;
    case FormatArgument::Long:
        sText = FormatString(format, ConvertForFormat<long>(value));
        return true;
    case FormatArgument::LongLong:
        sText = FormatString(format, ConvertForFormat<long long>(value));
        return true;
    case FormatArgument::IntMax:
        sText = FormatString(format, ConvertForFormat<intmax_t>(value));
        return true;
    case FormatArgument::PtrDiff:
        sText = FormatString(format, ConvertForFormat<ptrdiff_t>(value));
        return true;
    case FormatArgument::Unsigned:
        sText = FormatString(format, ConvertForFormat<unsigned>(value));
        return true;
    case FormatArgument::UnsignedLong:
        sText = FormatString(format, ConvertForFormat<unsigned long>(value));
        return true;
    case FormatArgument::UnsignedLongLong:
        sText = FormatString(format, ConvertForFormat<unsigned long long>(value));
        return true;
    case FormatArgument::UIntMax:
        sText = FormatString(format, ConvertForFormat<uintmax_t>(value));
        return true;
    case FormatArgument::Size:
        sText = FormatString(format, ConvertForFormat<size_t>(value));
        return true;
    case FormatArgument::Double:
        sText = FormatString(format, static_cast<double>(value));
        return true;
    case FormatArgument::LongDouble:
        sText = FormatString(format, static_cast<long double>(value));
        return true;
    case FormatArgument::Unusable:
        break;
    }
    return false;
}

template <typename N> std::string FormatOrPlain(const std::string &sFormat, N value, std::string sPlain) {
    std::string sText;
    if (!sFormat.empty() && FormatNumber(sFormat, value, sText))
        return sText;
    return sPlain;
}

// ---- Integer texts -------------------------------------------------------------------------------

// A decimal integer as "%d" / "%u" read it: leading white space, an optional sign, digits; anything
// after the digits is ignored.
enum class ScanResult { NoNumber, Number, TooLarge };

ScanResult ScanInteger(const std::string &sText, bool &bNegative, unsigned long long &magnitude) {
    size_t i = 0;
    while (i < sText.size() && std::string(" \t\n\v\f\r").find(sText[i]) != std::string::npos)
        ++i;
    bNegative = false;
    if (i < sText.size() && (sText[i] == '+' || sText[i] == '-'))
        bNegative = sText[i++] == '-';
    if (i >= sText.size() || !Platform::IsAsciiDigit(sText[i]))
        return ScanResult::NoNumber;
    magnitude = 0;
    bool bTooLarge = false;
    for (; i < sText.size() && Platform::IsAsciiDigit(sText[i]); ++i) {
        const unsigned digit = static_cast<unsigned>(sText[i] - '0');
        if (magnitude > (std::numeric_limits<unsigned long long>::max() - digit) / 10)
            bTooLarge = true;
        else
            magnitude = magnitude * 10 + digit;
    }
    return bTooLarge ? ScanResult::TooLarge : ScanResult::Number;
}

// The integer of the text when it lies within [minimum, maximum], else 0.
long long IntegerInRange(const std::string &sText, long long minimum, long long maximum) {
    bool bNegative = false;
    unsigned long long magnitude = 0;
    if (ScanInteger(sText, bNegative, magnitude) != ScanResult::Number)
        return 0;
    if (bNegative) {
        if (minimum >= 0 && magnitude != 0)
            return 0;
        const unsigned long long limit = 0ULL - static_cast<unsigned long long>(minimum);
        return magnitude <= limit ? static_cast<long long>(0ULL - magnitude) : 0;
    }
    return magnitude <= static_cast<unsigned long long>(maximum) ? static_cast<long long>(magnitude) : 0;
}

bool IsAllDigits(const std::string &sText) {
    if (sText.empty())
        return false;
    for (char c : sText)
        if (!Platform::IsAsciiDigit(c))
            return false;
    return true;
}

// ASCII upper case; other characters unchanged.
wxString AsciiUpper(const wxString &text) {
    return wxString(Platform::AsciiUpper(text.ToStdWstring()));
}

wxString WithoutBlanks(wxString text) {
    text.Replace(" ", "");
    return text;
}

} // namespace

bool SelectMatchingComboBoxItem(wxComboBox *combo) {
    if (combo == nullptr)
        return false;
    const wxString typed = WithoutBlanks(AsciiUpper(combo->GetValue()));
    if (typed.empty())
        return false;
    const unsigned count = combo->GetCount();
    for (unsigned i = 0; i < count; ++i) {
        if (AsciiUpper(WithoutBlanks(combo->GetString(i))) == typed) {
            combo->SetSelection(static_cast<int>(i));
            return true;
        }
    }
    for (unsigned i = 0; i < count; ++i) {
        if (AsciiUpper(combo->GetString(i)).Find(typed) != wxNOT_FOUND) {
            combo->SetSelection(static_cast<int>(i));
            return true;
        }
    }
    return false;
}

std::string BaudRateToText(const BaudRate &eRate) {
    return IntToString(static_cast<int>(eRate));
}

// ---- Value to text -------------------------------------------------------------------------------

std::string ValueToText(const std::string &value, const std::string &) {
    return value;
}

std::string ValueToText(const int &value, const std::string &sFormat) {
    return FormatOrPlain(sFormat, value, IntToString(value));
}

std::string ValueToText(const unsigned long &value, const std::string &sFormat) {
    return FormatOrPlain(sFormat, value, FormatString("%lu", value));
}

std::string ValueToText(const unsigned char &value, const std::string &sFormat) {
    return FormatOrPlain(sFormat, static_cast<unsigned>(value),
                         FormatString("%u", static_cast<unsigned>(value)));
}

std::string ValueToText(const bool &value, const std::string &sFormat) {
    return FormatOrPlain(sFormat, value ? 1 : 0, BoolToString(value));
}

std::string ValueToText(const double &value, const std::string &sFormat) {
    return FormatOrPlain(sFormat, value, DoubleToString(value));
}

std::string ValueToText(const FrequencyBase<9> &value, const std::string &) {
    return FrequencyBase<9>::ToText(value, 9999);
}

std::string ValueToText(const BaudRate &value, const std::string &) {
    return baudRateEnumClass.ValueToName(value);
}

std::string ValueToText(const CommunicationTerminationOption &value, const std::string &) {
    return CommunicationTerminationOptionToName(value);
}

// ---- Text to value -------------------------------------------------------------------------------

void ValueFromText(const std::string &sText, std::string &value) {
    value = sText;
}

void ValueFromText(const std::string &sText, int &value) {
    value = static_cast<int>(
        IntegerInRange(sText, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

void ValueFromText(const std::string &sText, unsigned long &value) {
    value = static_cast<unsigned long>(IntegerInRange(sText, 0, std::numeric_limits<uint32_t>::max()));
}

void ValueFromText(const std::string &sText, unsigned char &value) {
    value = static_cast<unsigned char>(IntegerInRange(sText, 0, std::numeric_limits<unsigned char>::max()));
}

void ValueFromText(const std::string &sText, bool &value) {
    value = ParseBool(sText);
}

void ValueFromText(const std::string &sText, double &value) {
    const double parsed = ParseDouble(sText);
    value = std::isfinite(parsed) ? parsed : 0.0;
}

void ValueFromText(const std::string &sText, FrequencyBase<9> &value) {
    const double parsed = ParseDouble(sText);
    // 2^63 raw units: beyond it the value has no 64-bit form.
    const double limit = 9223372036854775808.0 / 1e9;
    value =
        std::isfinite(parsed) && std::fabs(parsed) < limit ? FrequencyBase<9>(parsed) : FrequencyBase<9>();
}

void ValueFromText(const std::string &sText, BaudRate &value) {
    const std::string sTrimmed = TrimDefault(sText);
    if (IsAllDigits(sTrimmed))
        value = static_cast<BaudRate>(IntegerInRange(sTrimmed, 0, std::numeric_limits<int32_t>::max()));
    else
        value = EnumValueOfText<BaudRate>(baudRateEnumClass, sText);
}

void ValueFromText(const std::string &sText, CommunicationTerminationOption &value) {
    value = EnumValueOfText<CommunicationTerminationOption>(communicationTerminationOptionENUMClass, sText);
}

// ---- Items ---------------------------------------------------------------------------------------

std::string ItemText(const int &value) {
    return IntToString(value);
}

std::string ItemText(const BaudRate &value) {
    return BaudRateToText(value);
}

std::string ItemText(const CommunicationTerminationOption &value) {
    return CommunicationTerminationOptionToName(value);
}

bool NextItemValue(const int &value, int &next) {
    if (value == std::numeric_limits<int>::max())
        return false;
    next = value + 1;
    return true;
}

// ---- Controls ------------------------------------------------------------------------------------

namespace ControlValue {

std::string ToNarrow(const wxString &text) {
    return WxStringToStdString(text);
}

wxString ToWide(const std::string &text) {
    return wxString::FromUTF8(text.data(), text.size());
}

bool ReadControlText(wxWindow *window, std::string &sText) {
    if (auto *text = dynamic_cast<wxTextCtrl *>(window))
        sText = ToNarrow(text->GetValue());
    else if (auto *spin = dynamic_cast<wxSpinCtrl *>(window))
        sText = MakeString(spin->GetValue());
    else if (auto *spinDouble = dynamic_cast<wxSpinCtrlDouble *>(window))
        sText = MakeString(spinDouble->GetValue());
    else if (auto *check = dynamic_cast<wxCheckBox *>(window))
        sText = MakeString(check->GetValue());
    else if (auto *radio = dynamic_cast<wxRadioButton *>(window))
        sText = MakeString(radio->GetValue());
    else if (auto *picker = dynamic_cast<wxFilePickerCtrl *>(window))
        sText = ToNarrow(picker->GetPath());
    else if (auto *radioBox = dynamic_cast<wxRadioBox *>(window))
        sText = MakeString(radioBox->GetSelection());
    else
        return false;
    return true;
}

bool WriteControlText(wxWindow *window, const std::string &sText) {
    if (auto *text = dynamic_cast<wxTextCtrl *>(window)) {
        // ChangeValue replaces the whole text, multi-line or not, and sends no text event that a
        // page could take for an edit.
        text->ChangeValue(ToWide(sText));
    } else if (auto *spin = dynamic_cast<wxSpinCtrl *>(window)) {
        spin->SetValue(ToWide(sText));
    } else if (auto *spinDouble = dynamic_cast<wxSpinCtrlDouble *>(window)) {
        spinDouble->SetValue(ToWide(sText));
    } else if (auto *check = dynamic_cast<wxCheckBox *>(window)) {
        check->SetValue(ParseBool(sText));
    } else if (auto *radio = dynamic_cast<wxRadioButton *>(window)) {
        radio->SetValue(ParseBool(sText));
    } else if (auto *picker = dynamic_cast<wxFilePickerCtrl *>(window)) {
        picker->SetPath(ToWide(sText));
    } else if (auto *radioBox = dynamic_cast<wxRadioBox *>(window)) {
        // An option the box does not have leaves the selection as it is; a false here would stop
        // wx filling the page's later controls, which OK would then store.
        const int selection = ParseInt(sText);
        if (selection >= 0 && static_cast<unsigned>(selection) < radioBox->GetCount())
            radioBox->SetSelection(selection);
    } else {
        return false;
    }
    return true;
}

bool IsAlwaysValidControl(wxWindow *window) {
    return dynamic_cast<wxRadioButton *>(window) != nullptr ||
           dynamic_cast<wxRadioBox *>(window) != nullptr || dynamic_cast<wxCheckBox *>(window) != nullptr;
}

} // namespace ControlValue
