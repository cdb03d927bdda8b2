// The TCP stream kind "TCPIP" and its registration.
#include "streams/etherds/EthernetDeviceStream.h"

EthernetDeviceStream::EthernetDeviceStream() : NetworkBasedDeviceStream(EthernetStreamKind) {}

EthernetDeviceStreamConfig::EthernetDeviceStreamConfig()
    : NetworkBasedDeviceStreamConfig(EthernetStreamKind, "192.168.13.89", 7895) {}

std::string EthernetDeviceStreamConfig::GetIdentifier() {
    return "ETHER:" + GetAddress();
}

std::shared_ptr<DeviceStreamConfiguration> EthernetDeviceStreamConfig::Copy() const {
    return std::make_shared<EthernetDeviceStreamConfig>(*this);
}

namespace {
const StreamTypeRegistrar gEthernetStream(EthernetStreamKind, &CreateStreamOf<EthernetDeviceStream>);
const StreamTypeRegistrar gEthernetConfiguration(EthernetStreamKind,
                                                 &CreateConfigurationOf<EthernetDeviceStreamConfig>);
} // namespace
