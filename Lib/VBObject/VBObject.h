// Wrappers of the host's automation objects. Each wrapper holds at most one object and one
// reference to it; it creates no object of its own and calls none of their methods, it only
// walks from the test data to its standard test data and on to the information items.
#pragma once

#include "VBObject/HostAutomationObject.h"

class VBObject {
public:
    VBObject() = default;
    virtual ~VBObject();
    VBObject(const VBObject &) = delete;
    VBObject &operator=(const VBObject &) = delete;

    // Releases what is held and takes the new object (null leaves the wrapper empty).
    void SetDispatch(IHostAutomationObject *object);
    void ReleaseAutomationObject();
    bool IsEmpty() const { return mObject == nullptr; }
    IHostAutomationObject *GetDispatch() const { return mObject; }

protected:
    // Reads the property as an object into the target; the target keeps what it had when the
    // property gives no object. False then.
    bool GetObject(VBObject &target, const char *property) const;

private:
    // Takes over a reference that already belongs to the wrapper.
    void Adopt(IHostAutomationObject *object);

    IHostAutomationObject *mObject = nullptr;
};

// The EUT.
class clsDEUT : public VBObject {};

// The information items of the standard test data.
class clsInformationItems : public VBObject {
public:
    // Every driver builds one: this refreshes whether the driver log file is enabled.
    clsInformationItems();
};

// The standard test data: navigates to "InformationItems".
class clsStandardTestData : public VBObject {
public:
    void GetInformationItems(clsInformationItems &items);
};

// The test data: navigates to "StandardTestData".
class ITestData : public VBObject {
public:
    void GetStandardTestData(clsStandardTestData &standardTestData);
};
