#include "installer_tools/wmi_text.h"

#include "common/format.h"

namespace qf::tools {

using namespace platform;

wstring16 ComErrorText(HRESULT hr) {
    wstring16 text;
    if (Current().GetSystemMessage(static_cast<std::uint32_t>(hr), &text)) return text;
    const auto code = static_cast<std::uint32_t>(hr);
    const std::uint32_t facility = (code >> 16) & 0x1FFF;
    const std::uint32_t low = code & 0xFFFF;
    if (facility == 4 /* FACILITY_ITF */ && low > 0x200)
        return FormatWide(u"IDispatch error #%d", {low - 0x200});
    return FormatWide(u"Unknown error 0x%0lX", {code});
}

namespace {

wstring16 ScalarText(std::uint16_t vt, std::int64_t integer, std::uint32_t bits32, const wstring16& text) {
    switch (vt) {
    case VT_BSTR:
        return text;
    case VT_BOOL:
        return integer ? u"1" : u"0";
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I8: case VT_UI8:
        return FormatWide(vt == VT_UI8 ? u"%llu" : u"%lld", {integer});
    case VT_EMPTY: case VT_NULL:
        // A property without a value has no bits to show.
        return u"NOT_AVAILABLE";
    default:
        return FormatWide(u"%d", {bits32});
    }
}

}  // namespace

wstring16 VariantText(const Variant& value) {
    if (!(value.vt & VT_ARRAY)) return ScalarText(value.vt, value.integer, value.bits32, value.text);
    const std::uint16_t element = value.vt & ~VT_ARRAY;
    wstring16 out;
    bool first = true;
    auto add = [&](const wstring16& item) {
        if (!first) out += u',';
        out += item;
        first = false;
    };
    if (element == VT_BSTR) {
        for (const auto& s : value.texts) add(s);
    } else if (element == VT_UI1) {
        for (auto b : value.bytes) add(FormatWide(u"%d", {static_cast<int>(b)}));
    } else {
        for (auto i : value.integers) add(ScalarText(element, i, static_cast<std::uint32_t>(i), u""));
    }
    return out;
}

}  // namespace qf::tools
