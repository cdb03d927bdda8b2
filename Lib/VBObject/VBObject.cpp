// Reference handling of the automation wrappers.
#include "VBObject/VBObject.h"

#include "logging/DriverLog.h"

VBObject::~VBObject() {
    ReleaseAutomationObject();
}

void VBObject::SetDispatch(IHostAutomationObject *object) {
    // The same object again keeps its one reference; releasing first could end it.
    if (object == mObject)
        return;
    ReleaseAutomationObject();
    if (object != nullptr)
        object->AddRef();
    mObject = object;
}

void VBObject::ReleaseAutomationObject() {
    IHostAutomationObject *object = mObject;
    mObject = nullptr;
    if (object != nullptr)
        object->Release();
}

void VBObject::Adopt(IHostAutomationObject *object) {
    IHostAutomationObject *old = mObject;
    mObject = object;
    if (old != nullptr)
        old->Release();
}

bool VBObject::GetObject(VBObject &target, const char *property) const {
    if (mObject == nullptr || property == nullptr)
        return false;
    IHostAutomationObject *object = mObject->GetPropertyObject(property);
    if (object == nullptr)
        return false;
    target.Adopt(object);
    return true;
}

clsInformationItems::clsInformationItems() {
    DriverLogFile::CheckEnabled();
}

void clsStandardTestData::GetInformationItems(clsInformationItems &items) {
    GetObject(items, "InformationItems");
}

void ITestData::GetStandardTestData(clsStandardTestData &standardTestData) {
    GetObject(standardTestData, "StandardTestData");
}
