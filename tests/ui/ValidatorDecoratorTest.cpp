// Validator decorators on real controls: the allowed-value set and its three messages, the range,
// the enabled-only rule, the combo-box lists and the cloning of decorator chains.
#include "support/TestSupport.h"
#include "ui/wxDecorator.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include <wx/frame.h>
#include <wx/panel.h>

#include "WxTestEnvironment.h"
#include "platform/MessageBox.h"
#include "ui/ValidatorBasedPanel.h"
#include "ui/wxCustomValidator.h"

namespace {

struct SerialSettings {
    int nAddress = 5;
    BaudRate eRate = Br19200;
    Parity eParity = Odd;
    DataBits eDataBits = Data8;
    int GetAddress() const { return nAddress; }
    void SetAddress(int value) { nAddress = value; }
    BaudRate GetRate() const { return eRate; }
    void SetRate(BaudRate value) { eRate = value; }
    Parity GetParity() const { return eParity; }
    void SetParity(Parity value) { eParity = value; }
    DataBits GetDataBits() const { return eDataBits; }
    void SetDataBits(DataBits value) { eDataBits = value; }
};

// A frame with a panel for the controls; every message box is recorded and answered with OK.
class ValidatorDecoratorTest : public ::testing::Test {
protected:
    void SetUp() override {
        mFrame = new wxFrame(nullptr, wxID_ANY, "decorators");
        mPanel = new wxPanel(mFrame, wxID_ANY);
    }
    void TearDown() override { delete mFrame; }

    wxValidatorInterface *AddressValidator() {
        return new wxTemplatePropertyValidator<SerialSettings, int>(&mSettings, &SerialSettings::GetAddress,
                                                                    &SerialSettings::SetAddress, "%d");
    }
    wxValidatorInterface *RateValidator() {
        return new wxTemplatePropertyValidator<SerialSettings, BaudRate>(&mSettings, &SerialSettings::GetRate,
                                                                         &SerialSettings::SetRate, "");
    }
    wxComboBox *Combo() { return new wxComboBox(mPanel, wxID_ANY, ""); }
    wxTextCtrl *Text() { return new wxTextCtrl(mPanel, wxID_ANY, ""); }

    static std::vector<std::string> ItemTexts(wxComboBox *combo) {
        std::vector<std::string> texts;
        for (unsigned i = 0; i < combo->GetCount(); ++i)
            texts.push_back(combo->GetString(i).utf8_string());
        return texts;
    }

    SerialSettings mSettings;
    wxFrame *mFrame = nullptr;
    wxPanel *mPanel = nullptr;
    TestSupport::MessageBoxRecorder mRecorder{Platform::IdOk};
    std::vector<Platform::MessageBoxRequest> &mBoxes = mRecorder.Boxes;
};

std::shared_ptr<std::set<BaudRate>> StandardRates() {
    return std::make_shared<std::set<BaudRate>>(std::set<BaudRate>{Br19200, Br9600, Br38400});
}

} // namespace

// ---- Allowed set ------------------------------------------------------------------------------------

TEST_F(ValidatorDecoratorTest, TheAllowedSetListsItsRatesAndSelectsTheProperty) {
    wxComboBox *combo = Combo();
    SetValidatorAndDelete(combo,
                          new AllowedSetDecoratorValidator<BaudRate>(RateValidator(), StandardRates()));
    wxValidator *validator = combo->GetValidator();
    ASSERT_TRUE(validator->TransferToWindow());
    EXPECT_EQ((std::vector<std::string>{"9600", "19200", "38400"}), ItemTexts(combo));
    EXPECT_EQ(1, combo->GetSelection());
    ASSERT_TRUE(validator->TransferToWindow());
    EXPECT_EQ(3u, combo->GetCount()) << "filled afresh on each showing";
    combo->SetSelection(2);
    EXPECT_TRUE(validator->Validate(mPanel));
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(Br38400, mSettings.eRate);
    EXPECT_TRUE(mBoxes.empty());
}

TEST_F(ValidatorDecoratorTest, ARateOutsideTheSetIsRefusedWithTheNearestAllowedRates) {
    wxComboBox *combo = Combo();
    SetValidatorAndDelete(combo,
                          new AllowedSetDecoratorValidator<BaudRate>(RateValidator(), StandardRates()));
    wxValidator *validator = combo->GetValidator();
    ASSERT_TRUE(validator->TransferToWindow());
    struct Case {
        const char *Typed;
        bool Valid;
        const wchar_t *Message;
    } cases[] = {
        {"300", false, L"The value ('300') you specified is not valid.\nLowest valid value is 9600."},
        {"10000", false,
         L"The value ('10000') you specified is not valid.\nFirst valid lower value is 9600.\nFirst valid "
         L"higher value is 19200."},
        {"57600", false, L"The value ('57600') you specified is not valid.\nHighest valid value is 38400."},
        {"19200", true, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Typed);
        mBoxes.clear();
        combo->ChangeValue(c.Typed);
        EXPECT_EQ(c.Valid, validator->Validate(mPanel));
        if (c.Message == nullptr) {
            EXPECT_TRUE(mBoxes.empty());
            continue;
        }
        ASSERT_EQ(1u, mBoxes.size());
        EXPECT_EQ(c.Message, mBoxes[0].Text);
        EXPECT_EQ(L"Value Validation", mBoxes[0].Caption);
        EXPECT_EQ(0x30u, mBoxes[0].Style);
        EXPECT_EQ(static_cast<HostWindow>(mFrame), mBoxes[0].Window)
            << "owned by the page's top-level window";
    }
}

TEST_F(ValidatorDecoratorTest, TheAllowedSetFailsSilentlyWithoutSetOrWithAnEmptyOne) {
    wxComboBox *combo = Combo();
    combo->ChangeValue("9600");
    AllowedSetDecoratorValidator<BaudRate> noSet(RateValidator(), nullptr);
    noSet.SetWindow(combo);
    EXPECT_FALSE(noSet.Validate(mPanel));
    AllowedSetDecoratorValidator<BaudRate> empty(RateValidator(), std::make_shared<std::set<BaudRate>>());
    empty.SetWindow(combo);
    EXPECT_FALSE(empty.Validate(mPanel));
    EXPECT_TRUE(mBoxes.empty());
}

TEST_F(ValidatorDecoratorTest, ClonesShareTheAllowedSet) {
    auto rates = StandardRates();
    AllowedSetDecoratorValidator<BaudRate> original(RateValidator(), rates);
    std::unique_ptr<wxObject> clone(original.Clone());
    rates->insert(Br57600);
    wxComboBox *combo = Combo();
    auto *copy = dynamic_cast<wxValidator *>(clone.get());
    copy->SetWindow(combo);
    ASSERT_TRUE(copy->TransferToWindow());
    EXPECT_EQ(4u, combo->GetCount());
}

// ---- Range --------------------------------------------------------------------------------------------

TEST_F(ValidatorDecoratorTest, TheRangeAcceptsBothBoundsAndRefusesSilentlyOutside) {
    wxTextCtrl *text = Text();
    SetValidatorAndDelete(text, new wxRangeDecoratorValidator<int>(AddressValidator(), 0, 30));
    wxValidator *validator = text->GetValidator();
    ASSERT_TRUE(validator->TransferToWindow());
    EXPECT_EQ("5", text->GetValue());
    for (const char *typed : {"0", "30"}) {
        text->ChangeValue(typed);
        EXPECT_TRUE(validator->Validate(mPanel)) << typed;
    }
    for (const char *typed : {"-1", "31"}) {
        text->ChangeValue(typed);
        EXPECT_FALSE(validator->Validate(mPanel)) << typed;
    }
    EXPECT_TRUE(mBoxes.empty());
    text->ChangeValue("30");
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(30, mSettings.nAddress);
}

TEST_F(ValidatorDecoratorTest, RulesReadTheControlThroughAnyDepthOfDecorators) {
    // The range reads the control as an int itself, whatever validator it wraps.
    wxTextCtrl *text = Text();
    SetValidatorAndDelete(
        text, new wxRangeDecoratorValidator<int>(new EnabledValidator(AddressValidator()), 0, 30));
    text->ChangeValue("31");
    EXPECT_FALSE(text->GetValidator()->Validate(mPanel));
    text->ChangeValue("12");
    EXPECT_TRUE(text->GetValidator()->Validate(mPanel));
    EXPECT_TRUE(text->GetValidator()->TransferFromWindow());
    EXPECT_EQ(12, mSettings.nAddress);

    wxComboBox *combo = Combo();
    SetValidatorAndDelete(combo, new AllowedSetDecoratorValidator<BaudRate>(
                                     new EnabledValidator(RateValidator()), StandardRates()));
    ASSERT_TRUE(combo->GetValidator()->TransferToWindow());
    combo->ChangeValue("300");
    EXPECT_FALSE(combo->GetValidator()->Validate(mPanel));
    EXPECT_EQ(1u, mBoxes.size());
}

// ---- Enabled only ------------------------------------------------------------------------------------

TEST_F(ValidatorDecoratorTest, ADisabledControlPassesAndKeepsItsPropertyButIsStillFilled) {
    wxTextCtrl *text = Text();
    SetValidatorAndDelete(
        text, new EnabledValidator(new wxRangeDecoratorValidator<int>(AddressValidator(), 0, 30)));
    wxValidator *validator = text->GetValidator();
    text->Disable();
    ASSERT_TRUE(validator->TransferToWindow());
    EXPECT_EQ("5", text->GetValue());
    text->ChangeValue("99");
    EXPECT_TRUE(validator->Validate(mPanel));
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(5, mSettings.nAddress);

    text->Enable();
    EXPECT_FALSE(validator->Validate(mPanel));
    text->ChangeValue("9");
    EXPECT_TRUE(validator->Validate(mPanel));
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(9, mSettings.nAddress);
}

TEST_F(ValidatorDecoratorTest, AnEnabledControlIsValidatedBeforeItsFirstShowing) {
    wxTextCtrl *text = Text();
    SetValidatorAndDelete(
        text, new EnabledValidator(new wxRangeDecoratorValidator<int>(AddressValidator(), 0, 30)));
    text->ChangeValue("99");
    EXPECT_FALSE(text->GetValidator()->Validate(mPanel));
}

// ---- Combo-box lists ---------------------------------------------------------------------------------

TEST_F(ValidatorDecoratorTest, AnIntListHoldsEveryValueFromFirstToLast) {
    wxComboBox *combo = Combo();
    SetValidatorAndDelete(combo, new wxComboBoxDecoratorValidator<int>(AddressValidator(), 1, 8));
    ASSERT_TRUE(combo->GetValidator()->TransferToWindow());
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}), ItemTexts(combo));
    EXPECT_EQ(4, combo->GetSelection());
    combo->SetSelection(7);
    EXPECT_TRUE(combo->GetValidator()->Validate(mPanel));
    EXPECT_TRUE(combo->GetValidator()->TransferFromWindow());
    EXPECT_EQ(8, mSettings.nAddress);

    wxComboBox *single = Combo();
    SetValidatorAndDelete(single, new wxComboBoxDecoratorValidator<int>(AddressValidator(), 8, 8));
    ASSERT_TRUE(single->GetValidator()->TransferToWindow());
    EXPECT_EQ((std::vector<std::string>{"8"}), ItemTexts(single));
}

TEST_F(ValidatorDecoratorTest, AnEnumerationListStepsThroughTheDeclaredValuesBothEndsIncluded) {
    wxComboBox *rates = Combo();
    SetValidatorAndDelete(rates, new wxComboBoxDecoratorValidator<BaudRate>(RateValidator(), Br300, Br19200));
    ASSERT_TRUE(rates->GetValidator()->TransferToWindow());
    EXPECT_EQ((std::vector<std::string>{"300", "600", "1200", "2400", "4800", "9600", "19200"}),
              ItemTexts(rates))
        << "undeclared rates between the ends are left out";
    EXPECT_EQ(6, rates->GetSelection());

    wxComboBox *parity = Combo();
    SetValidatorAndDelete(parity,
                          new wxComboBoxDecoratorValidator<Parity>(
                              new wxTemplatePropertyValidator<SerialSettings, Parity>(
                                  &mSettings, &SerialSettings::GetParity, &SerialSettings::SetParity, ""),
                              None, Space));
    ASSERT_TRUE(parity->GetValidator()->TransferToWindow());
    std::vector<std::string> names;
    for (int v = None; v <= Space; ++v)
        names.push_back(parityEnumClass.ValueToName(static_cast<Parity>(v)));
    EXPECT_EQ(names, ItemTexts(parity));
    EXPECT_EQ(1, parity->GetSelection());
    parity->SetSelection(4);
    EXPECT_TRUE(parity->GetValidator()->TransferFromWindow());
    EXPECT_EQ(Space, mSettings.eParity);

    wxComboBox *dataBits = Combo();
    SetValidatorAndDelete(dataBits,
                          new wxComboBoxDecoratorValidator<DataBits>(
                              new wxTemplatePropertyValidator<SerialSettings, DataBits>(
                                  &mSettings, &SerialSettings::GetDataBits, &SerialSettings::SetDataBits, ""),
                              Data5, Data8));
    ASSERT_TRUE(dataBits->GetValidator()->TransferToWindow());
    EXPECT_EQ(4u, dataBits->GetCount());
    EXPECT_EQ(3, dataBits->GetSelection());
}

TEST_F(ValidatorDecoratorTest, FillingAListSendsNoTextEvent) {
    wxComboBox *combo = Combo();
    int events = 0;
    combo->Bind(wxEVT_TEXT, [&](wxCommandEvent &) { ++events; });
    SetValidatorAndDelete(combo,
                          new AllowedSetDecoratorValidator<BaudRate>(RateValidator(), StandardRates()));
    ASSERT_TRUE(combo->GetValidator()->TransferToWindow());
    ASSERT_TRUE(combo->GetValidator()->TransferToWindow());
    EXPECT_EQ("19200", combo->GetValue());
    EXPECT_EQ(0, events);
}

TEST_F(ValidatorDecoratorTest, AListDecoratorOnAnotherControlOnlyPassesTheValueOn) {
    wxTextCtrl *text = Text();
    SetValidatorAndDelete(text, new wxComboBoxDecoratorValidator<int>(AddressValidator(), 0, 30));
    ASSERT_TRUE(text->GetValidator()->TransferToWindow());
    EXPECT_EQ("5", text->GetValue());
}

// ---- Chains ------------------------------------------------------------------------------------------

TEST_F(ValidatorDecoratorTest, ACloneOfAChainOutlivesTheOriginalChain) {
    auto *original = new EnabledValidator(new wxRangeDecoratorValidator<int>(AddressValidator(), 0, 30));
    std::unique_ptr<wxObject> clone(original->Clone());
    delete original;
    auto *copy = dynamic_cast<EnabledValidator *>(clone.get());
    ASSERT_NE(nullptr, copy);
    auto *range = dynamic_cast<wxRangeDecoratorValidator<int> *>(copy->GetWrapped());
    ASSERT_NE(nullptr, range);
    EXPECT_NE(nullptr,
              (dynamic_cast<wxTemplatePropertyValidator<SerialSettings, int> *>(range->GetWrapped())));
    EXPECT_EQ("%d", copy->GetFormat()) << "a decorator takes its wrapped validator's format";
    wxTextCtrl *text = Text();
    copy->SetWindow(text);
    text->ChangeValue("31");
    EXPECT_FALSE(copy->Validate(mPanel));
    text->ChangeValue("30");
    EXPECT_TRUE(copy->Validate(mPanel));
}

TEST_F(ValidatorDecoratorTest, CopyTakesTheSourcesWindowChainAndFields) {
    wxTextCtrl *text = Text();
    wxRangeDecoratorValidator<int> source(AddressValidator(), 0, 3);
    source.SetWindow(text);
    wxRangeDecoratorValidator<int> target(AddressValidator(), 0, 30);
    EXPECT_TRUE(target.Copy(source));
    EXPECT_EQ(text, target.GetWindow());
    EXPECT_NE(source.GetWrapped(), target.GetWrapped());
    text->ChangeValue("4");
    EXPECT_FALSE(target.Validate(mPanel));
}

TEST_F(ValidatorDecoratorTest, ADecoratorWithoutWrappedValidatorRefusesEverything) {
    wxTextCtrl *text = Text();
    wxDecorator empty(nullptr);
    empty.SetWindow(text);
    EXPECT_FALSE(empty.Validate(mPanel));
    EXPECT_FALSE(empty.TransferToWindow());
    EXPECT_FALSE(empty.TransferFromWindow());
    std::unique_ptr<wxObject> clone(empty.Clone());
    EXPECT_EQ(nullptr, static_cast<wxDecorator *>(clone.get())->GetWrapped());
}
