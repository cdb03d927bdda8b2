// The TCP stream of kind "TCPIP": the network base over a wxSocketClient, and its configuration
// (table "Ethernet", identifier "ETHER:" + address, defaults 192.168.13.89:7895).
#pragma once

#include "streams/etherds/NetworkBasedDeviceStream.h"

inline constexpr const char *EthernetStreamKind = "TCPIP";

class EthernetDeviceStream : public NetworkBasedDeviceStream {
public:
    EthernetDeviceStream();
};

class EthernetDeviceStreamConfig : public NetworkBasedDeviceStreamConfig {
public:
    EthernetDeviceStreamConfig();
    std::string GetIdentifier() override;
    std::shared_ptr<DeviceStreamConfiguration> Copy() const override;
};
