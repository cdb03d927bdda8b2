// The serial port settings page: one validator per control, bound on the init event.
#include "rs232/RS232ConfigurationPanel.h"

#include <memory>
#include <set>

#include "rs232/RS232Configuration.h"
#include "ui/wxCustomValidator.h"
#include "ui/wxDecorator.h"

// clang-format off
wxBEGIN_EVENT_TABLE(RS232ConfigurationPanel, ValidatorBasedPanel)
    EVT_INIT_DIALOG(RS232ConfigurationPanel::OnInitDialog)
wxEND_EVENT_TABLE()

RS232ConfigurationPanel::RS232ConfigurationPanel(RS232Configuration *configuration)
    : mConfiguration(configuration) {}
// clang-format on

void RS232ConfigurationPanel::OnInitDialog(wxInitDialogEvent &event) {
    using Configuration = RS232Configuration;
    Configuration *configuration = mConfiguration;
    AttachValidator(this, "ID_COMPORT",
                    new wxTemplatePropertyValidator<Configuration, int>(
                        configuration, &Configuration::GetCOMPort,
                        static_cast<void (Configuration::*)(int)>(&Configuration::SetCOMPort), "%d"));
    AttachValidator(this, "ID_PARITY",
                    new wxComboBoxDecoratorValidator<Parity>(
                        new wxTemplatePropertyValidator<Configuration, Parity>(
                            configuration, &Configuration::GetParity, &Configuration::SetParity, "%s"),
                        None, Space));
    const auto allowed = std::make_shared<std::set<BaudRate>>(
        configuration != nullptr ? configuration->GetAllowedBaudRates() : std::set<BaudRate>());
    AttachValidator(this, "ID_BAUDRATE",
                    new AllowedSetDecoratorValidator<BaudRate>(
                        new wxTemplatePropertyValidator<Configuration, BaudRate>(
                            configuration, &Configuration::GetBaudRate, &Configuration::SetBaudRate, "%s"),
                        allowed));
    AttachValidator(this, "ID_DATABITS",
                    new wxComboBoxDecoratorValidator<DataBits>(
                        new wxTemplatePropertyValidator<Configuration, DataBits>(
                            configuration, &Configuration::GetDataBits, &Configuration::SetDataBits, "%s"),
                        Data5, Data8));
    AttachValidator(this, "ID_STOPBITS",
                    new wxComboBoxDecoratorValidator<StopBits>(
                        new wxTemplatePropertyValidator<Configuration, StopBits>(
                            configuration, &Configuration::GetStopBits, &Configuration::SetStopBits, "%s"),
                        Stop1, Stop2));
    const bool bKnown = configuration != nullptr;
    EnableControl(this, "ID_PARITY", bKnown && configuration->GetParityEditable());
    EnableControl(this, "ID_BAUDRATE", bKnown && configuration->GetBaudRateEditable());
    EnableControl(this, "ID_DATABITS", bKnown && configuration->GetDataBitsEditable());
    EnableControl(this, "ID_STOPBITS", bKnown && configuration->GetStopBitsEditable());
    // The panel's own handling then fills the controls.
    event.Skip(true);
}
