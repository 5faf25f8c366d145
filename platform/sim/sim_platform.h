// The simulated platform: answers every platform call from a Machine, fails
// where Windows would (with Windows' numbers) and where the description's
// `errors` say, and keeps count of every handle and interface it hands out,
// so a test can check that a call gave back everything it took.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/machine.h"

namespace qf::sim {

class SimPlatform : public platform::Platform {
public:
    // `tempDir` is the host folder the temporary-path query reports.
    SimPlatform(Machine machine, std::string tempDir);
    ~SimPlatform() override;

    Machine& machine() { return machine_; }
    const std::string& tempDir() const { return tempDir_; }

    // Resources handed out and not yet given back, one line each
    // ("handle \\.\C:", "interface IWbemServices ROOT\CIMV2"); files the
    // libraries keep open on purpose (their logs) are listed as well.
    std::vector<std::string> Outstanding() const;
    std::size_t OutstandingCount() const { return Outstanding().size(); }
    // Every platform call made so far, "Name target" per call, in order.
    const std::vector<std::string>& calls() const { return calls_; }
    // --- benchmarks ---
    // Forgets the calls traced so far: a long run keeps its trace bounded.
    void ClearCalls() { calls_.clear(); }

    // --- Platform -----------------------------------------------------------
    std::uint32_t GetLastError() override { return lastError_; }
    bool GetSystemMessage(std::uint32_t code, std::u16string* text) override;

    std::uint32_t GetTempPathW(std::uint32_t capacity, char16_t* buffer) override;
    platform::Handle OpenFile(const std::u16string& path, const char* mode) override;
    bool WriteFile(platform::Handle file, const void* data, std::size_t size) override;
    bool FlushFile(platform::Handle file) override;
    bool CloseFile(platform::Handle file) override;

    std::uint32_t GetLogicalDrives() override;
    std::uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* targetPath, std::uint32_t capacity) override;
    platform::Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                                 std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override;
    bool DeviceIoControl(platform::Handle device, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                         std::uint32_t outSize, std::uint32_t* bytesReturned) override;
    bool CloseHandle(platform::Handle handle) override;
    // --- boot disk planning ---
    bool ReadFile(platform::Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override;
    bool GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeToCaller, std::uint64_t* total,
                             std::uint64_t* totalFree) override;

    platform::HRESULT CreateWbemLocator(platform::Interface* locator) override;
    platform::HRESULT ConnectServer(platform::Interface locator, const char16_t* nameSpace,
                                    platform::Interface* services) override;
    platform::HRESULT SetProxyBlanket(platform::Interface services) override;
    platform::HRESULT CreateInstanceEnum(platform::Interface services, const char16_t* className,
                                         platform::Interface* enumerator) override;
    platform::HRESULT Next(platform::Interface enumerator, std::int32_t timeout, std::uint32_t count,
                           platform::Interface* object, std::uint32_t* returned) override;
    platform::HRESULT Get(platform::Interface object, const char16_t* name, platform::Variant* value,
                          std::int32_t* cimType) override;
    void Release(platform::Interface object) override;

    // --- firmware and prerequisite checks ---
    platform::HRESULT CoInitializeEx(std::uint32_t coInit) override;
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
    platform::Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
    bool Process32First(platform::Handle snapshot, ProcessEntry* entry) override;
    bool Process32Next(platform::Handle snapshot, ProcessEntry* entry) override;
    platform::Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                                 std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override;
    std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t capacity) override;
    bool CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                        std::uint32_t creationFlags, ProcessInformation* information) override;
    std::uint32_t WaitForSingleObject(platform::Handle object, std::uint32_t milliseconds) override;
    bool GetExitCodeProcess(platform::Handle process, std::uint32_t* exitCode) override;
    int MessageBoxA(std::uintptr_t window, const char* text, const char* caption, std::uint32_t type) override;

    // A message box the libraries showed; the simulated user closes it at once.
    struct ShownMessageBox {
        std::string text, caption;
        std::uint32_t type = 0;
    };
    const std::vector<ShownMessageBox>& messageBoxes() const { return messageBoxes_; }

    // --- device setup and configuration manager ------------------------------
    platform::DeviceList SetupDiGetClassDevsW(const platform::Guid* classGuid, const char16_t* enumerator,
                                              std::uint32_t flags) override;
    bool SetupDiEnumDeviceInfo(platform::DeviceList list, std::uint32_t memberIndex,
                               platform::DevInfoData* data) override;
    bool SetupDiEnumDeviceInterfaces(platform::DeviceList list, const platform::Guid& interfaceClass,
                                     std::uint32_t memberIndex, platform::DeviceInterfaceData* data) override;
    bool SetupDiGetDeviceInterfaceDetailW(platform::DeviceList list, const platform::DeviceInterfaceData& data,
                                          void* detail, std::uint32_t detailSize, std::uint32_t* requiredSize,
                                          platform::DevInfoData* devInfo) override;
    bool SetupDiGetDeviceRegistryPropertyW(platform::DeviceList list, const platform::DevInfoData& data,
                                           std::uint32_t property, std::uint32_t* regType, void* buffer,
                                           std::uint32_t bufferSize, std::uint32_t* requiredSize) override;
    bool SetupDiDestroyDeviceInfoList(platform::DeviceList list) override;
    std::uint32_t CM_Get_Parent(std::uint32_t* parent, std::uint32_t devInst, std::uint32_t flags) override;
    std::uint32_t CM_Get_Device_IDW(std::uint32_t devInst, char16_t* buffer, std::uint32_t length,
                                    std::uint32_t flags) override;
    void* LocalAlloc(std::uint32_t flags, std::size_t bytes) override;
    void LocalFree(void* memory) override;

    // --- device enumeration ---
    std::uint32_t GetWindowsDirectoryW(char16_t* buffer, std::uint32_t capacity) override;
    std::uint32_t GetDriveTypeW(const char16_t* rootPath) override;

    // --- qfcheck on the live system ---
    platform::HRESULT CoInitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) override;

    // The device path of the virtualization status driver's interface.
    static const std::u16string kVtDriverPath;

    // A host path for a path the libraries built ('\' separators become '/').
    static std::string HostPath(const std::u16string& path);

private:
    // What a kernel handle stands for.
    struct Object {
        enum class Kind { File, Disk, Volume, VtDriver, Snapshot, Process, Thread } kind;
        std::string label;        // the path it was opened with (UTF-8)
        std::u16string path;      // the same, as the libraries wrote it
        std::uint32_t index = 0;  // disk or volume index in the machine; a snapshot's next entry; a process's exit code
        void* file = nullptr;     // FILE* of a host file
    };
    // What a COM interface stands for.
    struct ComObject {
        enum class Kind { Locator, Services, Enumerator, ClassObject } kind;
        std::u16string nameSpace;   // upper-cased
        std::u16string className;   // as asked
        std::size_t position = 0;   // enumerator: next instance
        const WmiInstance* instance = nullptr;
    };

    // The outcome an `errors` entry forces on this call, if any. Every call
    // that matches an entry's call/target/ioctl counts toward its `nth`.
    struct Forced {
        std::optional<std::uint32_t> error;
        std::optional<std::uint32_t> returns;
    };
    std::optional<Forced> Rule(const char* call, const std::u16string& target = {},
                               std::optional<std::uint32_t> ioctl = std::nullopt);
    void Trace(const char* call, const std::u16string& target = {});
    bool Fail(std::uint32_t error) {
        lastError_ = error;
        return false;
    }

    platform::Handle AddHandle(Object object);
    Object* FindHandle(platform::Handle h);
    platform::Interface AddInterface(ComObject object);
    ComObject* FindInterface(platform::Interface i, ComObject::Kind kind);
    const Volume* VolumeByLetter(char16_t letter) const;
    const Disk* DiskByNumber(std::uint32_t number) const;
    const WmiClass* FindClass(const std::u16string& nameSpace, const std::u16string& className) const;

    // A device list and what it enumerates.
    struct DeviceListObject {
        enum class Kind { DiskInterfaces, VtInterfaces, PciDevices, AcpiDevices, Empty } kind;
        std::u16string label;  // enumerator or interface class, as `errors` targets name it
    };
    // Device instances: each disk, its parent, each PCI and ACPI device, the
    // driver's device, numbered in ranges so a number tells what it is.
    enum : std::uint32_t {
        kDevInstDisk = 0x1000, kDevInstDiskParent = 0x2000, kDevInstPci = 0x3000, kDevInstAcpi = 0x4000,
        kDevInstVtDriver = 0x5000, kDevInstRoot = 0x1,
    };
    std::size_t DeviceCount(const DeviceListObject& list) const;
    std::uint32_t DevInstOf(const DeviceListObject& list, std::uint32_t memberIndex) const;
    std::u16string InterfacePath(const DeviceListObject& list, std::uint32_t memberIndex) const;
    DeviceListObject* FindList(platform::DeviceList list);
    bool DeviceNumberRequest(const Object& o, void* out, std::uint32_t outSize, std::uint32_t* bytesReturned);

    bool VolumeRequest(const Object& volume, std::uint32_t code, void* out, std::uint32_t outSize,
                       std::uint32_t* bytesReturned);
    bool DiskRequest(const Object& disk, std::uint32_t code, void* out, std::uint32_t outSize,
                     std::uint32_t* bytesReturned);
    // --- boot disk planning ---
    bool DriveLayoutEx(const Disk& disk, void* out, std::uint32_t outSize, std::uint32_t* bytesReturned);
    bool DriveGeometryEx(const Disk& disk, void* out, std::uint32_t outSize, std::uint32_t* bytesReturned);
    // The volume a path for GetDiskFreeSpaceExW lies on ("C:", "C:\dir", "\\.\C:\").
    const Volume* VolumeOfPath(const std::u16string& path) const;
    std::map<platform::Handle, std::uint64_t> readPositions_;  // disk handles that have been read

    // --- helper library ---
    // A path opened by CreateFileW or CreateFileA, after the `errors` rules.
    platform::Handle OpenPath(const std::u16string& path);
    // The helper library's disk requests: the old-style layout and
    // geometry, and the disk size (geometry EX). Nothing when `code` is
    // none of them.
    std::optional<bool> HelperDiskRequest(const Object& disk, std::uint32_t code, void* out, std::uint32_t outSize,
                                          std::uint32_t* bytesReturned);
    // The simulated diskpart on the arguments of its command line: its exit code.
    std::uint32_t RunDiskpart(const std::string& arguments);
    std::vector<ShownMessageBox> messageBoxes_;

    Machine machine_;
    std::string tempDir_;
    std::uint32_t lastError_ = 0;
    std::map<platform::Handle, Object> handles_;
    std::map<platform::Interface, ComObject> interfaces_;
    std::map<platform::DeviceList, DeviceListObject> deviceLists_;
    std::map<void*, std::vector<std::uint8_t>> localMemory_;
    platform::Handle nextHandle_ = 0x100;
    platform::Interface nextInterface_ = 0x1000;
    std::vector<std::uint32_t> ruleMatches_;
    // COM on the calling thread: initialisations not yet balanced, and their mode.
    std::uint32_t comInitializations_ = 0;
    std::uint32_t comMode_ = 0;
    std::vector<std::string> calls_;
};

// A fresh folder under the host's temporary directory.
std::string MakeFreshTempDir();

}  // namespace qf::sim
