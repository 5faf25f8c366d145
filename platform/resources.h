// Move-only owners of platform resources, one small policy per kind: what
// is invalid and how it is given back. An owner releases on every path, and
// put() hands out an out-parameter that cannot leak what it held before.
#pragma once

#include <utility>

#include "platform/platform.h"

namespace qf::platform {

template <typename Policy>
class unique_resource {
public:
    using value_type = typename Policy::value_type;

    unique_resource() = default;
    explicit unique_resource(value_type v) : value_(v) {}
    unique_resource(const unique_resource&) = delete;
    unique_resource& operator=(const unique_resource&) = delete;
    unique_resource(unique_resource&& other) noexcept : value_(other.release()) {}
    unique_resource& operator=(unique_resource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_resource() { reset(); }

    value_type get() const { return value_; }
    bool valid() const { return value_ != Policy::invalid(); }
    explicit operator bool() const { return valid(); }

    void reset(value_type v = Policy::invalid()) {
        if (valid()) Policy::close(value_);
        value_ = v;
    }
    value_type release() {
        value_type v = value_;
        value_ = Policy::invalid();
        return v;
    }
    // For a call that writes the resource through a pointer.
    value_type* put() {
        reset();
        return &value_;
    }

private:
    value_type value_ = Policy::invalid();
};

struct HandlePolicy {
    using value_type = Handle;
    static constexpr Handle invalid() { return kInvalidHandle; }
    static void close(Handle h) { Current().CloseHandle(h); }
};

struct FilePolicy {
    using value_type = Handle;
    static constexpr Handle invalid() { return kInvalidHandle; }
    static void close(Handle h) { Current().CloseFile(h); }
};

struct InterfacePolicy {
    using value_type = Interface;
    static constexpr Interface invalid() { return 0; }
    static void close(Interface i) { Current().Release(i); }
};

struct DeviceListPolicy {
    using value_type = DeviceList;
    static constexpr DeviceList invalid() { return kInvalidHandle; }
    static void close(DeviceList l) { Current().SetupDiDestroyDeviceInfoList(l); }
};

struct LocalMemoryPolicy {
    using value_type = void*;
    static constexpr void* invalid() { return nullptr; }
    static void close(void* p) { Current().LocalFree(p); }
};

using unique_handle = unique_resource<HandlePolicy>;
using unique_device_list = unique_resource<DeviceListPolicy>;
using unique_local = unique_resource<LocalMemoryPolicy>;
using unique_file = unique_resource<FilePolicy>;
using com_ptr = unique_resource<InterfacePolicy>;

}  // namespace qf::platform
