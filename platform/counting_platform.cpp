#include "platform/counting_platform.h"

#include <algorithm>
#include <cstdio>

#include "common/text.h"

namespace qf::platform {
namespace {

std::string Hex(std::uintptr_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

void CountingPlatform::Took(std::map<std::uintptr_t, std::string>& held, std::uintptr_t value, std::string label) {
    heldBackError_ = false;
    held[value] = std::move(label);
}

void CountingPlatform::Gave(std::map<std::uintptr_t, std::string>& held, std::uintptr_t value, const char* call) {
    heldBackError_ = false;
    if (held.erase(value) == 0) strays_.push_back(std::string(call) + " of " + Hex(value));
}

std::vector<std::string> CountingPlatform::Outstanding() const {
    std::vector<std::string> out;
    for (const auto* held : {&handles_, &files_, &interfaces_, &deviceLists_, &memory_})
        for (const auto& [value, label] : *held) out.push_back(label);
    for (std::uint32_t i = 0; i < comInitializations_; ++i) out.push_back("COM initialisation");
    std::sort(out.begin(), out.end());
    return out;
}

std::uint32_t CountingPlatform::GetLastError() {
    return heldBackError_ ? kErrorAccessDenied : ForwardingPlatform::GetLastError();
}

// --- files and kernel handles -------------------------------------------------

Handle CountingPlatform::OpenFile(const std::u16string& path, const char* mode) {
    const Handle file = ForwardingPlatform::OpenFile(path, mode);
    filesOpened_.push_back(path);
    if (file != kInvalidHandle && file != 0) Took(files_, file, "file " + ToUtf8(path));
    return file;
}

bool CountingPlatform::CloseFile(Handle file) {
    Gave(files_, file, "CloseFile");
    return ForwardingPlatform::CloseFile(file);
}

Handle CountingPlatform::CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                                     std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    const Handle h = ForwardingPlatform::CreateFileW(path, access, shareMode, creationDisposition, flagsAndAttributes);
    if (h != kInvalidHandle) Took(handles_, h, "handle " + ToUtf8(path ? path : u""));
    return h;
}

Handle CountingPlatform::CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                                     std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    const Handle h = ForwardingPlatform::CreateFileA(path, access, shareMode, creationDisposition, flagsAndAttributes);
    if (h != kInvalidHandle) Took(handles_, h, std::string("handle ") + (path ? path : ""));
    return h;
}

Handle CountingPlatform::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
    const Handle h = ForwardingPlatform::CreateToolhelp32Snapshot(flags, processId);
    if (h != kInvalidHandle) Took(handles_, h, "handle process snapshot");
    return h;
}

bool CountingPlatform::CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                                      std::uint32_t creationFlags, ProcessInformation* information) {
    processesStarted_.emplace_back(applicationName ? applicationName : "", commandLine ? commandLine : "");
    if (effects_ == Effects::HoldBack) {
        heldBackError_ = true;
        return false;
    }
    if (!ForwardingPlatform::CreateProcessA(applicationName, commandLine, inheritHandles, creationFlags, information))
        return false;
    const std::string name = applicationName ? applicationName : "";
    Took(handles_, information->process, "handle process " + name);
    Took(handles_, information->thread, "handle thread of " + name);
    return true;
}

bool CountingPlatform::CloseHandle(Handle handle) {
    Gave(handles_, handle, "CloseHandle");
    return ForwardingPlatform::CloseHandle(handle);
}

int CountingPlatform::MessageBoxA(std::uintptr_t window, const char* text, const char* caption, std::uint32_t type) {
    messageBoxes_.push_back({text ? text : "", caption ? caption : "", type});
    if (effects_ == Effects::HoldBack) return 1;  // IDOK
    return ForwardingPlatform::MessageBoxA(window, text, caption, type);
}

// --- COM ----------------------------------------------------------------------

HRESULT CountingPlatform::CreateWbemLocator(Interface* locator) {
    const HRESULT hr = ForwardingPlatform::CreateWbemLocator(locator);
    if (Succeeded(hr) && *locator) Took(interfaces_, *locator, "interface IWbemLocator");
    return hr;
}

HRESULT CountingPlatform::ConnectServer(Interface locator, const char16_t* nameSpace, Interface* services) {
    const HRESULT hr = ForwardingPlatform::ConnectServer(locator, nameSpace, services);
    if (Succeeded(hr) && *services)
        Took(interfaces_, *services, "interface IWbemServices " + ToUtf8(nameSpace ? nameSpace : u""));
    return hr;
}

HRESULT CountingPlatform::CreateInstanceEnum(Interface services, const char16_t* className, Interface* enumerator) {
    const HRESULT hr = ForwardingPlatform::CreateInstanceEnum(services, className, enumerator);
    if (Succeeded(hr) && *enumerator)
        Took(interfaces_, *enumerator, "interface IEnumWbemClassObject " + ToUtf8(className ? className : u""));
    return hr;
}

HRESULT CountingPlatform::Next(Interface enumerator, std::int32_t timeout, std::uint32_t count, Interface* object,
                               std::uint32_t* returned) {
    const HRESULT hr = ForwardingPlatform::Next(enumerator, timeout, count, object, returned);
    if (Succeeded(hr) && returned && *returned > 0 && object && *object)
        Took(interfaces_, *object, "interface IWbemClassObject");
    return hr;
}

void CountingPlatform::Release(Interface object) {
    Gave(interfaces_, object, "Release");
    ForwardingPlatform::Release(object);
}

HRESULT CountingPlatform::CoInitializeEx(std::uint32_t coInit) {
    const HRESULT hr = ForwardingPlatform::CoInitializeEx(coInit);
    heldBackError_ = false;
    if (Succeeded(hr)) ++comInitializations_;
    return hr;
}

void CountingPlatform::CoUninitialize() {
    heldBackError_ = false;
    if (comInitializations_ == 0)
        strays_.push_back("CoUninitialize without a CoInitializeEx");
    else
        --comInitializations_;
    ForwardingPlatform::CoUninitialize();
}

// --- device lists and system memory ---------------------------------------------

DeviceList CountingPlatform::SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator,
                                                  std::uint32_t flags) {
    const DeviceList list = ForwardingPlatform::SetupDiGetClassDevsW(classGuid, enumerator, flags);
    if (list != kInvalidHandle)
        Took(deviceLists_, list, "device list " + ToUtf8(enumerator ? enumerator : classGuid ? u"of a class" : u"all"));
    return list;
}

bool CountingPlatform::SetupDiDestroyDeviceInfoList(DeviceList list) {
    Gave(deviceLists_, list, "SetupDiDestroyDeviceInfoList");
    return ForwardingPlatform::SetupDiDestroyDeviceInfoList(list);
}

void* CountingPlatform::LocalAlloc(std::uint32_t flags, std::size_t bytes) {
    void* memory = ForwardingPlatform::LocalAlloc(flags, bytes);
    if (memory)
        Took(memory_, reinterpret_cast<std::uintptr_t>(memory), "local memory of " + std::to_string(bytes) + " bytes");
    return memory;
}

void CountingPlatform::LocalFree(void* memory) {
    // LocalFree of nothing is allowed and does nothing.
    if (memory) Gave(memory_, reinterpret_cast<std::uintptr_t>(memory), "LocalFree");
    ForwardingPlatform::LocalFree(memory);
}

}  // namespace qf::platform
