// Binding of GPIB-32.DLL and GPIBSRQ.DLL: the installed-version check through the registry and the
// library's version block, libraries that are missing or lack entry points, GPIBSRQ.DLL found
// beside the plug-in by a GPIB stream of the loaded plug-in, and the timing store.
#include "gpib/NI4882MLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "core/DriverRecords.h"
#include "gpib/GPIBResultCodes.h"
#include "gpib/GpibStandIns.h"
#include "logging/RecordTable.h"
#include "streams/DeviceStreamClient.h"
#include "support/PluginImage.h"

namespace {
std::atomic<bool> gRefuseUnload{false};

class NI4882MLibraryTest : public GpibStandInTest {
protected:
    // A library folder of its own: "GPIB-32.DLL" is the stand-in (or its incomplete twin) with an
    // optional version block; the service-request library (the built one or a stand-in) only when
    // asked for.
    void UseLibraries(const std::string &versionBlock, bool withSrq, const char *gpibFile = "libgpib-32.so",
                      const char *srqFile = "libgpibsrq.so") {
        const std::string standIns = StandIns::Directory();
        std::filesystem::create_symlink(standIns + "/" + gpibFile, mFolder.File("libgpib-32.so"));
        if (!versionBlock.empty())
            TestSupport::WriteFile(mFolder.File("libgpib-32.so.version"),
                                   "[StringFileInfo]\n" + versionBlock);
        const std::string srqFolder = std::string(srqFile) == "libgpibsrq.so"
                                          ? standIns.substr(0, standIns.find_last_of('/')) + "/plugin"
                                          : standIns;
        if (withSrq)
            std::filesystem::create_symlink(srqFolder + "/" + srqFile, mFolder.File("libgpibsrq.so"));
        mPath = std::make_unique<TestSupport::ScopedEnv>("KORVALIS_LIBRARY_PATH", mFolder.Path());
    }
    void UseRegistry(const std::string &content) {
        TestSupport::WriteFile(mFolder.File("registry.ini"), content);
        mRegistryFile =
            std::make_unique<TestSupport::ScopedEnv>("KORVALIS_REGISTRY", mFolder.File("registry.ini"));
    }

    TestSupport::TempDir mFolder;
    std::unique_ptr<TestSupport::ScopedEnv> mPath;
    std::unique_ptr<TestSupport::ScopedEnv> mRegistryFile;
};

const char *const NI = "[HKEY_LOCAL_MACHINE\\Software\\National Instruments\\NI-488.2M]\n";
const char *const Agilent = "[HKEY_LOCAL_MACHINE\\Software\\Agilent\\IO Libraries\\CurrentVersion]\n";

TEST_F(NI4882MLibraryTest, InstalledVersionDecides) {
    const struct {
        const char *Title;
        std::string Registry;
        std::string VersionBlock;
        DWORD Result;
    } cases[] = {
        {"nothing installed", "", "", 0},
        {"NI 15", std::string(NI) + "MajorVersion=dword:15\nMinorVersion=dword:0\nCurrentVersion=15.0\n", "",
         0},
        {"NI 14", std::string(NI) + "MajorVersion=dword:14\nMinorVersion=dword:2\n", "",
         GPIBResult::NI4882MOld},
        {"NI 3", std::string(NI) + "MajorVersion=dword:3\n", "", GPIBResult::NI4882MOld},
        {"NI 2", std::string(NI) + "MajorVersion=dword:2\n", "", GPIBResult::NI4882MTooOld},
        {"NI key without version", std::string(NI) + "Other=1\n", "", GPIBResult::NI4882MTooOld},
        {"Agilent registered", std::string(NI) + "MajorVersion=dword:2\n" + Agilent + "CurrentVersion=17.1\n",
         "", 0},
        {"Agilent enabled", std::string(NI) + "MajorVersion=dword:2\n" + Agilent + "Agilent488Enabled=True\n",
         "", 0},
        {"Keysight library", std::string(NI) + "MajorVersion=dword:2\n",
         "CompanyName=Keysight Technologies\n", 0},
        {"NI library beats Agilent registry",
         std::string(NI) + "MajorVersion=dword:14\n" + Agilent + "CurrentVersion=17.1\n",
         "CompanyName=National Instruments Corporation\n", GPIBResult::NI4882MOld},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Title);
        TestSupport::TempDir folder;
        TestSupport::WriteFile(folder.File("registry.ini"), c.Registry);
        TestSupport::ScopedEnv registry("KORVALIS_REGISTRY",
                                        c.Registry.empty() ? "" : folder.File("registry.ini"));
        std::filesystem::create_symlink(StandIns::Directory() + "/libgpib-32.so",
                                        folder.File("libgpib-32.so"));
        if (!c.VersionBlock.empty())
            TestSupport::WriteFile(folder.File("libgpib-32.so.version"),
                                   "[StringFileInfo]\n" + c.VersionBlock);
        TestSupport::ScopedEnv path("KORVALIS_LIBRARY_PATH", folder.Path() + ":" + StandIns::Directory());
        NI4882MLibrary library;
        EXPECT_EQ(c.Result, library.CheckNI4882MVersion());
        // A refused installation loads nothing.
        EXPECT_EQ(c.Result, library.LoadGPIB32DLLs());
        EXPECT_EQ(c.Result == 0, library.IsLoaded());
    }
}

TEST_F(NI4882MLibraryTest, LibraryWithoutAnEntryPointIsNotKept) {
    UseLibraries("", true, "libgpib-32-incomplete.so");
    NI4882MLibrary library;
    EXPECT_EQ(Platform::EntryPointNotFound, library.LoadGPIB32DLLs());
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(0, library.CallThreadIbsta());
    EXPECT_EQ(Platform::EntryPointNotFound, library.LoadGPIB32DLLs());
    EXPECT_EQ(GPIBResult::BoardOutOfRange, library.FindBoard(nullptr, 7));
    EXPECT_EQ(GPIBResult::GPIB32NotLoaded, library.FindBoard(nullptr, 0));
}

class NI4882MLibraryWithoutSRQTest : public NI4882MLibraryTest {
protected:
    NI4882MLibraryWithoutSRQTest() { mWithServiceRequests = false; }
};

TEST_F(NI4882MLibraryWithoutSRQTest, MissingServiceRequestLibraryFailsEveryLoad) {
    UseLibraries("", false);
    {
        Platform::DynamicLibrary probe;
        if (probe.Load("GPIBSRQ.DLL"))
            GTEST_SKIP() << "an earlier test of this process loaded GPIBSRQ.DLL (" << probe.FilePath()
                         << "); it cannot be unloaded";
    }
    NI4882MLibrary library;
    EXPECT_EQ(GPIBResult::SRQLibraryNotLoaded, library.LoadGPIB32DLLs());
    EXPECT_TRUE(library.IsLoaded());
    ClearTrace();
    {
        // Again only the service-request library is tried: GPIB-32.DLL is not bound anew.
        DriverRecords records;
        EXPECT_EQ(GPIBResult::SRQLibraryNotLoaded, library.LoadGPIB32DLLs());
        EXPECT_EQ(
            (std::vector<std::string>{"B LoadGPIBSRQDLL Note", "E LoadGPIBSRQDLL Error | Err=0x30000246"}),
            RecordTable::Rows(records.Take(), GPIBLogModule));
        EXPECT_TRUE(Trace().empty());
    }
    EXPECT_EQ(0u, library.UnloadGPIB32DLLs());
    EXPECT_FALSE(library.IsLoaded());
    GPIBSRQLibrary srq;
    EXPECT_EQ(GPIBResult::SRQLibraryNotLoaded, srq.LoadGPIBSRQDLL());
    uint32_t registration = 0;
    EXPECT_EQ(GPIBResult::SRQEntryPointMissing,
              srq.RegisterSRQHandler(nullptr, 0, 5, 0, nullptr, nullptr, &registration));
    EXPECT_EQ(GPIBResult::SRQEntryPointMissing, srq.UnRegisterSRQHandler(nullptr, 1));
    EXPECT_EQ(GPIBResult::SRQEntryPointMissing, srq.SetExpectingSRQ(nullptr, 1));
    EXPECT_EQ(0u, srq.GetLastGPIBError(nullptr, 1));
}

// Installed, the plug-in finds GPIBSRQ.DLL beside its real file when no folder of the library path
// holds it: a GPIB stream of the plug-in, loaded through a link as a host's folder may hold it,
// connects and answers. No export reaches a stream, so the plug-in's registries are found in its
// symbol table. Runs again in a process of its own, where nothing loaded the library before (the
// loader would find a loaded one by its name).
TEST_F(NI4882MLibraryWithoutSRQTest, ThePluginFindsTheServiceRequestLibraryBesideItsFile) {
    const std::string test =
        "NI4882MLibraryWithoutSRQTest.ThePluginFindsTheServiceRequestLibraryBesideItsFile";
    if (TestSupport::RunnerEnv("KORVALIS_GPIB_CHILD").empty()) {
        char self[4096] = {};
        ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
        TestSupport::ScopedEnv child("KORVALIS_GPIB_CHILD", "1");
        const auto run =
            TestSupport::RunProcess({self, "--gtest_filter=" + test}, "", std::chrono::seconds(60));
        ASSERT_EQ(0, run.ExitCode) << run.Output;
        EXPECT_NE(std::string::npos, run.Output.find("[       OK ] " + test)) << run.Output;
        return;
    }
    UseLibraries("", false);
    ASSERT_EQ(nullptr, dlopen("libgpibsrq.so", RTLD_NOW | RTLD_NOLOAD)) << "loaded before the plug-in";
    AddInstrument(0, 1, 0, "ACME,DMM,1,2"); // the address of a new GPIB configuration
    const std::string plugin = TestSupport::RunnerEnv("KORVALIS_PLUGIN");
    ASSERT_FALSE(plugin.empty()) << "KORVALIS_PLUGIN is not set";
    std::filesystem::create_symlink(plugin, mFolder.File("PontisPecos.so"));
    // Kept loaded until the process ends, as a host keeps its plug-in.
    static const PluginImage *loaded = new PluginImage(mFolder.File("PontisPecos.so"));
    const PluginImage &image = *loaded;
    ASSERT_TRUE(image.IsLoaded()) << plugin;
    auto *createStream =
        image.Inside<WriteReadDeviceStream *(const std::string &)>(PluginImage::CreateStreamSymbol);
    auto *createConfiguration =
        image.Inside<PluginImage::CreateConfigurationFunction>(PluginImage::CreateConfigurationSymbol);
    ASSERT_TRUE(createStream != nullptr && createConfiguration != nullptr);
    const std::unique_ptr<WriteReadDeviceStream> stream(createStream("GPIB"));
    DeviceStreamClient client;
    ASSERT_EQ(0u, stream->Connect(nullptr, createConfiguration("GPIB"), &client));
    std::string reply;
    DWORD count = 100;
    EXPECT_EQ(0u, stream->WriteRead(nullptr, "*IDN?", reply, count, 1));
    EXPECT_EQ("ACME,DMM,1,2\n", reply);
    EXPECT_EQ(0u, stream->Disconnect(nullptr, &client));
}

TEST_F(NI4882MLibraryTest, ALibraryThatCannotBeFreedStaysBound) {
    struct Refusal {
        Refusal() { gRefuseUnload = true; }
        ~Refusal() { gRefuseUnload = false; }
    };
    NI4882MLibrary library;
    ASSERT_EQ(0u, library.LoadGPIB32DLLs());
    {
        Refusal refusal;
        EXPECT_EQ(GPIBResult::LibraryNotFreed, library.GetTimingLibrary().UnloadGPIBSRQDLL());
        EXPECT_EQ(GPIBResult::LibraryNotFreed, library.UnloadGPIB32DLLs());
    }
    EXPECT_TRUE(library.IsLoaded());
    EXPECT_TRUE(library.GetTimingLibrary().IsLoaded());
    // Still bound: the calls reach the library.
    EXPECT_EQ(0u, library.FindBoard(nullptr, 0));
    EXPECT_NE(0, library.CallThreadIbsta());
    EXPECT_EQ(0u, library.UnloadGPIB32DLLs());
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_FALSE(library.GetTimingLibrary().IsLoaded());
}

TEST_F(NI4882MLibraryTest, TimingFallbackHoldsThePairWithinTheProcess) {
    UseLibraries("", true, "libgpib-32.so", "libgpibsrq-notiming.so");
    GPIBSRQLibrary first;
    GPIBSRQLibrary second;
    ASSERT_EQ(0u, first.LoadGPIBSRQDLL());
    ASSERT_EQ(0u, second.LoadGPIBSRQDLL());
    const uint32_t delay = 2000;
    const uint64_t counter = 123456789;
    EXPECT_EQ(0u, first.SetLastTimingInformation(&delay, &counter));
    uint32_t readDelay = 0;
    uint64_t readCounter = 0;
    EXPECT_EQ(0u, second.GetLastTimingInformation(&readDelay, &readCounter));
    EXPECT_EQ(delay, readDelay);
    EXPECT_EQ(counter, readCounter);
    const uint32_t newDelay = 5;
    EXPECT_EQ(GPIBResult::NullArgument, first.SetLastTimingInformation(&newDelay, nullptr));
    readDelay = 0;
    EXPECT_EQ(GPIBResult::NullArgument, second.GetLastTimingInformation(&readDelay, nullptr));
    EXPECT_EQ(newDelay, readDelay);
    const uint32_t zero = 0;
    const uint64_t none = 0;
    first.SetLastTimingInformation(&zero, &none);
}

} // namespace

// dlclose as this program's code sees it: refuses on demand, as a library that cannot be freed.
extern "C" int dlclose(void *handle) {
    if (gRefuseUnload)
        return -1;
    static const auto next = reinterpret_cast<int (*)(void *)>(dlsym(RTLD_NEXT, "dlclose"));
    return next(handle);
}
