// A platform that passes every call on and keeps count of what the callers
// were handed and gave back: kernel handles, the libraries' files, COM
// interfaces and initialisations, device lists and system memory. On the
// real system this is how a test tells that a call released everything it
// took (the system's own handle count is not reliable everywhere: Wine
// reports none).
//
// It can also hold back what a test must not do to the machine it runs on:
// starting programs (diskpart) and showing message boxes nobody would close.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/forwarding_platform.h"

namespace qf::platform {

class CountingPlatform : public ForwardingPlatform {
public:
    enum class Effects {
        Pass,      // every call reaches the system
        HoldBack,  // CreateProcessA fails with ERROR_ACCESS_DENIED, MessageBoxA answers IDOK unseen
    };
    explicit CountingPlatform(std::unique_ptr<Platform> inner, Effects effects = Effects::Pass)
        : ForwardingPlatform(std::move(inner)), effects_(effects) {}

    // What was handed out and not given back, one line each ("handle
    // \\.\C:", "interface IWbemServices ROOT\CIMV2", "local memory of 28
    // bytes"), sorted so that two lists compare as sets with repeats.
    std::vector<std::string> Outstanding() const;
    // Releases of something this platform never handed out, or handed out
    // and already took back: a double close, a stray pointer.
    const std::vector<std::string>& strays() const { return strays_; }

    // The paths the libraries opened their own files with, in order.
    const std::vector<std::u16string>& filesOpened() const { return filesOpened_; }
    struct ShownBox {
        std::string text, caption;
        std::uint32_t type = 0;
    };
    const std::vector<ShownBox>& messageBoxes() const { return messageBoxes_; }
    // Programs asked to start: application name, then the command line.
    const std::vector<std::pair<std::string, std::string>>& processesStarted() const { return processesStarted_; }

    Handle OpenFile(const std::u16string& path, const char* mode) override;
    bool CloseFile(Handle file) override;
    Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                       std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override;
    Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                       std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override;
    Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
    bool CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                        std::uint32_t creationFlags, ProcessInformation* information) override;
    bool CloseHandle(Handle handle) override;
    int MessageBoxA(std::uintptr_t window, const char* text, const char* caption, std::uint32_t type) override;

    HRESULT CreateWbemLocator(Interface* locator) override;
    HRESULT ConnectServer(Interface locator, const char16_t* nameSpace, Interface* services) override;
    HRESULT CreateInstanceEnum(Interface services, const char16_t* className, Interface* enumerator) override;
    HRESULT Next(Interface enumerator, std::int32_t timeout, std::uint32_t count, Interface* object,
                 std::uint32_t* returned) override;
    void Release(Interface object) override;
    HRESULT CoInitializeEx(std::uint32_t coInit) override;
    void CoUninitialize() override;

    DeviceList SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, std::uint32_t flags) override;
    bool SetupDiDestroyDeviceInfoList(DeviceList list) override;
    void* LocalAlloc(std::uint32_t flags, std::size_t bytes) override;
    void LocalFree(void* memory) override;
    std::uint32_t GetLastError() override;

private:
    void Took(std::map<std::uintptr_t, std::string>& held, std::uintptr_t value, std::string label);
    void Gave(std::map<std::uintptr_t, std::string>& held, std::uintptr_t value, const char* call);

    Effects effects_;
    std::map<std::uintptr_t, std::string> handles_, files_, interfaces_, deviceLists_, memory_;
    std::uint32_t comInitializations_ = 0;
    std::vector<std::string> strays_;
    std::vector<std::u16string> filesOpened_;
    std::vector<ShownBox> messageBoxes_;
    std::vector<std::pair<std::string, std::string>> processesStarted_;
    // A held-back start leaves ERROR_ACCESS_DENIED for GetLastError until
    // the next call this platform watches.
    bool heldBackError_ = false;
};

}  // namespace qf::platform
