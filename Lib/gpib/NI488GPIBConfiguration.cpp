// The GPIB address settings and their page.
#include "gpib/NI488GPIBConfiguration.h"

#include <limits>

#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/xrc/xmlres.h>

#include "core/ProgramSettingsDatabase.h"
#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "ui/wxCustomValidator.h"
#include "ui/wxDecorator.h"

namespace {

// Pushes the table for the life of the object.
class TableScope {
public:
    TableScope(ProgramSettingsDatabase &database, const std::string &sTable) : mDatabase(database) {
        mDatabase.PushTable(sTable.empty() ? NI488GPIBConfiguration::DefaultTable : sTable);
    }
    ~TableScope() { mDatabase.PopTable(); }
    TableScope(const TableScope &) = delete;
    TableScope &operator=(const TableScope &) = delete;

private:
    ProgramSettingsDatabase &mDatabase;
};

// An address number as stored; one beyond the int range stays out of range instead of wrapping
// round to another address (PriAdr=4294967301 is not instrument 5).
int ReadAddress(ProgramSettingsDatabase &database, const char *key, int nCurrent) {
    const double dStored = database.ReadDouble(key, nCurrent);
    if (dStored > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (dStored < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return database.ReadInt(key, nCurrent);
}

} // namespace

NI488GPIBConfiguration::NI488GPIBConfiguration(int nBoard, int nPrimaryAddress, int nSecondaryAddress)
    : mnBoard(nBoard), mnPrimaryAddress(nPrimaryAddress), mnSecondaryAddress(nSecondaryAddress) {}

NI488GPIBConfiguration::~NI488GPIBConfiguration() = default;

DWORD NI488GPIBConfiguration::GetWait() const {
    return mdwWait;
}

void NI488GPIBConfiguration::SetWait(DWORD dwWait) {
    mdwWait = dwWait;
}

DWORD NI488GPIBConfiguration::LoadProgramSettings(HostWindow,
                                                  std::shared_ptr<ProgramSettingsDatabase> &database,
                                                  const std::string &sTable) {
    if (!database)
        return 0;
    TableScope table(*database, sTable);
    mnBoard = ReadAddress(*database, "Board", mnBoard);
    mnPrimaryAddress = ReadAddress(*database, "PriAdr", mnPrimaryAddress);
    mnSecondaryAddress = ReadAddress(*database, "SecAdr", mnSecondaryAddress);
    mdwWait = database->ReadUnsigned("Wait", static_cast<unsigned int>(mdwDefaultWait));
    mbClear = database->ReadBool("Clear", mbClear);
    mbReaddress = database->ReadBool("Readdress", mbReaddress);
    if (mdwWait == 0 && mdwDefaultWait != 0)
        mdwWait = mdwDefaultWait;
    return 0;
}

DWORD NI488GPIBConfiguration::SaveProgramSettings(HostWindow,
                                                  std::shared_ptr<ProgramSettingsDatabase> &database,
                                                  const std::string &sTable) {
    if (!database)
        return 0;
    TableScope table(*database, sTable);
    database->WriteInt("Board", mnBoard);
    database->WriteInt("PriAdr", mnPrimaryAddress);
    database->WriteInt("SecAdr", mnSecondaryAddress);
    database->WriteUnsigned("Wait", static_cast<unsigned int>(mdwWait));
    database->WriteBool("Clear", mbClear);
    database->WriteBool("Readdress", mbReaddress);
    return 0;
}

std::string NI488GPIBConfiguration::GetIdentifier() const {
    return FormatString("GPIB:%d,%d,%d", mnBoard, mnPrimaryAddress, mnSecondaryAddress);
}

bool NI488GPIBConfiguration::IsValid() const {
    return mnPrimaryAddress != 0;
}

void NI488GPIBConfiguration::SetForcedWait(DWORD dwWait) {
    mdwDefaultWait = dwWait;
}

void NI488GPIBConfiguration::CopyFrom(const NI488GPIBConfiguration &other) {
    SetAddress(other.mnBoard, other.mnPrimaryAddress, other.mnSecondaryAddress);
    SetWait(other.GetWait());
    mbClear = other.mbClear;
    mbReaddress = other.mbReaddress;
}

void NI488GPIBConfiguration::SetAddress(int nBoard, int nPrimaryAddress, int nSecondaryAddress) {
    mnBoard = nBoard;
    mnPrimaryAddress = nPrimaryAddress;
    mnSecondaryAddress = nSecondaryAddress;
}

// ---- The page ------------------------------------------------------------------------------------

// clang-format off
wxBEGIN_EVENT_TABLE(NI488GPIBConfigurationDialog, ValidatorBasedPanel)
    EVT_INIT_DIALOG(NI488GPIBConfigurationDialog::OnInitDialog)
    EVT_CHECKBOX(XRCID("chkAdvancedConfiguration"), NI488GPIBConfigurationDialog::OnCheck)
wxEND_EVENT_TABLE()

NI488GPIBConfigurationDialog::NI488GPIBConfigurationDialog(NI488GPIBConfiguration *pConfiguration)
    : mConfiguration(pConfiguration) {}
// clang-format on

void NI488GPIBConfigurationDialog::OnInitDialog(wxInitDialogEvent &event) {
    QuellinEntry entry(L"NI488GPIBConfigurationDialog", L"OnInitDialog");
    entry.Log(QuellinLevelNote, QuellinDescription, L"User openened configuration dialog");
    using Configuration = NI488GPIBConfiguration;

    AttachValidator(
        this, "cboPrimaryAdress",
        new wxComboBoxDecoratorValidator<int>(
            new wxRangeDecoratorValidator<int>(new wxTemplatePropertyValidator<Configuration, int>(
                                                   mConfiguration, &Configuration::GetPrimaryAddress,
                                                   &Configuration::SetPrimaryAddress, "%d"),
                                               0, 30),
            0, 30));

    if (auto *secondary = dynamic_cast<wxComboBox *>(FindWindow("cboSecondaryAdress"))) {
        ComboBoxFilling filling(secondary);
        secondary->Clear();
        secondary->Append("0", new wxGenericClientData<int>(0));
        for (int nAddress = 96; nAddress <= 126; ++nAddress)
            secondary->Append(wxString::Format("%d", nAddress), new wxGenericClientData<int>(nAddress));
    }
    AttachValidator(
        this, "cboSecondaryAdress",
        new wxTemplatePropertyValidator<Configuration, int>(
            mConfiguration, &Configuration::GetSecondaryAddress, &Configuration::SetSecondaryAddress, "%d"));

    AttachValidator(this, "cboGPIBBoard",
                    new wxComboBoxDecoratorValidator<GPIBBoardNumbers>(
                        new wxTemplatePropertyValidator<Configuration, GPIBBoardNumbers>(
                            mConfiguration, &Configuration::GetBoard, &Configuration::SetBoard, "%d"),
                        GPIB0, GPIB3));

    AttachValidator(this, "txtGPIBDelay",
                    new wxTemplatePropertyValidator<Configuration, unsigned long>(
                        mConfiguration, &Configuration::GetWait, &Configuration::SetWait, "%lu"));
    AttachValidator(
        this, "ID_CLEARDEVICE",
        new wxTemplatePropertyValidator<Configuration, bool>(mConfiguration, &Configuration::GetClearDevice,
                                                             &Configuration::SetClearDevice, "%d"));
    AttachValidator(this, "ID_READDRESS",
                    new wxTemplatePropertyValidator<Configuration, bool>(
                        mConfiguration, &Configuration::GetReaddress, &Configuration::SetReaddress, "%d"));

    bool bAdvanced = false;
    if (mConfiguration != nullptr)
        bAdvanced = !(mConfiguration->GetWait() == 0 && mConfiguration->GetBoard() == 0 &&
                      mConfiguration->GetSecondaryAddress() == 0 && mConfiguration->GetClearDevice() &&
                      mConfiguration->GetReaddress());
    if (auto *check = dynamic_cast<wxCheckBox *>(FindWindow(AdvancedCheckBox)))
        check->SetValue(bAdvanced);
    EnableAdvancedItems(bAdvanced);
    event.Skip(true);
}

void NI488GPIBConfigurationDialog::OnCheck(wxCommandEvent &event) {
    if (auto *check = dynamic_cast<wxCheckBox *>(FindWindow(AdvancedCheckBox)))
        EnableAdvancedItems(check->IsChecked());
    event.Skip(true);
}

void NI488GPIBConfigurationDialog::EnableAdvancedItems(bool bEnable) {
    EnableControl(this, AdvancedGroup, bEnable);
}
