// CWMIProperty::GetWMIProperty: one property of the first instance of a
// ROOT\CIMV2 class, as text.
#include <exception>

#include "QuillFrameInstallerTools.h"
#include "common/boundary.h"
#include "installer_tools/log.h"
#include "installer_tools/wide.h"
#include "installer_tools/wmi_text.h"
#include "platform/resources.h"

namespace qf::tools {
namespace {

constexpr std::size_t kResultCapacity = 200;  // the caller's buffer, terminator included

// CIM types whose value the reader cannot put into text.
bool IsBadCimType(std::int32_t cimType) {
    switch (cimType) {
    case 5:      // CIM_REAL64
    case 13:     // CIM_OBJECT
    case 102:    // CIM_REFERENCE
    case 4095:   // CIM_ILLEGAL
    case 0x2000: // CIM_FLAG_ARRAY alone
        return true;
    default:
        return false;
    }
}

bool GetWMIProperty(const char16_t* className, const char16_t* propertyName, char16_t* result) {
    using namespace platform;
    MethodLog log(u"CWMIProperty::GetWMIProperty");
    Platform& os = Current();
    log(u"Entered");
    try {
        com_ptr locator;
        if (Failed(os.CreateWbemLocator(locator.put()))) {
            log(u"CoCreateInstance failed");
            return false;
        }
        log(u"After cocreatinstance");
        com_ptr services;
        if (Failed(os.ConnectServer(locator.get(), u"ROOT\\CIMV2", services.put()))) {
            log(u"ConnectServer failed\n");
            return false;
        }
        if (Failed(os.SetProxyBlanket(services.get()))) {
            log(u"CoSetProxyBlanket failed");
            return false;
        }
        log(u"about to create instance of %s class", {className});
        com_ptr enumerator;
        HRESULT hr = os.CreateInstanceEnum(services.get(), className, enumerator.put());
        if (Failed(hr)) {
            // The error text, then the failure's description and its
            // error-information object, which such a failure does not carry.
            log(u"finished create instance. Error: %s", {ComErrorText(hr)});
            log(u"finished create instance. Error: %s", {u""});
            log(u"finished create instance. Error: %s", {u"(null)"});
            log(u"CoCreateInstanceEnum failed");
            return false;
        }
        com_ptr object;
        std::uint32_t count = 0;
        hr = os.Next(enumerator.get(), kWbemInfinite, 1, object.put(), &count);
        log(u"dwCount = %d", {count});
        if (Failed(hr) || count == 0 || !object) {
            log(u"Did not find any instances of the class");
            return false;
        }
        Variant value;
        std::int32_t cimType = 0;
        log(u"About to get %s property", {propertyName});
        hr = os.Get(object.get(), propertyName, &value, &cimType);
        log(u"finished get, TYPE = %d", {cimType});
        if (Failed(hr)) {
            log(u"Get failed");
            return false;
        }
        log(u".vt = %d", {static_cast<int>(value.vt)});
        if (cimType == 8) {  // CIM_STRING
            if (value.vt == VT_BSTR) {
                CopyToBuffer(FormatWide(u"%s", {value.text}), result, kResultCapacity);
                log(u"Caught valid bstr");
            } else {
                CopyToBuffer(u"NOT_AVAILABLE", result, kResultCapacity);
                log(u"not a valid bstr");
            }
            return true;
        }
        if (IsBadCimType(cimType)) {
            log(u"caught bad CIM type");
            return false;
        }
        CopyToBuffer(VariantText(value), result, kResultCapacity);
        return true;
    } catch (const std::exception&) {
        log(u"Caught exception");
        return false;
    }
}

}  // namespace
}  // namespace qf::tools

bool CWMIProperty::GetWMIProperty(QF_WCHAR* className, QF_WCHAR* propertyName, QF_WCHAR* result) {
    return qf::AtBoundary(false, [&] {
        return qf::tools::GetWMIProperty(qf::tools::In(className), qf::tools::In(propertyName), qf::tools::Out(result));
    });
}
