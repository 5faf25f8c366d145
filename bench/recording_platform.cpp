#include "recording_platform.h"

#include <algorithm>
#include <stdexcept>

namespace qfbench {

using namespace qf::platform;
using Op = RecordedCall::Op;

namespace {

const char16_t* OrEmpty(const char16_t* s) { return s ? s : u""; }

}  // namespace

// --- recording ---------------------------------------------------------------

void RecordingPlatform::Start() {
    recording_ = Recording{};
    slotOf_.clear();
    active_ = true;
}

Recording RecordingPlatform::Stop() {
    active_ = false;
    return std::move(recording_);
}

RecordedCall& RecordingPlatform::Add(Op op, const char* name) {
    RecordedCall& call = recording_.calls.emplace_back();
    call.op = op;
    call.name = name;
    return call;
}

void RecordingPlatform::Uses(RecordedCall& call, std::uintptr_t value) {
    if (value == 0 || value == kInvalidHandle) {
        call.inValue = value;
        return;
    }
    auto it = slotOf_.find(value);
    if (it == slotOf_.end()) {
        const int slot = static_cast<int>(recording_.slots++);
        it = slotOf_.emplace(value, slot).first;
        recording_.externals.emplace_back(slot, value);
    }
    call.in = it->second;
}

void RecordingPlatform::Makes(RecordedCall& call, std::uintptr_t value) {
    if (value == 0 || value == kInvalidHandle) return;
    // A value the platform hands out again (memory given back and taken
    // anew) stands for the later call from now on.
    call.out = static_cast<int>(recording_.slots++);
    slotOf_[value] = call.out;
}

void RecordingPlatform::Opaque(const char* name) {
    if (active_) Add(Op::NotReplayable, name);
}

std::uint32_t RecordingPlatform::GetLastError() {
    const std::uint32_t error = inner_->GetLastError();
    if (active_) Add(Op::GetLastError, "GetLastError").result = error;
    return error;
}

bool RecordingPlatform::GetSystemMessage(std::uint32_t code, std::u16string* text) {
    Opaque("GetSystemMessage");
    return inner_->GetSystemMessage(code, text);
}

std::uint32_t RecordingPlatform::GetTempPathW(std::uint32_t capacity, char16_t* buffer) {
    const std::uint32_t n = inner_->GetTempPathW(capacity, buffer);
    if (active_) {
        RecordedCall& c = Add(Op::GetTempPathW, "GetTempPathW");
        c.args[0] = capacity;
        c.outSize = capacity * 2;
        c.hasOut = buffer != nullptr;
        c.result = n;
    }
    return n;
}

Handle RecordingPlatform::OpenFile(const std::u16string& path, const char* mode) {
    const Handle h = inner_->OpenFile(path, mode);
    if (active_) {
        RecordedCall& c = Add(Op::OpenFile, "OpenFile");
        c.text = path;
        c.mode = mode;
        c.result = h != kInvalidHandle;
        Makes(c, h);
    }
    return h;
}

bool RecordingPlatform::WriteFile(Handle file, const void* data, std::size_t size) {
    const bool ok = inner_->WriteFile(file, data, size);
    if (active_) {
        RecordedCall& c = Add(Op::WriteFile, "WriteFile");
        Uses(c, file);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        c.input.assign(bytes, bytes + size);
        c.hasInput = data != nullptr;
        c.result = ok;
    }
    return ok;
}

bool RecordingPlatform::FlushFile(Handle file) {
    const bool ok = inner_->FlushFile(file);
    if (active_) {
        RecordedCall& c = Add(Op::FlushFile, "FlushFile");
        Uses(c, file);
        c.result = ok;
    }
    return ok;
}

bool RecordingPlatform::CloseFile(Handle file) {
    const bool ok = inner_->CloseFile(file);
    if (active_) {
        RecordedCall& c = Add(Op::CloseFile, "CloseFile");
        Uses(c, file);
        c.result = ok;
    }
    return ok;
}

std::uint32_t RecordingPlatform::GetLogicalDrives() {
    const std::uint32_t mask = inner_->GetLogicalDrives();
    if (active_) Add(Op::GetLogicalDrives, "GetLogicalDrives").result = mask;
    return mask;
}

std::uint32_t RecordingPlatform::QueryDosDeviceW(const char16_t* deviceName, char16_t* targetPath,
                                                 std::uint32_t capacity) {
    const std::uint32_t n = inner_->QueryDosDeviceW(deviceName, targetPath, capacity);
    if (active_) {
        RecordedCall& c = Add(Op::QueryDosDeviceW, "QueryDosDeviceW");
        c.text = OrEmpty(deviceName);
        c.args[0] = capacity;
        c.outSize = capacity * 2;
        c.hasOut = targetPath != nullptr;
        c.result = n;
    }
    return n;
}

Handle RecordingPlatform::CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                                      std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    const Handle h = inner_->CreateFileW(path, access, shareMode, creationDisposition, flagsAndAttributes);
    if (active_) {
        RecordedCall& c = Add(Op::CreateFileW, "CreateFileW");
        c.text = OrEmpty(path);
        c.args[0] = access;
        c.args[1] = shareMode;
        c.args[2] = creationDisposition;
        c.args[3] = flagsAndAttributes;
        c.result = h != kInvalidHandle;
        Makes(c, h);
    }
    return h;
}

bool RecordingPlatform::DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                                        void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) {
    const bool ok = inner_->DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned);
    if (active_) {
        RecordedCall& c = Add(Op::DeviceIoControl, "DeviceIoControl");
        Uses(c, device);
        c.args[0] = code;
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        if (in) c.input.assign(bytes, bytes + inSize);
        c.hasInput = in != nullptr;
        c.outSize = outSize;
        c.hasOut = out != nullptr;
        c.optionalOut[0] = bytesReturned != nullptr;
        c.result = ok;
    }
    return ok;
}

bool RecordingPlatform::CloseHandle(Handle handle) {
    const bool ok = inner_->CloseHandle(handle);
    if (active_) {
        RecordedCall& c = Add(Op::CloseHandle, "CloseHandle");
        Uses(c, handle);
        c.result = ok;
    }
    return ok;
}

bool RecordingPlatform::ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
    const bool ok = inner_->ReadFile(file, buffer, size, bytesRead);
    if (active_) {
        RecordedCall& c = Add(Op::ReadFile, "ReadFile");
        Uses(c, file);
        c.outSize = size;
        c.hasOut = buffer != nullptr;
        c.optionalOut[0] = bytesRead != nullptr;
        c.result = ok;
    }
    return ok;
}

bool RecordingPlatform::GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeToCaller, std::uint64_t* total,
                                            std::uint64_t* totalFree) {
    const bool ok = inner_->GetDiskFreeSpaceExW(path, freeToCaller, total, totalFree);
    if (active_) {
        RecordedCall& c = Add(Op::GetDiskFreeSpaceExW, "GetDiskFreeSpaceExW");
        c.text = OrEmpty(path);
        c.optionalOut[0] = freeToCaller != nullptr;
        c.optionalOut[1] = total != nullptr;
        c.optionalOut[2] = totalFree != nullptr;
        c.result = ok;
    }
    return ok;
}

HRESULT RecordingPlatform::CreateWbemLocator(Interface* locator) {
    const HRESULT hr = inner_->CreateWbemLocator(locator);
    if (active_) {
        RecordedCall& c = Add(Op::CreateWbemLocator, "CoCreateInstance");
        c.result = static_cast<std::uint32_t>(hr);
        Makes(c, *locator);
    }
    return hr;
}

HRESULT RecordingPlatform::ConnectServer(Interface locator, const char16_t* nameSpace, Interface* services) {
    const HRESULT hr = inner_->ConnectServer(locator, nameSpace, services);
    if (active_) {
        RecordedCall& c = Add(Op::ConnectServer, "ConnectServer");
        Uses(c, locator);
        c.text = OrEmpty(nameSpace);
        c.result = static_cast<std::uint32_t>(hr);
        Makes(c, *services);
    }
    return hr;
}

HRESULT RecordingPlatform::SetProxyBlanket(Interface services) {
    const HRESULT hr = inner_->SetProxyBlanket(services);
    if (active_) {
        RecordedCall& c = Add(Op::SetProxyBlanket, "CoSetProxyBlanket");
        Uses(c, services);
        c.result = static_cast<std::uint32_t>(hr);
    }
    return hr;
}

HRESULT RecordingPlatform::CreateInstanceEnum(Interface services, const char16_t* className, Interface* enumerator) {
    const HRESULT hr = inner_->CreateInstanceEnum(services, className, enumerator);
    if (active_) {
        RecordedCall& c = Add(Op::CreateInstanceEnum, "CreateInstanceEnum");
        Uses(c, services);
        c.text = OrEmpty(className);
        c.result = static_cast<std::uint32_t>(hr);
        Makes(c, *enumerator);
    }
    return hr;
}

HRESULT RecordingPlatform::Next(Interface enumerator, std::int32_t timeout, std::uint32_t count, Interface* object,
                                std::uint32_t* returned) {
    const HRESULT hr = inner_->Next(enumerator, timeout, count, object, returned);
    if (active_) {
        RecordedCall& c = Add(Op::Next, "Next");
        Uses(c, enumerator);
        c.args[0] = static_cast<std::uint32_t>(timeout);
        c.args[1] = count;
        c.result = static_cast<std::uint32_t>(hr);
        Makes(c, *object);
    }
    return hr;
}

HRESULT RecordingPlatform::Get(Interface object, const char16_t* name, Variant* value, std::int32_t* cimType) {
    const HRESULT hr = inner_->Get(object, name, value, cimType);
    if (active_) {
        RecordedCall& c = Add(Op::Get, "Get");
        Uses(c, object);
        c.text = OrEmpty(name);
        c.optionalOut[0] = cimType != nullptr;
        c.result = static_cast<std::uint32_t>(hr);
    }
    return hr;
}

void RecordingPlatform::Release(Interface object) {
    inner_->Release(object);
    if (active_) Uses(Add(Op::Release, "Release"), object);
}

HRESULT RecordingPlatform::CoInitializeEx(std::uint32_t coInit) {
    Opaque("CoInitializeEx");
    return inner_->CoInitializeEx(coInit);
}
void RecordingPlatform::CoUninitialize() {
    Opaque("CoUninitialize");
    inner_->CoUninitialize();
}
void RecordingPlatform::Cpuid(std::uint32_t leaf, std::uint32_t registers[4]) {
    Opaque("Cpuid");
    inner_->Cpuid(leaf, registers);
}
bool RecordingPlatform::GlobalMemoryStatusEx(MemoryStatusEx* status) {
    Opaque("GlobalMemoryStatusEx");
    return inner_->GlobalMemoryStatusEx(status);
}
std::uint64_t RecordingPlatform::VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeMask,
                                                     std::uint8_t condition) {
    Opaque("VerSetConditionMask");
    return inner_->VerSetConditionMask(conditionMask, typeMask, condition);
}
bool RecordingPlatform::VerifyVersionInfoW(OsVersionInfoEx* info, std::uint32_t typeMask, std::uint64_t conditionMask) {
    Opaque("VerifyVersionInfoW");
    return inner_->VerifyVersionInfoW(info, typeMask, conditionMask);
}
bool RecordingPlatform::GetVersionExW(OsVersionInfoEx* info) {
    Opaque("GetVersionExW");
    return inner_->GetVersionExW(info);
}
bool RecordingPlatform::IsWow64Process(bool* wow64) {
    Opaque("IsWow64Process");
    return inner_->IsWow64Process(wow64);
}
std::uint32_t RecordingPlatform::GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                                       std::uint32_t bufferSize) {
    Opaque("GetSystemFirmwareTable");
    return inner_->GetSystemFirmwareTable(provider, tableId, buffer, bufferSize);
}
std::uint32_t RecordingPlatform::GetPrivateProfileStringA(const char* section, const char* key,
                                                         const char* defaultValue, char* returned, std::uint32_t size,
                                                         const char* fileName) {
    Opaque("GetPrivateProfileStringA");
    return inner_->GetPrivateProfileStringA(section, key, defaultValue, returned, size, fileName);
}
Handle RecordingPlatform::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
    Opaque("CreateToolhelp32Snapshot");
    return inner_->CreateToolhelp32Snapshot(flags, processId);
}
bool RecordingPlatform::Process32First(Handle snapshot, ProcessEntry* entry) {
    Opaque("Process32First");
    return inner_->Process32First(snapshot, entry);
}
bool RecordingPlatform::Process32Next(Handle snapshot, ProcessEntry* entry) {
    Opaque("Process32Next");
    return inner_->Process32Next(snapshot, entry);
}
Handle RecordingPlatform::CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                                      std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    Opaque("CreateFileA");
    return inner_->CreateFileA(path, access, shareMode, creationDisposition, flagsAndAttributes);
}
std::uint32_t RecordingPlatform::GetSystemDirectoryA(char* buffer, std::uint32_t capacity) {
    Opaque("GetSystemDirectoryA");
    return inner_->GetSystemDirectoryA(buffer, capacity);
}
bool RecordingPlatform::CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                                       std::uint32_t creationFlags, ProcessInformation* information) {
    Opaque("CreateProcessA");
    return inner_->CreateProcessA(applicationName, commandLine, inheritHandles, creationFlags, information);
}
std::uint32_t RecordingPlatform::WaitForSingleObject(Handle object, std::uint32_t milliseconds) {
    Opaque("WaitForSingleObject");
    return inner_->WaitForSingleObject(object, milliseconds);
}
bool RecordingPlatform::GetExitCodeProcess(Handle process, std::uint32_t* exitCode) {
    Opaque("GetExitCodeProcess");
    return inner_->GetExitCodeProcess(process, exitCode);
}
int RecordingPlatform::MessageBoxA(std::uintptr_t window, const char* text, const char* caption, std::uint32_t type) {
    Opaque("MessageBoxA");
    return inner_->MessageBoxA(window, text, caption, type);
}
HRESULT RecordingPlatform::CoInitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) {
    Opaque("CoInitializeSecurity");
    return inner_->CoInitializeSecurity(authnLevel, impLevel);
}
DeviceList RecordingPlatform::SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator,
                                                   std::uint32_t flags) {
    Opaque("SetupDiGetClassDevsW");
    return inner_->SetupDiGetClassDevsW(classGuid, enumerator, flags);
}
bool RecordingPlatform::SetupDiEnumDeviceInfo(DeviceList list, std::uint32_t memberIndex, DevInfoData* data) {
    Opaque("SetupDiEnumDeviceInfo");
    return inner_->SetupDiEnumDeviceInfo(list, memberIndex, data);
}
bool RecordingPlatform::SetupDiEnumDeviceInterfaces(DeviceList list, const Guid& interfaceClass,
                                                    std::uint32_t memberIndex, DeviceInterfaceData* data) {
    Opaque("SetupDiEnumDeviceInterfaces");
    return inner_->SetupDiEnumDeviceInterfaces(list, interfaceClass, memberIndex, data);
}
bool RecordingPlatform::SetupDiGetDeviceInterfaceDetailW(DeviceList list, const DeviceInterfaceData& data,
                                                         void* detail, std::uint32_t detailSize,
                                                         std::uint32_t* requiredSize, DevInfoData* devInfo) {
    Opaque("SetupDiGetDeviceInterfaceDetailW");
    return inner_->SetupDiGetDeviceInterfaceDetailW(list, data, detail, detailSize, requiredSize, devInfo);
}
bool RecordingPlatform::SetupDiGetDeviceRegistryPropertyW(DeviceList list, const DevInfoData& data,
                                                          std::uint32_t property, std::uint32_t* regType,
                                                          void* buffer, std::uint32_t bufferSize,
                                                          std::uint32_t* requiredSize) {
    Opaque("SetupDiGetDeviceRegistryPropertyW");
    return inner_->SetupDiGetDeviceRegistryPropertyW(list, data, property, regType, buffer, bufferSize, requiredSize);
}
bool RecordingPlatform::SetupDiDestroyDeviceInfoList(DeviceList list) {
    Opaque("SetupDiDestroyDeviceInfoList");
    return inner_->SetupDiDestroyDeviceInfoList(list);
}
std::uint32_t RecordingPlatform::CM_Get_Parent(std::uint32_t* parent, std::uint32_t devInst, std::uint32_t flags) {
    Opaque("CM_Get_Parent");
    return inner_->CM_Get_Parent(parent, devInst, flags);
}
std::uint32_t RecordingPlatform::CM_Get_Device_IDW(std::uint32_t devInst, char16_t* buffer, std::uint32_t length,
                                                   std::uint32_t flags) {
    Opaque("CM_Get_Device_IDW");
    return inner_->CM_Get_Device_IDW(devInst, buffer, length, flags);
}
void* RecordingPlatform::LocalAlloc(std::uint32_t flags, std::size_t bytes) {
    Opaque("LocalAlloc");
    return inner_->LocalAlloc(flags, bytes);
}
void RecordingPlatform::LocalFree(void* memory) {
    Opaque("LocalFree");
    inner_->LocalFree(memory);
}
std::uint32_t RecordingPlatform::GetWindowsDirectoryW(char16_t* buffer, std::uint32_t capacity) {
    Opaque("GetWindowsDirectoryW");
    return inner_->GetWindowsDirectoryW(buffer, capacity);
}
std::uint32_t RecordingPlatform::GetDriveTypeW(const char16_t* rootPath) {
    Opaque("GetDriveTypeW");
    return inner_->GetDriveTypeW(rootPath);
}

// --- replay ------------------------------------------------------------------

Replay::Replay(Recording recording, const std::map<std::uintptr_t, std::uintptr_t>& externals)
    : calls_(std::move(recording.calls)), slots_(recording.slots, 0) {
    std::size_t room = 0;
    for (const RecordedCall& c : calls_) {
        if (c.op == Op::NotReplayable) throw std::runtime_error(std::string("the replay cannot make ") + c.name);
        room = std::max<std::size_t>(room, c.outSize);
    }
    room_.assign(std::max<std::size_t>(room, 8), 0);
    for (const auto& [slot, value] : recording.externals) {
        const auto it = externals.find(value);
        if (it == externals.end()) throw std::runtime_error("the replay has nothing for a handle made before the recording");
        slots_[slot] = it->second;
    }
}

template <bool kCheck>
std::size_t Replay::Play(Platform& p) {
    std::size_t differ = 0;
    for (const RecordedCall& c : calls_) {
        const std::uintptr_t in = c.in >= 0 ? slots_[c.in] : c.inValue;
        void* const out = c.hasOut ? room_.data() : nullptr;
        const void* const input = c.hasInput ? c.input.data() : nullptr;
        std::uint64_t result = 0;
        std::uintptr_t made = 0;
        switch (c.op) {
        case Op::GetLastError:
            result = p.GetLastError();
            break;
        case Op::OpenFile:
            made = p.OpenFile(c.text, c.mode.c_str());
            result = made != kInvalidHandle;
            break;
        case Op::WriteFile:
            result = p.WriteFile(in, input, c.input.size());
            break;
        case Op::FlushFile:
            result = p.FlushFile(in);
            break;
        case Op::CloseFile:
            result = p.CloseFile(in);
            break;
        case Op::GetTempPathW:
            result = p.GetTempPathW(c.args[0], static_cast<char16_t*>(out));
            break;
        case Op::GetLogicalDrives:
            result = p.GetLogicalDrives();
            break;
        case Op::QueryDosDeviceW:
            result = p.QueryDosDeviceW(c.text.c_str(), static_cast<char16_t*>(out), c.args[0]);
            break;
        case Op::CreateFileW:
            made = p.CreateFileW(c.text.c_str(), c.args[0], c.args[1], c.args[2], c.args[3]);
            result = made != kInvalidHandle;
            break;
        case Op::DeviceIoControl: {
            std::uint32_t returned = 0;
            result = p.DeviceIoControl(in, c.args[0], input, static_cast<std::uint32_t>(c.input.size()), out,
                                       c.outSize, c.optionalOut[0] ? &returned : nullptr);
            break;
        }
        case Op::CloseHandle:
            result = p.CloseHandle(in);
            break;
        case Op::ReadFile: {
            std::uint32_t read = 0;
            result = p.ReadFile(in, out, c.outSize, c.optionalOut[0] ? &read : nullptr);
            break;
        }
        case Op::GetDiskFreeSpaceExW: {
            std::uint64_t a = 0, b = 0, d = 0;
            result = p.GetDiskFreeSpaceExW(c.text.c_str(), c.optionalOut[0] ? &a : nullptr,
                                           c.optionalOut[1] ? &b : nullptr, c.optionalOut[2] ? &d : nullptr);
            break;
        }
        case Op::CreateWbemLocator: {
            Interface i = 0;
            result = static_cast<std::uint32_t>(p.CreateWbemLocator(&i));
            made = i;
            break;
        }
        case Op::ConnectServer: {
            Interface i = 0;
            result = static_cast<std::uint32_t>(p.ConnectServer(in, c.text.c_str(), &i));
            made = i;
            break;
        }
        case Op::SetProxyBlanket:
            result = static_cast<std::uint32_t>(p.SetProxyBlanket(in));
            break;
        case Op::CreateInstanceEnum: {
            Interface i = 0;
            result = static_cast<std::uint32_t>(p.CreateInstanceEnum(in, c.text.c_str(), &i));
            made = i;
            break;
        }
        case Op::Next: {
            Interface i = 0;
            std::uint32_t returned = 0;
            result = static_cast<std::uint32_t>(
                p.Next(in, static_cast<std::int32_t>(c.args[0]), c.args[1], &i, &returned));
            made = i;
            break;
        }
        case Op::Get: {
            std::int32_t cimType = 0;
            result = static_cast<std::uint32_t>(
                p.Get(in, c.text.c_str(), &value_, c.optionalOut[0] ? &cimType : nullptr));
            break;
        }
        case Op::Release:
            p.Release(in);
            break;
        case Op::NotReplayable:
            break;
        }
        if (c.out >= 0) slots_[c.out] = made;
        if (kCheck) differ += result != c.result;
    }
    return differ;
}

template std::size_t Replay::Play<false>(Platform&);
template std::size_t Replay::Play<true>(Platform&);

}  // namespace qfbench
