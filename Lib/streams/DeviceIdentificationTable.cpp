// The seven recognisers of identification replies and their table.
#include "streams/DeviceIdentificationTable.h"

#include <regex>

#include "core/StringUtils.h"

namespace Identification {

namespace {

// Empty fields stay; a last field only when it is not empty.
std::vector<std::string> SplitFields(const std::string &sText, char separator) {
    std::vector<std::string> fields;
    SplitString(sText, fields, std::string(1, separator), true);
    return fields;
}

// Lower-cased, every "version" removed, trimmed.
std::string VersionText(const std::string &sField) {
    return TrimDefault(ReplaceAll(ToLower(sField), "version", ""));
}

bool SearchExtended(const std::string &sText, const char *pattern, bool bIgnoreCase,
                    std::smatch *match = nullptr) {
    auto flags = std::regex::extended;
    if (bIgnoreCase)
        flags |= std::regex::icase;
    std::smatch local;
    return std::regex_search(sText, match != nullptr ? *match : local, std::regex(pattern, flags));
}

// Empties the record; the result every recogniser gives for a reply of another family.
DWORD Mismatch(DeviceDetection &detection) {
    detection = DeviceDetection{};
    return DeviceDetectionMismatch;
}

} // namespace

DWORD DeviceDetection::DetectHollisk(const std::string &sReply, DeviceDetection &detection) {
    const std::vector<std::string> fields = SplitFields(sReply, ' ');
    if (fields.size() < 3)
        return Mismatch(detection);
    detection.Model = TrimDefault(fields[1]);
    if (CompareStrings(detection.Model, "Hollisk", true) != 0)
        return Mismatch(detection);
    detection.Manufacturer = TrimDefault(fields[0]);
    detection.SerialNumber.clear();
    detection.Version = TrimDefault(fields.back());
    return 0;
}

DWORD DeviceDetection::DetectOndrakel(const std::string &sReply, DeviceDetection &detection) {
    const std::vector<std::string> fields = SplitFields(sReply, ',');
    if (fields.size() != 2)
        return Mismatch(detection);
    detection.Model = TrimDefault(fields[0]);
    if (!StartsWith(detection.Model, "ondr", true))
        return Mismatch(detection);
    detection.Version = VersionText(fields[1]);
    if (detection.Version.empty())
        return Mismatch(detection);
    detection.Manufacturer = "Ondrakel";
    detection.SerialNumber.clear();
    return 0;
}

DWORD DeviceDetection::DetectEtsLindgren(const std::string &sReply, DeviceDetection &detection) {
    std::smatch match;
    if (!SearchExtended(sReply, "^[ ]*ETS[ -]Lindgren[ ]+(.*)", true, &match))
        return Mismatch(detection);
    const std::vector<std::string> fields = SplitFields(match[1].str(), ' ');
    if (fields.size() < 2)
        return Mismatch(detection);
    detection.Model = TrimDefault(fields[0]);
    if (CompareStrings(detection.Model, "emcenter", true) != 0)
        return Mismatch(detection);
    detection.Manufacturer = "ETS-Lindgren";
    detection.SerialNumber.clear();
    detection.Version = TrimDefault(fields.back());
    return 0;
}

DWORD DeviceDetection::DetectEmModel(const std::string &sReply, DeviceDetection &detection) {
    const std::vector<std::string> fields = SplitFields(sReply, ',');
    if (fields.size() != 3)
        return Mismatch(detection);
    detection.Manufacturer = TrimDefault(fields[0]);
    detection.Model = TrimDefault(fields[1]);
    if (!StartsWith(detection.Model, "em", true))
        return Mismatch(detection);
    detection.Version = VersionText(fields[2]);
    if (detection.Version.empty())
        return Mismatch(detection);
    detection.SerialNumber.clear();
    return 0;
}

DWORD DeviceDetection::DetectHewlettPackard(const std::string &sReply, DeviceDetection &detection) {
    std::smatch match;
    if (sReply.find(',') != std::string::npos || !StartsWith(sReply, "HP", false) ||
        !SearchExtended(sReply, "^HP([0-9]{4}[A-Z])$", false, &match))
        return Mismatch(detection);
    detection.Manufacturer = "Hewlett Packard";
    detection.Model = match[1].str();
    detection.SerialNumber.clear();
    detection.Version.clear();
    return 0;
}

DWORD DeviceDetection::DetectHaefely(const std::string &sReply, DeviceDetection &detection) {
    const std::vector<std::string> fields = SplitFields(sReply, ',');
    if (fields.size() < 5 || !SearchExtended(TrimDefault(fields[0]), "^Haefely.*", false))
        return Mismatch(detection);
    detection.Manufacturer = "Haefely";
    detection.Model = TrimDefault(fields[1]);
    if (!SearchExtended(detection.Model, "AXOS", true))
        return Mismatch(detection);
    detection.Version = TrimDefault(fields[2]);
    detection.SerialNumber.clear();
    return 0;
}

DWORD DeviceDetection::DetectMulticompPro(const std::string &sReply, DeviceDetection &detection) {
    static const char *const AcceptedManufacturers[] = {"multicomp pro"};
    const std::vector<std::string> fields = SplitFields(sReply, ',');
    if (fields.size() < 5)
        return Mismatch(detection);
    const std::string sManufacturer = TrimDefault(fields[0]);
    bool bAccepted = false;
    for (const char *pattern : AcceptedManufacturers)
        bAccepted = bAccepted || SearchExtended(sManufacturer, pattern, false);
    if (!bAccepted)
        return Mismatch(detection);
    detection.Manufacturer = sManufacturer;
    detection.Model = TrimDefault(fields[1]);
    detection.SerialNumber = TrimDefault(fields[2]);
    detection.Version = TrimDefault(fields[3]);
    return 0;
}

} // namespace Identification

const std::vector<DeviceRecogniser> DeviceDetectionTable = {
    &Identification::DeviceDetection::DetectHollisk,        &Identification::DeviceDetection::DetectOndrakel,
    &Identification::DeviceDetection::DetectEtsLindgren,    &Identification::DeviceDetection::DetectEmModel,
    &Identification::DeviceDetection::DetectHewlettPackard, &Identification::DeviceDetection::DetectHaefely,
    &Identification::DeviceDetection::DetectMulticompPro};
