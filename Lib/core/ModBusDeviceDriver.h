// The typed base of drivers that reach their instrument as a ModBus station: its bus address,
// edited in the ModBusConfigurationDialog (Lib/ui).
#pragma once

class ModBusDeviceDriver {
public:
    virtual ~ModBusDeviceDriver() = default;

    unsigned char GetAddress() const { return mnAddress; }
    void SetAddress(unsigned char nAddress) { mnAddress = nAddress; }

private:
    unsigned char mnAddress = 1;
};
