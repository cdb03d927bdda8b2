// The host's automation objects as the plug-in sees them: reference-counted objects whose
// properties can be read as further objects by name. The host (and its stand-in program)
// implements this interface and hands such pointers to a driver through SetValue id 3.
#pragma once

#include <cstdint>

class IHostAutomationObject {
public:
    // Reference counting: each returns the new count.
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    // The object held by the property of that name (UTF-8), carrying one reference that belongs to
    // the caller; null when the property is missing or is not an object.
    virtual IHostAutomationObject *GetPropertyObject(const char *name) = 0;

protected:
    // Objects end through Release, never through delete by the plug-in.
    virtual ~IHostAutomationObject() = default;
};
