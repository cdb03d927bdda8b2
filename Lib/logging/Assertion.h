// Failed checks of the framework: reported as an error message (logged, written to the driver log
// file and shown) that names the check and the function, after which the caller goes on with an
// error code.
#pragma once

#include <string>

// Shows "Assertion failed: " + condition with the function's signature as the function.
void ReportAssertion(const std::string &sCondition, const std::string &sFunction);
