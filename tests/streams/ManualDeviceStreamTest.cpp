// The manual stream: what the operator is shown, what a read gives, the client contract and the
// configuration that every manual driver shares.
#include <gtest/gtest.h>

#include "core/PanelResourceName.h"
#include "platform/MessageBox.h"
#include "streams/DeviceStreamConfigurationManager.h"
#include "streams/ManualDeviceStream.h"
#include "streams/etherds/EthernetDeviceStream.h"
#include "support/TestSupport.h"

namespace {

// Stand-ins for two drivers: the stream only keeps their addresses.
int gFirstDriver, gSecondDriver;
DeviceStreamClient *const FirstClient = reinterpret_cast<DeviceStreamClient *>(&gFirstDriver);
DeviceStreamClient *const SecondClient = reinterpret_cast<DeviceStreamClient *>(&gSecondDriver);
HostWindow const HostHandle = reinterpret_cast<HostWindow>(0x1234);

TEST(ManualDeviceStream, WriteShowsTheCommandWithItsTerminationToTheOperator) {
    struct Case {
        const char *Command;
        bool bTermination;
        const wchar_t *Shown;
    } const cases[] = {{"FREQ 1GHz", true, L"FREQ 1GHz\n"},
                       {"FREQ 1GHz\n", true, L"FREQ 1GHz\n"},
                       {"FREQ 1GHz", false, L"FREQ 1GHz"},
                       {"", true, L"\n"}};
    for (const Case &test : cases) {
        TestSupport::MessageBoxRecorder recorder;
        ManualDeviceStream stream;
        stream.SetWriteTermination(nullptr, "\n", test.bTermination);
        EXPECT_EQ(0u, stream.Write(HostHandle, test.Command, true));
        ASSERT_EQ(1u, recorder.Boxes.size()) << test.Command;
        EXPECT_EQ(test.Shown, recorder.Boxes[0].Text);
        EXPECT_EQ(L"Manual instructions", recorder.Boxes[0].Caption);
        EXPECT_EQ(0x40u, recorder.Boxes[0].Style);
        EXPECT_EQ(HostHandle, recorder.Boxes[0].Window);
    }
}

// No display and no sink: the operator never sees the instruction, which must not pass as done.
TEST(ManualDeviceStream, WriteFailsWhenTheOperatorCannotBeShownTheBox) {
    TestSupport::ScopedEnv interactive("KORVALIS_NONINTERACTIVE", "0");
    ManualDeviceStream stream;
    EXPECT_EQ(StreamResult::OperatorInstructionsNotShown, stream.Write(nullptr, "FREQ 1GHz", false));
    char text[100] = "x";
    uint32_t length = 0;
    EXPECT_EQ(0u, stream.GetErrorString(nullptr, StreamResult::OperatorInstructionsNotShown, text,
                                        sizeof text, &length));
    EXPECT_STREQ("The manual instructions could not be shown to the operator.", text);
}

TEST(ManualDeviceStream, ReadGivesNothingAndLeavesTheResponseAsItWas) {
    ManualDeviceStream stream;
    for (const DWORD count : {0ul, 1ul, 500000ul}) {
        std::string empty, kept = "kept";
        EXPECT_EQ(0u, stream.Read(nullptr, empty, count));
        EXPECT_EQ(0u, stream.Read(nullptr, kept, count));
        EXPECT_EQ("", empty);
        EXPECT_EQ("kept", kept);
    }
}

TEST(ManualDeviceStream, AnyConfigurationConnectsAndNamesTheLock) {
    ManualDeviceStream stream;
    EXPECT_EQ(0u, stream.Connect(nullptr, std::make_shared<EthernetDeviceStreamConfig>(), FirstClient));
    EXPECT_TRUE(stream.IsConnected());
    EXPECT_EQ(L"Global\\KORVALIS:DS:ETHER:TCPIP://192.168.13.89:7895", stream.GetLockName());
    EXPECT_EQ(0u, stream.Disconnect(nullptr, FirstClient));

    ManualDeviceStream manual;
    EXPECT_EQ(0u, manual.Connect(nullptr, std::make_shared<ManualDeviceStreamConfiguration>(), FirstClient));
    EXPECT_EQ(L"Global\\KORVALIS:DS:MANUAL", manual.GetLockName());
    EXPECT_EQ(0u, manual.Disconnect(nullptr, FirstClient));
}

TEST(ManualDeviceStream, TheLastClientsDisconnectClosesIt) {
    ManualDeviceStream stream;
    auto configuration = std::make_shared<ManualDeviceStreamConfiguration>();
    EXPECT_EQ(0u, stream.Connect(nullptr, configuration, FirstClient));
    EXPECT_EQ(0u, stream.Connect(nullptr, configuration, SecondClient));
    EXPECT_EQ(2u, stream.GetClientCount());
    EXPECT_EQ(0u, stream.Disconnect(nullptr, FirstClient));
    EXPECT_TRUE(stream.IsConnected());
    EXPECT_TRUE(stream.HasSingleClient());
    EXPECT_EQ(0u, stream.Disconnect(nullptr, SecondClient));
    EXPECT_FALSE(stream.IsConnected());
}

TEST(ManualDeviceStreamConfiguration, EveryManualConfigurationIsTheSameConnection) {
    auto first = std::make_shared<ManualDeviceStreamConfiguration>();
    auto second = std::make_shared<ManualDeviceStreamConfiguration>();
    auto tcp = std::make_shared<EthernetDeviceStreamConfig>();
    EXPECT_EQ("MANUAL", first->GetIdentifier());
    EXPECT_TRUE(first->IsValid());
    EXPECT_FALSE(first->LessThan(second));
    EXPECT_FALSE(second->LessThan(first));
    EXPECT_TRUE(first->LessThan(tcp)); // "Manual" < "TCPIP"
    EXPECT_FALSE(first->LessThan(nullptr));

    TestSupport::MessageBoxRecorder recorder;
    EXPECT_EQ(0u, first->ShowConfigurationDialog(HostHandle, L"Signal generator"));
    ASSERT_EQ(1u, recorder.Boxes.size());
    EXPECT_EQ(L"This Device Driver cannot be configured", recorder.Boxes[0].Text);
    EXPECT_EQ(L"Signal generator", recorder.Boxes[0].Caption);
    EXPECT_EQ(0x40u, recorder.Boxes[0].Style);

    PanelResourceNameList pages;
    EXPECT_EQ(0u, first->AddConfigurationDialogPanels(nullptr, pages));
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ("NoConfig", pages[0]->GetResourceName());
    EXPECT_EQ("Manual", pages[0]->GetTitle());
    delete pages[0]->GetPanel();
}

TEST(ManualDeviceStream, TheKindIsRegistered) {
    std::unique_ptr<WriteReadDeviceStream> stream(CreateStream("Manual"));
    EXPECT_NE(nullptr, dynamic_cast<ManualDeviceStream *>(stream.get()));
    std::unique_ptr<DeviceStreamConfiguration> configuration(CreateConfiguration("Manual"));
    ASSERT_NE(nullptr, configuration);
    EXPECT_EQ("Manual", configuration->GetIDString());
}

// An empty list of supported kinds offers every registered kind, the manual one included.
TEST(ManualDeviceStream, AnEmptySupportedListOffersTheManualKind) {
    DeviceStreamConfigurationManager everything;
    everything.SetSupportedStreams("");
    EXPECT_EQ(GetRegisteredKinds().size(), everything.GetConfigurations().size());
    ASSERT_TRUE(everything.FindConfiguration("Manual"));
    EXPECT_EQ("MANUAL", everything.FindConfiguration("Manual")->GetIdentifier());

    DeviceStreamConfigurationManager named;
    named.SetSupportedStreams("TCPIP");
    EXPECT_FALSE(named.FindConfiguration("Manual"));
}

} // namespace
