// Entry points of child processes: a test program started by one of its own tests runs a child
// test, chosen with --gtest_filter. A child test exists only in a program whose environment holds
// the child's variable (the parent sets it to tell the child its part), so that a program started
// without it (as ctest lists and runs the tests) has no such test to list, skip or run.
//
//   CHILD_TEST_F(EthernetChild, ExchangesPairs, "KORVALIS_STREAM_CHILD") { ... }
//
// is a test of the fixture EthernetChild (a ::testing::Test of the file's own, or the fixture of
// the parent's tests) named "EthernetChild.ExchangesPairs".
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

namespace TestSupport {

// Whether the environment variable is set and not empty.
inline bool IsChildProcess(const char *variable) {
    const char *value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

} // namespace TestSupport

#define CHILD_TEST_F(Fixture, Name, Variable)                                                                \
    class Fixture##_##Name##_ChildTest : public Fixture {                                                    \
    public:                                                                                                  \
        void TestBody() override;                                                                            \
    };                                                                                                       \
    [[maybe_unused]] const ::testing::TestInfo *const Fixture##_##Name##_ChildRegistration =                 \
        TestSupport::IsChildProcess(Variable)                                                                \
            ? ::testing::RegisterTest(#Fixture, #Name, nullptr, nullptr, __FILE__, __LINE__,                 \
                                      []() -> Fixture * { return new Fixture##_##Name##_ChildTest; })        \
            : nullptr;                                                                                       \
    void Fixture##_##Name##_ChildTest::TestBody()
