// Automation wrappers: references taken and given back, navigation by property name, and the
// driver log check that building the information items performs.
#include "VBObject/VBObject.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "logging/DriverLog.h"
#include "support/TestSupport.h"

namespace {

// A host object that counts its references and offers properties holding other objects.
class TestObject : public IHostAutomationObject {
public:
    ~TestObject() override = default;
    uint32_t AddRef() override {
        ++AddRefs;
        return ++References;
    }
    uint32_t Release() override {
        ++Releases;
        return --References;
    }
    IHostAutomationObject *GetPropertyObject(const char *name) override {
        auto found = Properties.find(name);
        if (found == Properties.end())
            return nullptr;
        found->second->AddRef();
        return found->second;
    }

    int AddRefs = 0;
    int Releases = 0;
    int References = 0;
    std::map<std::string, TestObject *> Properties;
};

} // namespace

TEST(VBObjectTest, EachHeldObjectCarriesExactlyOneReference) {
    TestObject first, second;
    {
        ITestData data;
        EXPECT_TRUE(data.IsEmpty());
        data.SetDispatch(&first);
        data.SetDispatch(&first); // the same object again keeps its one reference
        EXPECT_EQ(1, first.References);
        data.SetDispatch(&second);
        EXPECT_EQ(0, first.References);
        EXPECT_EQ(&second, data.GetDispatch());
        data.SetDispatch(nullptr);
        EXPECT_TRUE(data.IsEmpty());
        data.SetDispatch(&first);
    }
    EXPECT_EQ(0, first.References);
    EXPECT_EQ(2, first.AddRefs);
    EXPECT_EQ(1, second.Releases);
}

TEST(VBObjectTest, NavigationHoldsThePropertyObjectsWithOneReferenceEach) {
    TestObject testData, standard, items, otherItems;
    testData.Properties["StandardTestData"] = &standard;
    standard.Properties["InformationItems"] = &items;
    {
        ITestData data;
        data.SetDispatch(&testData);
        clsStandardTestData standardTestData;
        data.GetStandardTestData(standardTestData);
        ASSERT_EQ(&standard, standardTestData.GetDispatch());

        clsInformationItems informationItems;
        informationItems.SetDispatch(&otherItems);
        standardTestData.GetInformationItems(informationItems);
        EXPECT_EQ(&items, informationItems.GetDispatch());
        // What the target held before is given back, not leaked.
        EXPECT_EQ(0, otherItems.References);
        EXPECT_EQ(1, items.References);
        EXPECT_EQ(1, standard.References);
    }
    EXPECT_EQ(0, testData.References);
    EXPECT_EQ(0, standard.References);
    EXPECT_EQ(0, items.References);
}

TEST(VBObjectTest, AFailedPropertyReadLeavesTheTargetAsItWas) {
    TestObject standard, held;
    clsStandardTestData empty;
    clsInformationItems target;
    empty.GetInformationItems(target);
    EXPECT_TRUE(target.IsEmpty());

    standard.Properties["Something else"] = &held;
    clsStandardTestData source;
    source.SetDispatch(&standard);
    target.SetDispatch(&held);
    source.GetInformationItems(target);
    EXPECT_EQ(&held, target.GetDispatch());
    EXPECT_EQ(1, held.References);
}

TEST(VBObjectTest, BuildingInformationItemsRechecksTheDriverLogFile) {
    TestSupport::IsolatedEnvironment environment;
    const std::string logPath = environment.DriveC() + "/DDLOGGER.DAT";
    TestSupport::WriteFile(logPath, "");
    { clsInformationItems items; }
    EXPECT_TRUE(DriverLogFile::IsEnabled());
    std::filesystem::remove(logPath);
    { clsInformationItems items; }
    EXPECT_FALSE(DriverLogFile::IsEnabled());
}
