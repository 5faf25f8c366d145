// Text forms of what WMI hands back: failure codes and property values.
#pragma once

#include "common/text.h"
#include "platform/platform.h"

namespace qf::tools {

// The standard COM error text of a failure code: the system's message, or
// "IDispatch error #%d" for interface codes past 0x200, or "Unknown error".
wstring16 ComErrorText(platform::HRESULT hr);

// A non-string property value as text: the signed decimal of a 32-bit value
// (the bit pattern of a 32-bit real included); for values whose first 32
// bits would mean nothing (booleans, small integers, 64-bit integers and
// date-times that arrive as text, arrays) their own decimal or text form.
wstring16 VariantText(const platform::Variant& value);

}  // namespace qf::tools
