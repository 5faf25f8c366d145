// The real system: every operation forwards to the Win32 or COM call it is
// named after. Compiled for Windows only.
#pragma once

#include "platform/platform.h"

namespace qf::platform::win32 {

class Win32Platform : public Platform {
public:
    std::uint32_t GetLastError() override;
    bool GetSystemMessage(std::uint32_t code, std::u16string* text) override;

    std::uint32_t GetTempPathW(std::uint32_t capacity, char16_t* buffer) override;
    Handle OpenFile(const std::u16string& path, const char* mode) override;
    bool WriteFile(Handle file, const void* data, std::size_t size) override;
    bool FlushFile(Handle file) override;
    bool CloseFile(Handle file) override;

    std::uint32_t GetLogicalDrives() override;
    std::uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* targetPath, std::uint32_t capacity) override;
    Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                       std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override;
    bool DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                         std::uint32_t outSize, std::uint32_t* bytesReturned) override;
    bool CloseHandle(Handle handle) override;
    // --- boot disk planning ---
    bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override;
    bool GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeToCaller, std::uint64_t* total,
                             std::uint64_t* totalFree) override;

    HRESULT CreateWbemLocator(Interface* locator) override;
    HRESULT ConnectServer(Interface locator, const char16_t* nameSpace, Interface* services) override;
    HRESULT SetProxyBlanket(Interface services) override;
    HRESULT CreateInstanceEnum(Interface services, const char16_t* className, Interface* enumerator) override;
    HRESULT Next(Interface enumerator, std::int32_t timeout, std::uint32_t count, Interface* object,
                 std::uint32_t* returned) override;
    HRESULT Get(Interface object, const char16_t* name, Variant* value, std::int32_t* cimType) override;
    void Release(Interface object) override;

    // --- firmware and prerequisite checks ---
    HRESULT CoInitializeEx(std::uint32_t coInit) override;
    void CoUninitialize() override;
    void Cpuid(std::uint32_t leaf, std::uint32_t registers[4]) override;
    bool GlobalMemoryStatusEx(MemoryStatusEx* status) override;
    std::uint64_t VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeMask,
                                      std::uint8_t condition) override;
    bool VerifyVersionInfoW(OsVersionInfoEx* info, std::uint32_t typeMask, std::uint64_t conditionMask) override;
    bool GetVersionExW(OsVersionInfoEx* info) override;
    bool IsWow64Process(bool* wow64) override;

    // --- helper library ---
    std::uint32_t GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                         std::uint32_t bufferSize) override;
    std::uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                           char* returned, std::uint32_t size, const char* fileName) override;
    Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
    bool Process32First(Handle snapshot, ProcessEntry* entry) override;
    bool Process32Next(Handle snapshot, ProcessEntry* entry) override;
    Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                       std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override;
    std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t capacity) override;
    bool CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                        std::uint32_t creationFlags, ProcessInformation* information) override;
    std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) override;
    bool GetExitCodeProcess(Handle process, std::uint32_t* exitCode) override;
    int MessageBoxA(std::uintptr_t window, const char* text, const char* caption, std::uint32_t type) override;

    DeviceList SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, std::uint32_t flags) override;
    bool SetupDiEnumDeviceInfo(DeviceList list, std::uint32_t memberIndex, DevInfoData* data) override;
    bool SetupDiEnumDeviceInterfaces(DeviceList list, const Guid& interfaceClass, std::uint32_t memberIndex,
                                     DeviceInterfaceData* data) override;
    bool SetupDiGetDeviceInterfaceDetailW(DeviceList list, const DeviceInterfaceData& data, void* detail,
                                          std::uint32_t detailSize, std::uint32_t* requiredSize,
                                          DevInfoData* devInfo) override;
    bool SetupDiGetDeviceRegistryPropertyW(DeviceList list, const DevInfoData& data, std::uint32_t property,
                                           std::uint32_t* regType, void* buffer, std::uint32_t bufferSize,
                                           std::uint32_t* requiredSize) override;
    bool SetupDiDestroyDeviceInfoList(DeviceList list) override;
    std::uint32_t CM_Get_Parent(std::uint32_t* parent, std::uint32_t devInst, std::uint32_t flags) override;
    std::uint32_t CM_Get_Device_IDW(std::uint32_t devInst, char16_t* buffer, std::uint32_t length,
                                    std::uint32_t flags) override;
    void* LocalAlloc(std::uint32_t flags, std::size_t bytes) override;
    void LocalFree(void* memory) override;

    // --- device enumeration ---
    std::uint32_t GetWindowsDirectoryW(char16_t* buffer, std::uint32_t capacity) override;
    std::uint32_t GetDriveTypeW(const char16_t* rootPath) override;

    // --- qfcheck on the live system ---
    HRESULT CoInitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) override;
};

}  // namespace qf::platform::win32
