// Property validators on real controls: showing a property, reading it back, validating, the
// conversions of each value type, combo-box matching, cloning and attaching by name.
#include "ui/wxCustomValidator.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/panel.h>

#include "WxTestEnvironment.h"
#include "ui/ValidatorBasedPanel.h"

namespace {

// The bound object: one property per value type, each setter counted.
struct Settings {
    std::string sName = "alpha";
    int nCount = 7;
    unsigned long nTimeout = 3000;
    unsigned char nAddress = 17;
    bool bFlag = true;
    double dFactor = 2.5;
    FrequencyBase<9> Start{80.5};
    BaudRate eRate = Br19200;
    Parity eParity = Even;
    CommunicationTerminationOption eTermination = CarrierReturnPlusLineFeed;
    int nSetCalls = 0;

    std::string GetName() const { return sName; }
    void SetName(const std::string &value) { sName = value, ++nSetCalls; }
    int GetCount() const { return nCount; }
    void SetCount(int value) { nCount = value, ++nSetCalls; }
    unsigned long GetTimeout() const { return nTimeout; }
    void SetTimeout(unsigned long value) { nTimeout = value, ++nSetCalls; }
    unsigned char GetAddress() const { return nAddress; }
    void SetAddress(unsigned char value) { nAddress = value, ++nSetCalls; }
    bool GetFlag() const { return bFlag; }
    void SetFlag(bool value) { bFlag = value, ++nSetCalls; }
    double GetFactor() const { return dFactor; }
    void SetFactor(const double &value) { dFactor = value, ++nSetCalls; }
    FrequencyBase<9> GetStart() const { return Start; }
    void SetStart(const FrequencyBase<9> &value) { Start = value, ++nSetCalls; }
    BaudRate GetRate() const { return eRate; }
    void SetRate(BaudRate value) { eRate = value, ++nSetCalls; }
    Parity GetParity() const { return eParity; }
    void SetParity(Parity value) { eParity = value, ++nSetCalls; }
    CommunicationTerminationOption GetTermination() const { return eTermination; }
    void SetTermination(CommunicationTerminationOption value) { eTermination = value, ++nSetCalls; }
};

template <typename V> using Validator = wxTemplatePropertyValidator<Settings, V>;

// A frame with a panel that holds the controls of one test.
class PropertyValidatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        mFrame = new wxFrame(nullptr, wxID_ANY, "validators");
        mPanel = new wxPanel(mFrame, wxID_ANY);
    }
    void TearDown() override { delete mFrame; }

    // Attaches the validator to the control and returns the control's copy.
    template <typename V> Validator<V> *Bind(wxWindow *control, Validator<V> *validator) {
        SetValidatorAndDelete(control, validator);
        return dynamic_cast<Validator<V> *>(control->GetValidator());
    }

    wxTextCtrl *Text(long style = 0) {
        return new wxTextCtrl(mPanel, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, style);
    }
    wxComboBox *Combo(const wxArrayString &items, long style = wxCB_DROPDOWN) {
        return new wxComboBox(mPanel, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, items, style);
    }

    Settings mSettings;
    wxFrame *mFrame = nullptr;
    wxPanel *mPanel = nullptr;
};

wxArrayString Items(std::initializer_list<const char *> texts) {
    wxArrayString items;
    for (const char *text : texts)
        items.Add(text);
    return items;
}

// Counts the validators that were deleted (the clones that wx keeps are plain ones).
struct CountingValidator : Validator<int> {
    static int Deleted;
    CountingValidator(Settings *settings)
        : Validator<int>(settings, &Settings::GetCount, &Settings::SetCount, "") {}
    ~CountingValidator() override { ++Deleted; }
};
int CountingValidator::Deleted = 0;

} // namespace

// ---- Text controls and the value types -----------------------------------------------------------

TEST_F(PropertyValidatorTest, ATextControlShowsTheStringAndStoresTheEditedText) {
    wxTextCtrl *text = Text();
    auto *validator =
        Bind(text, new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, "%d"));
    ASSERT_NE(nullptr, validator);
    EXPECT_TRUE(validator->TransferToWindow());
    EXPECT_EQ("alpha", text->GetValue()) << "a string ignores the format";
    text->ChangeValue(wxString::FromUTF8("b\xC3\xA9ta"));
    EXPECT_TRUE(validator->Validate(mPanel));
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ("b\xC3\xA9ta", mSettings.sName);
}

TEST_F(PropertyValidatorTest, NumbersAreShownWithTheFormatAndUnreadableTextBecomesZero) {
    wxTextCtrl *text = Text();
    auto *validator =
        Bind(text, new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, "%03d"));
    EXPECT_TRUE(validator->TransferToWindow());
    EXPECT_EQ("007", text->GetValue());
    text->ChangeValue("letters");
    EXPECT_TRUE(validator->Validate(mPanel)) << "a text control can always be read";
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(0, mSettings.nCount);
    text->ChangeValue(" -42xyz");
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(-42, mSettings.nCount);
    text->ChangeValue("99999999999");
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(0, mSettings.nCount) << "beyond the int range";
}

TEST_F(PropertyValidatorTest, EachValueTypeHasItsPlainTextWithoutFormat) {
    wxTextCtrl *text = Text();
    auto show = [&](wxValidator *validator) {
        SetValidatorAndDelete(text, validator);
        EXPECT_TRUE(text->GetValidator()->TransferToWindow());
        return text->GetValue().utf8_string();
    };
    EXPECT_EQ("7", show(new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, "")));
    EXPECT_EQ("3000", show(new Validator<unsigned long>(&mSettings, &Settings::GetTimeout,
                                                        &Settings::SetTimeout, "")));
    EXPECT_EQ("17", show(new Validator<unsigned char>(&mSettings, &Settings::GetAddress,
                                                      &Settings::SetAddress, "")));
    EXPECT_EQ("TRUE", show(new Validator<bool>(&mSettings, &Settings::GetFlag, &Settings::SetFlag, "")));
    EXPECT_EQ("1", show(new Validator<bool>(&mSettings, &Settings::GetFlag, &Settings::SetFlag, "%d")));
    EXPECT_EQ("2.5", show(new Validator<double>(&mSettings, &Settings::GetFactor, &Settings::SetFactor, "")));
    EXPECT_EQ("2.500",
              show(new Validator<double>(&mSettings, &Settings::GetFactor, &Settings::SetFactor, "%.3lf")));
    EXPECT_EQ("80.5", show(new Validator<FrequencyBase<9>>(&mSettings, &Settings::GetStart,
                                                           &Settings::SetStart, "%d")))
        << "a frequency always shows its own text";
    EXPECT_EQ(baudRateEnumClass.ValueToName(Br19200),
              show(new Validator<BaudRate>(&mSettings, &Settings::GetRate, &Settings::SetRate, "%d")));
    EXPECT_EQ(parityEnumClass.ValueToName(Even),
              show(new Validator<Parity>(&mSettings, &Settings::GetParity, &Settings::SetParity, "")));
}

TEST_F(PropertyValidatorTest, AFormatThatDoesNotFitTheValueIsPassedTheTypeItReads) {
    wxTextCtrl *text = Text();
    mSettings.nTimeout = 4000000000UL;
    auto show = [&](wxValidator *validator) {
        SetValidatorAndDelete(text, validator);
        EXPECT_TRUE(text->GetValidator()->TransferToWindow());
        return text->GetValue().utf8_string();
    };
    EXPECT_EQ("4000000000", show(new Validator<unsigned long>(&mSettings, &Settings::GetTimeout,
                                                              &Settings::SetTimeout, "%u")));
    EXPECT_EQ("0xEE6B2800", show(new Validator<unsigned long>(&mSettings, &Settings::GetTimeout,
                                                              &Settings::SetTimeout, "0x%llX")));
    EXPECT_EQ("2", show(new Validator<double>(&mSettings, &Settings::GetFactor, &Settings::SetFactor, "%d")));
    EXPECT_EQ("7 %", show(new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, "%d %%")));
    // A text conversion or a second number cannot take one value: the plain text instead.
    EXPECT_EQ("7", show(new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, "%s")));
    EXPECT_EQ("7", show(new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, "%d-%d")));
}

TEST_F(PropertyValidatorTest, TextWhoseValueDoesNotFitItsTypeReadsAsTheDefault) {
    wxTextCtrl *text = Text();
    auto *address = Bind(
        text, new Validator<unsigned char>(&mSettings, &Settings::GetAddress, &Settings::SetAddress, "%hhu"));
    text->ChangeValue("255");
    EXPECT_TRUE(address->TransferFromWindow());
    EXPECT_EQ(255, mSettings.nAddress);
    text->ChangeValue("300");
    EXPECT_TRUE(address->TransferFromWindow());
    EXPECT_EQ(0, mSettings.nAddress) << "300 must not wrap to 44";
    text->ChangeValue("-1");
    EXPECT_TRUE(address->TransferFromWindow());
    EXPECT_EQ(0, mSettings.nAddress);

    auto *timeout = Bind(
        text, new Validator<unsigned long>(&mSettings, &Settings::GetTimeout, &Settings::SetTimeout, ""));
    text->ChangeValue("4294967295");
    EXPECT_TRUE(timeout->TransferFromWindow());
    EXPECT_EQ(4294967295UL, mSettings.nTimeout);
    text->ChangeValue("4294967296");
    EXPECT_TRUE(timeout->TransferFromWindow());
    EXPECT_EQ(0UL, mSettings.nTimeout);

    auto *start =
        Bind(text, new Validator<FrequencyBase<9>>(&mSettings, &Settings::GetStart, &Settings::SetStart, ""));
    text->ChangeValue("1000,25");
    EXPECT_TRUE(start->TransferFromWindow());
    EXPECT_EQ(1000250000000LL, mSettings.Start.GetRaw()) << "a decimal comma is accepted";
    text->ChangeValue("1e12");
    EXPECT_TRUE(start->TransferFromWindow());
    EXPECT_EQ(0, mSettings.Start.GetRaw()) << "beyond the 64-bit range";
    text->ChangeValue("-1e12");
    EXPECT_TRUE(start->TransferFromWindow());
    EXPECT_EQ(0, mSettings.Start.GetRaw());

    auto *factor =
        Bind(text, new Validator<double>(&mSettings, &Settings::GetFactor, &Settings::SetFactor, ""));
    text->ChangeValue("1e999");
    EXPECT_TRUE(factor->TransferFromWindow());
    EXPECT_EQ(0.0, mSettings.dFactor);
}

TEST_F(PropertyValidatorTest, ABaudRateIsShownByNameAndReadByNameOrDigits) {
    wxTextCtrl *text = Text();
    auto *validator =
        Bind(text, new Validator<BaudRate>(&mSettings, &Settings::GetRate, &Settings::SetRate, ""));
    EXPECT_TRUE(validator->TransferToWindow());
    EXPECT_EQ(baudRateEnumClass.ValueToName(Br19200), text->GetValue().utf8_string());
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(Br19200, mSettings.eRate);
    text->ChangeValue("9600");
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(Br9600, mSettings.eRate);
    text->ChangeValue("10000");
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(10000, static_cast<int>(mSettings.eRate)) << "an undeclared rate is still a rate";
    text->ChangeValue("Br38400");
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(Br38400, mSettings.eRate);
    text->ChangeValue("fast");
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(UNKNOWN_BAUDRATE, mSettings.eRate);
}

TEST_F(PropertyValidatorTest, WritingSendsNoTextEventThatAPageCouldTakeForAnEdit) {
    wxTextCtrl *text = Text();
    wxComboBox *combo = Combo(Items({"x", "y"}));
    int events = 0;
    // A page that stores on every text change would store the shown value twice (or, worse, an
    // intermediate text).
    text->Bind(wxEVT_TEXT, [&](wxCommandEvent &) { ++events; });
    combo->Bind(wxEVT_TEXT, [&](wxCommandEvent &) { ++events; });
    Bind(text, new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, ""))
        ->TransferToWindow();
    Bind(combo, new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, ""))
        ->TransferToWindow();
    EXPECT_EQ("alpha", text->GetValue());
    EXPECT_EQ("alpha", combo->GetValue());
    EXPECT_EQ(0, events);
}

TEST_F(PropertyValidatorTest, AMultiLineControlIsReplacedOnEveryWrite) {
    wxTextCtrl *text = Text(wxTE_MULTILINE);
    auto *validator =
        Bind(text, new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, ""));
    mSettings.sName = "line one\nline two";
    EXPECT_TRUE(validator->TransferToWindow());
    EXPECT_TRUE(validator->TransferToWindow());
    EXPECT_EQ(wxString("line one\nline two"), text->GetValue());
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ("line one\nline two", mSettings.sName);
}

// ---- Other control classes -------------------------------------------------------------------------

TEST_F(PropertyValidatorTest, ACheckBoxIsTickedForTrueOrAnyNonZeroNumber) {
    auto *check = new wxCheckBox(mPanel, wxID_ANY, "flag");
    auto *flag = Bind(check, new Validator<bool>(&mSettings, &Settings::GetFlag, &Settings::SetFlag, "%d"));
    EXPECT_TRUE(flag->TransferToWindow());
    EXPECT_TRUE(check->GetValue());
    check->SetValue(false);
    EXPECT_TRUE(flag->Validate(mPanel));
    EXPECT_TRUE(flag->TransferFromWindow());
    EXPECT_FALSE(mSettings.bFlag);

    mSettings.nCount = 5;
    auto *count = Bind(check, new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, "%d"));
    EXPECT_TRUE(count->TransferToWindow());
    EXPECT_TRUE(check->GetValue());
    EXPECT_TRUE(count->TransferFromWindow());
    EXPECT_EQ(1, mSettings.nCount);
}

TEST_F(PropertyValidatorTest, OptionButtonsAndOptionBoxesAreAlwaysValid) {
    auto *radio = new wxRadioButton(mPanel, wxID_ANY, "on", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    new wxRadioButton(mPanel, wxID_ANY, "off");
    auto *flag = Bind(radio, new Validator<bool>(&mSettings, &Settings::GetFlag, &Settings::SetFlag, ""));
    EXPECT_TRUE(flag->TransferToWindow());
    EXPECT_TRUE(radio->GetValue());
    EXPECT_TRUE(flag->Validate(mPanel));

    const wxString choices[] = {"zero", "one", "two"};
    auto *box = new wxRadioBox(mPanel, wxID_ANY, "box", wxDefaultPosition, wxDefaultSize, 3, choices);
    mSettings.nCount = 2;
    auto *count = Bind(box, new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, ""));
    EXPECT_TRUE(count->TransferToWindow());
    EXPECT_EQ(2, box->GetSelection());
    box->SetSelection(1);
    EXPECT_TRUE(count->Validate(mPanel));
    EXPECT_TRUE(count->TransferFromWindow());
    EXPECT_EQ(1, mSettings.nCount);
    mSettings.nCount = 3;
    EXPECT_TRUE(count->TransferToWindow()) << "no option 3: written, the selection stays";
    EXPECT_EQ(1, box->GetSelection());
}

TEST_F(PropertyValidatorTest, AnOptionTheBoxLacksDoesNotStopThePageBeingFilled) {
    const wxString choices[] = {"zero", "one"};
    auto *box = new wxRadioBox(mPanel, wxID_ANY, "box", wxDefaultPosition, wxDefaultSize, 2, choices);
    wxTextCtrl *text = Text();
    mSettings.nCount = 5;
    SetValidatorAndDelete(box, new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, ""));
    SetValidatorAndDelete(text,
                          new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, ""));
    // wx stops filling a window's controls at the first validator that reports a failure.
    EXPECT_TRUE(mPanel->TransferDataToWindow());
    EXPECT_EQ("alpha", text->GetValue());
    EXPECT_TRUE(mPanel->TransferDataFromWindow());
    EXPECT_EQ("alpha", mSettings.sName);
}

TEST_F(PropertyValidatorTest, SpinControlsAndFilePickersGoThroughText) {
    auto *spin =
        new wxSpinCtrl(mPanel, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS, 0, 100, 0);
    auto *count = Bind(spin, new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, "%d"));
    EXPECT_TRUE(count->TransferToWindow());
    EXPECT_EQ(7, spin->GetValue());
    spin->SetValue(42);
    EXPECT_TRUE(count->Validate(mPanel));
    EXPECT_TRUE(count->TransferFromWindow());
    EXPECT_EQ(42, mSettings.nCount);

    auto *spinDouble = new wxSpinCtrlDouble(mPanel, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                            wxSP_ARROW_KEYS, 0.0, 100.0, 0.0, 0.25);
    spinDouble->SetDigits(2);
    auto *factor = Bind(spinDouble,
                        new Validator<double>(&mSettings, &Settings::GetFactor, &Settings::SetFactor, "%lg"));
    EXPECT_TRUE(factor->TransferToWindow());
    EXPECT_DOUBLE_EQ(2.5, spinDouble->GetValue());
    spinDouble->SetValue(12.75);
    EXPECT_TRUE(factor->TransferFromWindow());
    EXPECT_DOUBLE_EQ(12.75, mSettings.dFactor);

    auto *picker = new wxFilePickerCtrl(mPanel, wxID_ANY);
    mSettings.sName = "/tmp/config.ini";
    auto *name =
        Bind(picker, new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, ""));
    EXPECT_TRUE(name->TransferToWindow());
    EXPECT_EQ("/tmp/config.ini", picker->GetPath());
    EXPECT_TRUE(name->Validate(mPanel));
    picker->SetPath("/tmp/other.ini");
    EXPECT_TRUE(name->TransferFromWindow());
    EXPECT_EQ("/tmp/other.ini", mSettings.sName);
}

TEST_F(PropertyValidatorTest, AChoiceIsWrittenByItemDataOrItemTextAndNotReadWithoutSelection) {
    auto *choice = new wxChoice(mPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, Items({"9600", "19200"}));
    auto *rate = Bind(choice, new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, ""));
    EXPECT_FALSE(rate->Validate(mPanel));
    EXPECT_FALSE(rate->TransferFromWindow()) << "no selection";
    EXPECT_EQ(7, mSettings.nCount);
    mSettings.nCount = 19200;
    EXPECT_TRUE(rate->TransferToWindow());
    EXPECT_EQ(1, choice->GetSelection());
    mSettings.nCount = 5;
    EXPECT_FALSE(rate->TransferToWindow());
    EXPECT_EQ(1, choice->GetSelection());
    EXPECT_TRUE(rate->TransferFromWindow());
    EXPECT_EQ(19200, mSettings.nCount);

    auto *parity = new wxChoice(mPanel, wxID_ANY);
    parity->Append("odd", new wxGenericClientData<Parity>(Odd));
    parity->Append("even", new wxGenericClientData<Parity>(Even));
    auto *validator =
        Bind(parity, new Validator<Parity>(&mSettings, &Settings::GetParity, &Settings::SetParity, ""));
    EXPECT_TRUE(validator->TransferToWindow());
    EXPECT_EQ(1, parity->GetSelection());
    parity->SetSelection(0);
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(Odd, mSettings.eParity) << "read from the item data, not from the text";
}

// ---- Combo boxes -----------------------------------------------------------------------------------

TEST_F(PropertyValidatorTest, TheTypedTextSelectsAnExactItemFirstThenTheFirstContainingOne) {
    wxComboBox *combo = Combo(Items({"Com 1", "Com 10"}));
    combo->ChangeValue("com1");
    EXPECT_TRUE(SelectMatchingComboBoxItem(combo));
    EXPECT_EQ(0, combo->GetSelection());
    combo->ChangeValue("com 10");
    EXPECT_TRUE(SelectMatchingComboBoxItem(combo));
    EXPECT_EQ(1, combo->GetSelection());
    combo->ChangeValue("COM");
    EXPECT_TRUE(SelectMatchingComboBoxItem(combo));
    EXPECT_EQ(0, combo->GetSelection());
    combo->SetSelection(1);
    combo->ChangeValue("m 1");
    EXPECT_FALSE(SelectMatchingComboBoxItem(combo))
        << "the typed text loses its blank, the items keep theirs";
    EXPECT_FALSE(SelectMatchingComboBoxItem(nullptr));
}

TEST_F(PropertyValidatorTest, EmptyTypedTextMatchesNoItem) {
    wxComboBox *simple = Combo(Items({"Com 1", "Com 10"}), wxCB_SIMPLE);
    auto *validator =
        Bind(simple, new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, ""));
    simple->ChangeValue("");
    EXPECT_FALSE(SelectMatchingComboBoxItem(simple));
    EXPECT_FALSE(validator->Validate(mPanel)) << "an empty text must not pass as the first item";
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ("", mSettings.sName);
}

TEST_F(PropertyValidatorTest, ASimpleComboBoxNeedsAMatchingItemADropDownOneTakesTheText) {
    wxComboBox *simple = Combo(Items({"9600", "19200"}), wxCB_SIMPLE);
    wxComboBox *dropDown = Combo(Items({"9600", "19200"}));
    auto *simpleValidator =
        Bind(simple, new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, ""));
    auto *dropDownValidator =
        Bind(dropDown, new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, ""));
    simple->ChangeValue("4800");
    dropDown->ChangeValue("4800");
    EXPECT_FALSE(simpleValidator->Validate(mPanel));
    EXPECT_TRUE(dropDownValidator->Validate(mPanel));
    EXPECT_TRUE(dropDownValidator->TransferFromWindow());
    EXPECT_EQ(4800, mSettings.nCount);
    simple->ChangeValue("192");
    EXPECT_TRUE(simpleValidator->Validate(mPanel));
    EXPECT_EQ(1, simple->GetSelection());
}

TEST_F(PropertyValidatorTest, AComboBoxSelectsAndReadsTheItemThatCarriesTheValue) {
    wxComboBox *combo = Combo(wxArrayString());
    combo->Append("slow", new wxGenericClientData<BaudRate>(Br9600));
    combo->Append("fast", new wxGenericClientData<BaudRate>(Br19200));
    auto *validator =
        Bind(combo, new Validator<BaudRate>(&mSettings, &Settings::GetRate, &Settings::SetRate, ""));
    EXPECT_TRUE(validator->TransferToWindow());
    EXPECT_EQ(1, combo->GetSelection());
    EXPECT_EQ("fast", combo->GetValue());
    combo->ChangeValue("SLOW");
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(Br9600, mSettings.eRate);
    mSettings.eRate = Br38400;
    EXPECT_TRUE(validator->TransferToWindow());
    EXPECT_EQ(baudRateEnumClass.ValueToName(Br38400), combo->GetValue().utf8_string()) << "no item: the name";
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(Br38400, mSettings.eRate);
}

// ---- Null parts, cloning, attaching ---------------------------------------------------------------

TEST_F(PropertyValidatorTest, AValidatorWithoutObjectOrGetterLeavesTheControlAlone) {
    wxTextCtrl *text = Text();
    text->ChangeValue("typed");
    auto *noObject = Bind(text, new Validator<int>(nullptr, &Settings::GetCount, &Settings::SetCount, ""));
    EXPECT_TRUE(noObject->TransferToWindow());
    EXPECT_EQ("typed", text->GetValue());
    EXPECT_EQ(0, noObject->GetPropertyValue());
    EXPECT_FALSE(noObject->SetPropertyValue(3));
    EXPECT_TRUE(noObject->TransferFromWindow());

    auto *noGetter = Bind(text, new Validator<int>(&mSettings, nullptr, &Settings::SetCount, ""));
    EXPECT_TRUE(noGetter->TransferToWindow());
    EXPECT_EQ("typed", text->GetValue());

    int (Settings::*nullGetter)() const = nullptr;
    auto *nullMember = Bind(text, new Validator<int>(&mSettings, nullGetter, nullptr, ""));
    EXPECT_TRUE(nullMember->TransferToWindow());
    text->ChangeValue("12");
    EXPECT_TRUE(nullMember->TransferFromWindow()) << "read, although nothing stores it";
    EXPECT_EQ(7, mSettings.nCount);
    EXPECT_EQ(0, mSettings.nSetCalls);

    Validator<int> unattached(&mSettings, &Settings::GetCount, &Settings::SetCount, "");
    EXPECT_FALSE(unattached.TransferToWindow());
    EXPECT_FALSE(unattached.TransferFromWindow());
    EXPECT_FALSE(unattached.Validate(mPanel));
}

TEST_F(PropertyValidatorTest, AnUnhandledWindowClassCannotBeReadOrWritten) {
    auto *button = new wxButton(mPanel, wxID_ANY, "press");
    auto *validator =
        Bind(button, new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, ""));
    EXPECT_FALSE(validator->TransferToWindow());
    EXPECT_FALSE(validator->Validate(mPanel));
    EXPECT_FALSE(validator->TransferFromWindow());
    EXPECT_EQ(7, mSettings.nCount);
}

TEST_F(PropertyValidatorTest, ACloneKeepsItsClassAndWorksAfterTheOriginalIsGone) {
    wxTextCtrl *text = Text();
    auto *original = new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, "%02d");
    std::unique_ptr<wxObject> clone(original->Clone());
    delete original;
    auto *copy = dynamic_cast<Validator<int> *>(clone.get());
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(nullptr, copy->GetWindow());
    EXPECT_EQ("%02d", copy->GetFormat());
    copy->SetWindow(text);
    EXPECT_TRUE(copy->TransferToWindow());
    EXPECT_EQ("07", text->GetValue());

    wxCustomValidator<Settings, int> plain(&mSettings, &Settings::GetCount, &Settings::SetCount, "");
    std::unique_ptr<wxObject> plainClone(plain.Clone());
    EXPECT_EQ(nullptr, dynamic_cast<Validator<int> *>(plainClone.get()));
    EXPECT_NE(nullptr, (dynamic_cast<wxCustomValidator<Settings, int> *>(plainClone.get())));
}

TEST_F(PropertyValidatorTest, AttachingGivesTheNamedControlACopyAndAlwaysFreesTheValidator) {
    wxTextCtrl *text = new wxTextCtrl(mPanel, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, 0,
                                      wxDefaultValidator, "ID_COUNT");
    CountingValidator::Deleted = 0;
    AttachValidator(mPanel, "ID_COUNT", new CountingValidator(&mSettings));
    EXPECT_EQ(1, CountingValidator::Deleted);
    auto *attached = dynamic_cast<Validator<int> *>(text->GetValidator());
    ASSERT_NE(nullptr, attached);
    EXPECT_EQ(text, attached->GetWindow());

    AttachValidator(mPanel, "ID_MISSING", new CountingValidator(&mSettings));
    EXPECT_EQ(2, CountingValidator::Deleted);
    AttachValidator(nullptr, "ID_COUNT", new CountingValidator(&mSettings));
    EXPECT_EQ(3, CountingValidator::Deleted);
    AttachValidator(mPanel, "ID_COUNT", nullptr);
    EXPECT_EQ(attached, text->GetValidator()) << "a null validator changes nothing";
}

// ---- Showing and taking back without edits ---------------------------------------------------------

TEST_F(PropertyValidatorTest, ShowingAndTakingBackWithoutEditsChangesNothing) {
    const Settings before = mSettings;
    struct Case {
        const char *Kind;
        std::function<wxWindow *()> Make;
        std::function<wxValidator *()> Validator;
        std::function<bool(const Settings &)> Unchanged;
    };
    auto same = [&](auto member) {
        return [member, &before](const Settings &s) { return s.*member == before.*member; };
    };
    const wxString radioChoices[] = {"a", "b", "c", "d", "e", "f", "g", "h"};
    std::vector<Case> cases = {
        {"text/string", [&] { return Text(); },
         [&] { return new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, ""); },
         same(&Settings::sName)},
        {"multi-line/string", [&] { return Text(wxTE_MULTILINE); },
         [&] { return new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, ""); },
         same(&Settings::sName)},
        {"text/int", [&] { return Text(); },
         [&] { return new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, "%d"); },
         same(&Settings::nCount)},
        {"text/unsigned long", [&] { return Text(); },
         [&] {
             return new Validator<unsigned long>(&mSettings, &Settings::GetTimeout, &Settings::SetTimeout,
                                                 "%u");
         },
         same(&Settings::nTimeout)},
        {"text/unsigned char", [&] { return Text(); },
         [&] {
             return new Validator<unsigned char>(&mSettings, &Settings::GetAddress, &Settings::SetAddress,
                                                 "%hhu");
         },
         same(&Settings::nAddress)},
        {"text/bool", [&] { return Text(); },
         [&] { return new Validator<bool>(&mSettings, &Settings::GetFlag, &Settings::SetFlag, ""); },
         same(&Settings::bFlag)},
        {"text/double", [&] { return Text(); },
         [&] { return new Validator<double>(&mSettings, &Settings::GetFactor, &Settings::SetFactor, "%lG"); },
         same(&Settings::dFactor)},
        {"text/frequency", [&] { return Text(); },
         [&] {
             return new Validator<FrequencyBase<9>>(&mSettings, &Settings::GetStart, &Settings::SetStart, "");
         },
         [&](const Settings &s) { return s.Start.GetRaw() == before.Start.GetRaw(); }},
        {"text/baud rate", [&] { return Text(); },
         [&] { return new Validator<BaudRate>(&mSettings, &Settings::GetRate, &Settings::SetRate, ""); },
         same(&Settings::eRate)},
        {"text/parity", [&] { return Text(); },
         [&] { return new Validator<Parity>(&mSettings, &Settings::GetParity, &Settings::SetParity, ""); },
         same(&Settings::eParity)},
        {"text/termination", [&] { return Text(); },
         [&] {
             return new Validator<CommunicationTerminationOption>(&mSettings, &Settings::GetTermination,
                                                                  &Settings::SetTermination, "");
         },
         same(&Settings::eTermination)},
        {"combo/string",
         [&] {
             return Combo(Items({"alp", "alpha", "beta"}));
         },
         [&] { return new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, ""); },
         same(&Settings::sName)},
        {"choice/termination",
         [&] {
             wxArrayString names;
             for (int v = 0; v <= 3; ++v)
                 names.Add(wxString::FromUTF8(
                     CommunicationTerminationOptionToName(static_cast<CommunicationTerminationOption>(v))));
             return new wxChoice(mPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, names);
         },
         [&] {
             return new Validator<CommunicationTerminationOption>(&mSettings, &Settings::GetTermination,
                                                                  &Settings::SetTermination, "");
         },
         same(&Settings::eTermination)},
        {"check box/bool", [&] { return new wxCheckBox(mPanel, wxID_ANY, "c"); },
         [&] { return new Validator<bool>(&mSettings, &Settings::GetFlag, &Settings::SetFlag, ""); },
         same(&Settings::bFlag)},
        {"option button/bool",
         [&] {
             return new wxRadioButton(mPanel, wxID_ANY, "r", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
         },
         [&] { return new Validator<bool>(&mSettings, &Settings::GetFlag, &Settings::SetFlag, ""); },
         same(&Settings::bFlag)},
        {"option box/int",
         [&] {
             return new wxRadioBox(mPanel, wxID_ANY, "b", wxDefaultPosition, wxDefaultSize, 8, radioChoices);
         },
         [&] { return new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, ""); },
         same(&Settings::nCount)},
        {"spin/int",
         [&] {
             return new wxSpinCtrl(mPanel, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS,
                                   -100, 100, 0);
         },
         [&] { return new Validator<int>(&mSettings, &Settings::GetCount, &Settings::SetCount, ""); },
         same(&Settings::nCount)},
        {"spin double/double",
         [&] {
             auto *s = new wxSpinCtrlDouble(mPanel, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                            wxSP_ARROW_KEYS, 0, 10, 0, 0.5);
             s->SetDigits(1);
             return s;
         },
         [&] { return new Validator<double>(&mSettings, &Settings::GetFactor, &Settings::SetFactor, ""); },
         same(&Settings::dFactor)},
        {"file picker/string", [&] { return new wxFilePickerCtrl(mPanel, wxID_ANY); },
         [&] { return new Validator<std::string>(&mSettings, &Settings::GetName, &Settings::SetName, ""); },
         same(&Settings::sName)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Kind);
        wxWindow *control = c.Make();
        SetValidatorAndDelete(control, c.Validator());
        wxValidator *validator = control->GetValidator();
        for (int opening = 0; opening < 2; ++opening) {
            EXPECT_TRUE(validator->TransferToWindow());
            EXPECT_TRUE(validator->Validate(mPanel));
            EXPECT_TRUE(validator->TransferFromWindow());
            EXPECT_TRUE(c.Unchanged(mSettings));
        }
        control->Destroy();
    }
    EXPECT_GT(mSettings.nSetCalls, 0);
}
