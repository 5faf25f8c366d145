// The baseline of the disk benchmarks: the platform's own cost of the calls
// a method makes, without the method. RecordingPlatform sits between the
// libraries and a platform, passes every call on, and records it (copies of
// its inputs, the room of its output buffers, its answer); Replay makes the
// recorded calls again, in order, against another platform of the same
// machine, with nothing of the libraries in between.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qfbench {

struct RecordedCall {
    // The operations a replay can make again; any other call is recorded
    // under its name so that a replay of it fails loudly instead of leaving
    // platform cost out.
    enum class Op {
        GetLastError, OpenFile, WriteFile, FlushFile, CloseFile, GetTempPathW, GetLogicalDrives, QueryDosDeviceW,
        CreateFileW, DeviceIoControl, CloseHandle, ReadFile, GetDiskFreeSpaceExW, CreateWbemLocator, ConnectServer,
        SetProxyBlanket, CreateInstanceEnum, Next, Get, Release, NotReplayable,
    };
    Op op = Op::NotReplayable;
    const char* name = "";
    std::u16string text;                // path, namespace, class or property name
    std::string mode;                   // OpenFile
    std::vector<std::uint8_t> input;    // bytes the call reads: DeviceIoControl's input, WriteFile's data
    bool hasInput = false;              // the input pointer was not null
    std::uint32_t args[4] = {};         // further arguments, in the call's order
    std::uint32_t outSize = 0;          // room of the output buffer, in bytes
    bool hasOut = false;                // an output buffer was passed
    bool optionalOut[3] = {};           // which optional outputs were asked for
    // The handle, interface or memory the call works on: a slot of the
    // replay (filled by the call that made it), or a constant.
    int in = -1;
    std::uintptr_t inValue = 0;
    int out = -1;                       // slot for what the call makes
    std::uint64_t result = 0;           // the answer, compared when a replay is checked
};

struct Recording {
    std::vector<RecordedCall> calls;
    std::size_t slots = 0;
    // Handles the recorded calls used without making them (a file opened
    // before the recording began): slot and the value the recording saw.
    std::vector<std::pair<int, std::uintptr_t>> externals;
};

class RecordingPlatform : public qf::platform::Platform {
public:
    explicit RecordingPlatform(std::unique_ptr<qf::platform::Platform> inner) : inner_(std::move(inner)) {}
    qf::platform::Platform& inner() { return *inner_; }

    void Start();
    Recording Stop();

    std::uint32_t GetLastError() override;
    bool GetSystemMessage(std::uint32_t code, std::u16string* text) override;
    std::uint32_t GetTempPathW(std::uint32_t capacity, char16_t* buffer) override;
    qf::platform::Handle OpenFile(const std::u16string& path, const char* mode) override;
    bool WriteFile(qf::platform::Handle file, const void* data, std::size_t size) override;
    bool FlushFile(qf::platform::Handle file) override;
    bool CloseFile(qf::platform::Handle file) override;
    std::uint32_t GetLogicalDrives() override;
    std::uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* targetPath, std::uint32_t capacity) override;
    qf::platform::Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                                     std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override;
    bool DeviceIoControl(qf::platform::Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) override;
    bool CloseHandle(qf::platform::Handle handle) override;
    bool ReadFile(qf::platform::Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override;
    bool GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeToCaller, std::uint64_t* total,
                             std::uint64_t* totalFree) override;
    qf::platform::HRESULT CreateWbemLocator(qf::platform::Interface* locator) override;
    qf::platform::HRESULT ConnectServer(qf::platform::Interface locator, const char16_t* nameSpace,
                                        qf::platform::Interface* services) override;
    qf::platform::HRESULT SetProxyBlanket(qf::platform::Interface services) override;
    qf::platform::HRESULT CreateInstanceEnum(qf::platform::Interface services, const char16_t* className,
                                             qf::platform::Interface* enumerator) override;
    qf::platform::HRESULT Next(qf::platform::Interface enumerator, std::int32_t timeout, std::uint32_t count,
                               qf::platform::Interface* object, std::uint32_t* returned) override;
    qf::platform::HRESULT Get(qf::platform::Interface object, const char16_t* name, qf::platform::Variant* value,
                              std::int32_t* cimType) override;
    void Release(qf::platform::Interface object) override;

    // Passed on and recorded as not replayable: the benchmarks that replay
    // do not make these calls.
    qf::platform::HRESULT CoInitializeEx(std::uint32_t coInit) override;
    void CoUninitialize() override;
    void Cpuid(std::uint32_t leaf, std::uint32_t registers[4]) override;
    bool GlobalMemoryStatusEx(MemoryStatusEx* status) override;
    std::uint64_t VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeMask,
                                      std::uint8_t condition) override;
    bool VerifyVersionInfoW(OsVersionInfoEx* info, std::uint32_t typeMask, std::uint64_t conditionMask) override;
    bool GetVersionExW(OsVersionInfoEx* info) override;
    bool IsWow64Process(bool* wow64) override;
    std::uint32_t GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                         std::uint32_t bufferSize) override;
    std::uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                           char* returned, std::uint32_t size, const char* fileName) override;
    qf::platform::Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
    bool Process32First(qf::platform::Handle snapshot, ProcessEntry* entry) override;
    bool Process32Next(qf::platform::Handle snapshot, ProcessEntry* entry) override;
    qf::platform::Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                                     std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override;
    std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t capacity) override;
    bool CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                        std::uint32_t creationFlags, ProcessInformation* information) override;
    std::uint32_t WaitForSingleObject(qf::platform::Handle object, std::uint32_t milliseconds) override;
    bool GetExitCodeProcess(qf::platform::Handle process, std::uint32_t* exitCode) override;
    int MessageBoxA(std::uintptr_t window, const char* text, const char* caption, std::uint32_t type) override;
    qf::platform::HRESULT CoInitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) override;
    qf::platform::DeviceList SetupDiGetClassDevsW(const qf::platform::Guid* classGuid, const char16_t* enumerator,
                                                  std::uint32_t flags) override;
    bool SetupDiEnumDeviceInfo(qf::platform::DeviceList list, std::uint32_t memberIndex,
                               qf::platform::DevInfoData* data) override;
    bool SetupDiEnumDeviceInterfaces(qf::platform::DeviceList list, const qf::platform::Guid& interfaceClass,
                                     std::uint32_t memberIndex, qf::platform::DeviceInterfaceData* data) override;
    bool SetupDiGetDeviceInterfaceDetailW(qf::platform::DeviceList list, const qf::platform::DeviceInterfaceData& data,
                                          void* detail, std::uint32_t detailSize, std::uint32_t* requiredSize,
                                          qf::platform::DevInfoData* devInfo) override;
    bool SetupDiGetDeviceRegistryPropertyW(qf::platform::DeviceList list, const qf::platform::DevInfoData& data,
                                           std::uint32_t property, std::uint32_t* regType, void* buffer,
                                           std::uint32_t bufferSize, std::uint32_t* requiredSize) override;
    bool SetupDiDestroyDeviceInfoList(qf::platform::DeviceList list) override;
    std::uint32_t CM_Get_Parent(std::uint32_t* parent, std::uint32_t devInst, std::uint32_t flags) override;
    std::uint32_t CM_Get_Device_IDW(std::uint32_t devInst, char16_t* buffer, std::uint32_t length,
                                    std::uint32_t flags) override;
    void* LocalAlloc(std::uint32_t flags, std::size_t bytes) override;
    void LocalFree(void* memory) override;
    std::uint32_t GetWindowsDirectoryW(char16_t* buffer, std::uint32_t capacity) override;
    std::uint32_t GetDriveTypeW(const char16_t* rootPath) override;

private:
    RecordedCall& Add(RecordedCall::Op op, const char* name);
    void Uses(RecordedCall& call, std::uintptr_t value);
    void Makes(RecordedCall& call, std::uintptr_t value);
    void Opaque(const char* name);

    std::unique_ptr<qf::platform::Platform> inner_;
    bool active_ = false;
    Recording recording_;
    std::map<std::uintptr_t, int> slotOf_;
};

class Replay {
public:
    // `externals` names, for each handle the recording used without making
    // it, what stands for it on the replaying platform. Throws when the
    // recording holds a call it cannot make or a handle it cannot resolve.
    Replay(Recording recording, const std::map<std::uintptr_t, std::uintptr_t>& externals);

    // Makes every recorded call once against `platform`.
    void Run(qf::platform::Platform& platform) { Play<false>(platform); }
    // The same, comparing every answer with the recorded one: the number of
    // answers that differ.
    std::size_t Check(qf::platform::Platform& platform) { return Play<true>(platform); }
    std::size_t size() const { return calls_.size(); }

private:
    template <bool kCheck>
    std::size_t Play(qf::platform::Platform& platform);

    std::vector<RecordedCall> calls_;
    std::vector<std::uintptr_t> slots_;
    std::vector<std::uint8_t> room_;  // every output buffer
    qf::platform::Variant value_;
};

}  // namespace qfbench
