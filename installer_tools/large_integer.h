// The 64-bit out-values of the exported surface (QF_LARGE_INTEGER,
// QF_ULARGE_INTEGER) are the system's unions, which Windows builds only
// declare: the value moves as its 8 little-endian bytes.
#pragma once

#include <cstdint>
#include <cstring>

#include "QuillFrameInstallerTools.h"

namespace qf::tools {

inline void StoreQuad(QF_LARGE_INTEGER* target, std::int64_t value) {
    std::memcpy(static_cast<void*>(target), &value, sizeof value);
}
inline void StoreQuad(QF_ULARGE_INTEGER* target, std::uint64_t value) {
    std::memcpy(static_cast<void*>(target), &value, sizeof value);
}

// Storage for one such value, for callers that own it (tools, tests).
template <typename Union, typename Value>
class QuadValue {
public:
    explicit QuadValue(Value initial = 0) { std::memcpy(bytes_, &initial, sizeof initial); }
    Union* get() { return reinterpret_cast<Union*>(bytes_); }
    Value value() const {
        Value v;
        std::memcpy(&v, bytes_, sizeof v);
        return v;
    }

private:
    alignas(8) unsigned char bytes_[8];
};

using LargeInteger = QuadValue<QF_LARGE_INTEGER, std::int64_t>;
using ULargeInteger = QuadValue<QF_ULARGE_INTEGER, std::uint64_t>;

}  // namespace qf::tools
