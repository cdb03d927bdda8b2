// Base of the in-house validators: a wxValidator that also carries the printf-style format with
// which its value becomes the control's text (empty: the value type's plain text).
#pragma once

#include <string>

#include <wx/validate.h>

class wxValidatorInterface : public wxValidator {
public:
    explicit wxValidatorInterface(std::string sFormat);
    ~wxValidatorInterface() override;

    virtual std::string GetFormat() const;

private:
    std::string msFormat;
};
