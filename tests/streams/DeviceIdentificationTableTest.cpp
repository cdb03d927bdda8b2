// Identification replies through every recogniser of the table: the one family that claims a
// reply fills the record, every other one answers the mismatch code with an empty record.
#include <gtest/gtest.h>

#include "streams/DeviceIdentificationTable.h"

namespace {

using Identification::DeviceDetection;

struct ReplyCase {
    const char *Reply;
    int Family; // index into the table; -1 when no family claims the reply
    DeviceDetection Expected;
};

const ReplyCase Cases[] = {
    {"Pontis Hollisk 2.4.1\n", 0, {"Pontis", "Hollisk", "", "2.4.1"}},
    {"Pontis HOLLISK rev b 3.0", 0, {"Pontis", "HOLLISK", "", "3.0"}},
    {"Pontis Hollisk", -1, {}},
    {"Ondr-20, Version 1.7 ", 1, {"Ondrakel", "Ondr-20", "", "1.7"}},
    {"ondr-20,version", -1, {}},
    {"Ondr-20,1.7,x", -1, {}},
    {"  ETS-Lindgren EMCenter 7000 v2.1", 2, {"ETS-Lindgren", "EMCenter", "", "v2.1"}},
    {"ETS Lindgren emcenter 1.0", 2, {"ETS-Lindgren", "emcenter", "", "1.0"}},
    {"ETS-Lindgren EMCenter", -1, {}},
    {"Acme, EM-3000 ,Version 4.2", 3, {"Acme", "EM-3000", "", "4.2"}},
    {"Acme,EM-3000,version", -1, {}},
    {"HP1234A", 4, {"Hewlett Packard", "1234A", "", ""}},
    {"HP1234", -1, {}},
    {"HP1234A,1,2", -1, {}},
    {"hp1234A", -1, {}},
    {"Haefely,AXOS,1.5,x,y", 5, {"Haefely", "AXOS", "", "1.5"}},
    {"Haefely Test AG, axos8 ,2.0,a,b,c", 5, {"Haefely", "axos8", "", "2.0"}},
    {"Haefely,AXOS,1.5,x", -1, {}},
    {"multicomp pro,MP710086,SN0042,FV1.3,extra", 6, {"multicomp pro", "MP710086", "SN0042", "FV1.3"}},
    {"multicomp pro,MP710086,SN0042,FV1.3", -1, {}},
    {"ACME,MODEL 7,123,1.0", -1, {}},
};

TEST(DeviceDetectionTable, OnlyTheReplysFamilyClaimsItAndEveryOtherLeavesAnEmptyRecord) {
    ASSERT_EQ(7u, DeviceDetectionTable.size());
    for (const ReplyCase &test : Cases) {
        for (size_t family = 0; family < DeviceDetectionTable.size(); ++family) {
            // A record left over from an earlier reply must not survive a mismatch.
            DeviceDetection detection{"old maker", "old model", "old serial", "old version"};
            const DWORD result = DeviceDetectionTable[family](test.Reply, detection);
            const bool bClaims = static_cast<int>(family) == test.Family;
            const DeviceDetection expected = bClaims ? test.Expected : DeviceDetection{};
            EXPECT_EQ(bClaims ? 0u : 0x30000097u, result) << test.Reply << " family " << family;
            EXPECT_EQ(expected.Manufacturer, detection.Manufacturer) << test.Reply << " family " << family;
            EXPECT_EQ(expected.Model, detection.Model) << test.Reply << " family " << family;
            EXPECT_EQ(expected.SerialNumber, detection.SerialNumber) << test.Reply << " family " << family;
            EXPECT_EQ(expected.Version, detection.Version) << test.Reply << " family " << family;
        }
    }
}

} // namespace
