// The read-only part of the module's image: where names may be kept by their address.
#include "platform/ModuleImage.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace Platform;

namespace {

char MutableName[] = "Mutable";
const int ConstantTable[] = {1, 2, 3};

void AFunction() {}

} // namespace

TEST(ModuleImageTest, OnlyCodeAndConstantsOfThisModuleAreReadOnly) {
    const char onStack[] = "Stack";
    const auto onHeap = std::make_unique<char[]>(8);
    const std::string text = "A text long enough to live on the heap";
    struct Case {
        const char *What;
        const void *Address;
        bool ReadOnly;
    };
    const Case cases[] = {
        {"narrow literal", "Literal", true},
        {"wide literal", L"Wide literal", true},
        {"constant table", ConstantTable, true},
        {"code", reinterpret_cast<const void *>(&AFunction), true},
        {"writable array", MutableName, false},
        {"stack", onStack, false},
        {"heap", onHeap.get(), false},
        {"string's text", text.c_str(), false},
        {"null", nullptr, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.ReadOnly, IsReadOnlyInThisModule(c.Address)) << c.What;
    EXPECT_TRUE(AreReadOnlyInThisModule("Module", L"Function"));
    EXPECT_FALSE(AreReadOnlyInThisModule("Module", MutableName));
    EXPECT_FALSE(AreReadOnlyInThisModule(onStack, "Function"));
}
