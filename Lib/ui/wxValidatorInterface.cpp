// The format-carrying base of the in-house validators.
#include "ui/wxValidatorInterface.h"

#include <utility>

wxValidatorInterface::wxValidatorInterface(std::string sFormat) : msFormat(std::move(sFormat)) {}

wxValidatorInterface::~wxValidatorInterface() = default;

std::string wxValidatorInterface::GetFormat() const {
    return msFormat;
}
