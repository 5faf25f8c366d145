// A platform that passes every call on to another one. Decorators that
// watch the calls (counting what is handed out, holding some back) derive
// from it and override only the calls they care about.
#pragma once

#include <memory>
#include <utility>

#include "platform/platform.h"

namespace qf::platform {

class ForwardingPlatform : public Platform {
public:
    explicit ForwardingPlatform(std::unique_ptr<Platform> inner) : inner_(std::move(inner)) {}
    Platform& inner() { return *inner_; }

    std::uint32_t GetLastError() override { return inner_->GetLastError(); }
    bool GetSystemMessage(std::uint32_t code, std::u16string* text) override {
        return inner_->GetSystemMessage(code, text);
    }
    std::uint32_t GetTempPathW(std::uint32_t capacity, char16_t* buffer) override {
        return inner_->GetTempPathW(capacity, buffer);
    }
    Handle OpenFile(const std::u16string& path, const char* mode) override { return inner_->OpenFile(path, mode); }
    bool WriteFile(Handle file, const void* data, std::size_t size) override {
        return inner_->WriteFile(file, data, size);
    }
    bool FlushFile(Handle file) override { return inner_->FlushFile(file); }
    bool CloseFile(Handle file) override { return inner_->CloseFile(file); }
    std::uint32_t GetLogicalDrives() override { return inner_->GetLogicalDrives(); }
    std::uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* targetPath, std::uint32_t capacity) override {
        return inner_->QueryDosDeviceW(deviceName, targetPath, capacity);
    }
    Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                       std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override {
        return inner_->CreateFileW(path, access, shareMode, creationDisposition, flagsAndAttributes);
    }
    bool DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                         std::uint32_t outSize, std::uint32_t* bytesReturned) override {
        return inner_->DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned);
    }
    bool CloseHandle(Handle handle) override { return inner_->CloseHandle(handle); }
    bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override {
        return inner_->ReadFile(file, buffer, size, bytesRead);
    }
    bool GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeToCaller, std::uint64_t* total,
                             std::uint64_t* totalFree) override {
        return inner_->GetDiskFreeSpaceExW(path, freeToCaller, total, totalFree);
    }
    HRESULT CreateWbemLocator(Interface* locator) override { return inner_->CreateWbemLocator(locator); }
    HRESULT ConnectServer(Interface locator, const char16_t* nameSpace, Interface* services) override {
        return inner_->ConnectServer(locator, nameSpace, services);
    }
    HRESULT SetProxyBlanket(Interface services) override { return inner_->SetProxyBlanket(services); }
    HRESULT CreateInstanceEnum(Interface services, const char16_t* className, Interface* enumerator) override {
        return inner_->CreateInstanceEnum(services, className, enumerator);
    }
    HRESULT Next(Interface enumerator, std::int32_t timeout, std::uint32_t count, Interface* object,
                 std::uint32_t* returned) override {
        return inner_->Next(enumerator, timeout, count, object, returned);
    }
    HRESULT Get(Interface object, const char16_t* name, Variant* value, std::int32_t* cimType) override {
        return inner_->Get(object, name, value, cimType);
    }
    void Release(Interface object) override { inner_->Release(object); }
    HRESULT CoInitializeEx(std::uint32_t coInit) override { return inner_->CoInitializeEx(coInit); }
    void CoUninitialize() override { inner_->CoUninitialize(); }
    void Cpuid(std::uint32_t leaf, std::uint32_t registers[4]) override { inner_->Cpuid(leaf, registers); }
    bool GlobalMemoryStatusEx(MemoryStatusEx* status) override { return inner_->GlobalMemoryStatusEx(status); }
    std::uint64_t VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeMask,
                                      std::uint8_t condition) override {
        return inner_->VerSetConditionMask(conditionMask, typeMask, condition);
    }
    bool VerifyVersionInfoW(OsVersionInfoEx* info, std::uint32_t typeMask, std::uint64_t conditionMask) override {
        return inner_->VerifyVersionInfoW(info, typeMask, conditionMask);
    }
    bool GetVersionExW(OsVersionInfoEx* info) override { return inner_->GetVersionExW(info); }
    bool IsWow64Process(bool* wow64) override { return inner_->IsWow64Process(wow64); }
    std::uint32_t GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                         std::uint32_t bufferSize) override {
        return inner_->GetSystemFirmwareTable(provider, tableId, buffer, bufferSize);
    }
    std::uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                           char* returned, std::uint32_t size, const char* fileName) override {
        return inner_->GetPrivateProfileStringA(section, key, defaultValue, returned, size, fileName);
    }
    Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override {
        return inner_->CreateToolhelp32Snapshot(flags, processId);
    }
    bool Process32First(Handle snapshot, ProcessEntry* entry) override { return inner_->Process32First(snapshot, entry); }
    bool Process32Next(Handle snapshot, ProcessEntry* entry) override { return inner_->Process32Next(snapshot, entry); }
    Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                       std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override {
        return inner_->CreateFileA(path, access, shareMode, creationDisposition, flagsAndAttributes);
    }
    std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t capacity) override {
        return inner_->GetSystemDirectoryA(buffer, capacity);
    }
    bool CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                        std::uint32_t creationFlags, ProcessInformation* information) override {
        return inner_->CreateProcessA(applicationName, commandLine, inheritHandles, creationFlags, information);
    }
    std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) override {
        return inner_->WaitForSingleObject(object, milliseconds);
    }
    bool GetExitCodeProcess(Handle process, std::uint32_t* exitCode) override {
        return inner_->GetExitCodeProcess(process, exitCode);
    }
    int MessageBoxA(std::uintptr_t window, const char* text, const char* caption, std::uint32_t type) override {
        return inner_->MessageBoxA(window, text, caption, type);
    }
    DeviceList SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, std::uint32_t flags) override {
        return inner_->SetupDiGetClassDevsW(classGuid, enumerator, flags);
    }
    bool SetupDiEnumDeviceInfo(DeviceList list, std::uint32_t memberIndex, DevInfoData* data) override {
        return inner_->SetupDiEnumDeviceInfo(list, memberIndex, data);
    }
    bool SetupDiEnumDeviceInterfaces(DeviceList list, const Guid& interfaceClass, std::uint32_t memberIndex,
                                     DeviceInterfaceData* data) override {
        return inner_->SetupDiEnumDeviceInterfaces(list, interfaceClass, memberIndex, data);
    }
    bool SetupDiGetDeviceInterfaceDetailW(DeviceList list, const DeviceInterfaceData& data, void* detail,
                                          std::uint32_t detailSize, std::uint32_t* requiredSize,
                                          DevInfoData* devInfo) override {
        return inner_->SetupDiGetDeviceInterfaceDetailW(list, data, detail, detailSize, requiredSize, devInfo);
    }
    bool SetupDiGetDeviceRegistryPropertyW(DeviceList list, const DevInfoData& data, std::uint32_t property,
                                           std::uint32_t* regType, void* buffer, std::uint32_t bufferSize,
                                           std::uint32_t* requiredSize) override {
        return inner_->SetupDiGetDeviceRegistryPropertyW(list, data, property, regType, buffer, bufferSize,
                                                         requiredSize);
    }
    bool SetupDiDestroyDeviceInfoList(DeviceList list) override { return inner_->SetupDiDestroyDeviceInfoList(list); }
    std::uint32_t CM_Get_Parent(std::uint32_t* parent, std::uint32_t devInst, std::uint32_t flags) override {
        return inner_->CM_Get_Parent(parent, devInst, flags);
    }
    std::uint32_t CM_Get_Device_IDW(std::uint32_t devInst, char16_t* buffer, std::uint32_t length,
                                    std::uint32_t flags) override {
        return inner_->CM_Get_Device_IDW(devInst, buffer, length, flags);
    }
    void* LocalAlloc(std::uint32_t flags, std::size_t bytes) override { return inner_->LocalAlloc(flags, bytes); }
    void LocalFree(void* memory) override { inner_->LocalFree(memory); }
    std::uint32_t GetWindowsDirectoryW(char16_t* buffer, std::uint32_t capacity) override {
        return inner_->GetWindowsDirectoryW(buffer, capacity);
    }
    std::uint32_t GetDriveTypeW(const char16_t* rootPath) override { return inner_->GetDriveTypeW(rootPath); }
    HRESULT CoInitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) override {
        return inner_->CoInitializeSecurity(authnLevel, impLevel);
    }

private:
    std::unique_ptr<Platform> inner_;
};

}  // namespace qf::platform
