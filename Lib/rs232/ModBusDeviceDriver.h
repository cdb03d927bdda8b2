// The typed base of drivers that reach their instrument as a ModBus station on a serial port: its
// bus address and the port it talks through. Both are edited in the ModBusConfigurationDialog
// (beside it in Lib/rs232), whose port button opens this driver's RS-232 settings.
#pragma once

#include "rs232/RS232DeviceDriver.h"

class ModBusDeviceDriver : public RS232DeviceDriver {
public:
    unsigned char GetAddress() const { return mnAddress; }
    void SetAddress(unsigned char nAddress) { mnAddress = nAddress; }

private:
    unsigned char mnAddress = 1;
};
