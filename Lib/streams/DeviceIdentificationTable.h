// Recognisers of identification replies (the answer to "*IDN?"): each one tests a reply against
// one instrument family and, when it belongs to it, splits it into manufacturer, model, serial
// number and version. DeviceDetectionTable holds the seven recognisers in a fixed order; nothing in
// the drivers consults it yet.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/HostTypes.h"

namespace Identification {

// A reply that belongs to no family of the recogniser.
constexpr DWORD DeviceDetectionMismatch = 0x30000097;

struct DeviceDetection {
    std::string Manufacturer;
    std::string Model;
    std::string SerialNumber;
    std::string Version;

    // Each gives 0 and fills the record when the reply belongs to its family; otherwise
    // DeviceDetectionMismatch and an empty record.
    static DWORD DetectHollisk(const std::string &sReply, DeviceDetection &detection);
    static DWORD DetectOndrakel(const std::string &sReply, DeviceDetection &detection);
    static DWORD DetectEtsLindgren(const std::string &sReply, DeviceDetection &detection);
    static DWORD DetectEmModel(const std::string &sReply, DeviceDetection &detection);
    static DWORD DetectHewlettPackard(const std::string &sReply, DeviceDetection &detection);
    static DWORD DetectHaefely(const std::string &sReply, DeviceDetection &detection);
    static DWORD DetectMulticompPro(const std::string &sReply, DeviceDetection &detection);
};

} // namespace Identification

using DeviceRecogniser = std::function<DWORD(const std::string &, Identification::DeviceDetection &)>;

// Hollisk, Ondrakel, ETS-Lindgren, EM models, Hewlett Packard, Haefely, Multicomp Pro.
extern const std::vector<DeviceRecogniser> DeviceDetectionTable;
