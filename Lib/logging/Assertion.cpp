// ReportAssertion over the logged error message.
#include "logging/Assertion.h"

#include "logging/LoggedMessageBox.h"

void ReportAssertion(const std::string &sCondition, const std::string &sFunction) {
    ShowFunctionErrorMessage("Assertion failed: " + sCondition, sFunction);
}
