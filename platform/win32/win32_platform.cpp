#include "platform/win32/win32_platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

namespace qf::platform::win32 {
namespace {

LPCWSTR W(const char16_t* s) { return reinterpret_cast<LPCWSTR>(s); }
LPWSTR W(char16_t* s) { return reinterpret_cast<LPWSTR>(s); }
std::u16string U(const wchar_t* s, std::size_t n) { return std::u16string(reinterpret_cast<const char16_t*>(s), n); }

HANDLE H(Handle h) { return reinterpret_cast<HANDLE>(h); }
Handle Of(HANDLE h) { return reinterpret_cast<Handle>(h); }

template <typename T>
T* As(Interface i) { return reinterpret_cast<T*>(i); }
template <typename T>
Interface Of(T* p) { return reinterpret_cast<Interface>(p); }

// A COM string made for one call and freed after it.
class Bstr {
public:
    explicit Bstr(const char16_t* s) : b_(SysAllocString(W(s))) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return b_; }

private:
    BSTR b_;
};

// Copies a system VARIANT into the platform's own Variant.
void CopyVariant(const VARIANT& v, Variant* out) {
    out->vt = V_VT(&v);
    std::memcpy(&out->bits32, &v.lVal, 4);
    switch (V_VT(&v)) {
    case VT_BSTR:
        if (V_BSTR(&v)) out->text = U(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
        break;
    case VT_BOOL: out->integer = V_BOOL(&v) ? -1 : 0; break;  // VARIANT_TRUE, as the system holds it
    case VT_I1: out->integer = V_I1(&v); break;
    case VT_UI1: out->integer = V_UI1(&v); break;
    case VT_I2: out->integer = V_I2(&v); break;
    case VT_UI2: out->integer = V_UI2(&v); break;
    case VT_I4: case VT_INT: out->integer = V_I4(&v); break;
    case VT_UI4: case VT_UINT: out->integer = V_UI4(&v); break;
    case VT_I8: out->integer = V_I8(&v); break;
    case VT_UI8: out->integer = static_cast<std::int64_t>(V_UI8(&v)); break;
    default: break;
    }
    if (!(V_VT(&v) & VT_ARRAY) || !V_ARRAY(&v)) return;
    SAFEARRAY* sa = V_ARRAY(&v);
    LONG lo = 0, hi = -1;
    if (FAILED(SafeArrayGetLBound(sa, 1, &lo)) || FAILED(SafeArrayGetUBound(sa, 1, &hi)) || hi < lo) return;
    const std::size_t n = static_cast<std::size_t>(hi - lo + 1);
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(sa, &data))) return;
    const VARTYPE element = V_VT(&v) & ~VT_ARRAY;
    for (std::size_t i = 0; i < n; ++i) {
        switch (element) {
        case VT_UI1: out->bytes.push_back(static_cast<const BYTE*>(data)[i]); break;
        case VT_BSTR: {
            BSTR b = static_cast<const BSTR*>(data)[i];
            out->texts.push_back(b ? U(b, SysStringLen(b)) : std::u16string());
            break;
        }
        case VT_I2: out->integers.push_back(static_cast<const SHORT*>(data)[i]); break;
        case VT_I4: out->integers.push_back(static_cast<const LONG*>(data)[i]); break;
        case VT_BOOL: out->integers.push_back(static_cast<const VARIANT_BOOL*>(data)[i] ? -1 : 0); break;
        default: break;
        }
    }
    SafeArrayUnaccessData(sa);
}

}  // namespace

std::uint32_t Win32Platform::GetLastError() { return ::GetLastError(); }

bool Win32Platform::GetSystemMessage(std::uint32_t code, std::u16string* text) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (n == 0 || !buffer) return false;
    // The standard COM error text drops the message's closing line end.
    if (n >= 2 && buffer[n - 2] == L'\r' && buffer[n - 1] == L'\n') n -= 2;
    *text = U(buffer, n);
    LocalFree(buffer);
    return true;
}

std::uint32_t Win32Platform::GetTempPathW(std::uint32_t capacity, char16_t* buffer) {
    return ::GetTempPathW(capacity, W(buffer));
}

Handle Win32Platform::OpenFile(const std::u16string& path, const char* mode) {
    wchar_t wmode[8] = {};
    for (int i = 0; i < 7 && mode[i]; ++i) wmode[i] = static_cast<wchar_t>(mode[i]);
    FILE* f = _wfopen(W(path.c_str()), wmode);
    return f ? reinterpret_cast<Handle>(f) : kInvalidHandle;
}

bool Win32Platform::WriteFile(Handle file, const void* data, std::size_t size) {
    return std::fwrite(data, 1, size, reinterpret_cast<FILE*>(file)) == size;
}

bool Win32Platform::FlushFile(Handle file) { return std::fflush(reinterpret_cast<FILE*>(file)) == 0; }

bool Win32Platform::CloseFile(Handle file) { return std::fclose(reinterpret_cast<FILE*>(file)) == 0; }

std::uint32_t Win32Platform::GetLogicalDrives() { return ::GetLogicalDrives(); }

std::uint32_t Win32Platform::QueryDosDeviceW(const char16_t* deviceName, char16_t* targetPath, std::uint32_t capacity) {
    return ::QueryDosDeviceW(W(deviceName), W(targetPath), capacity);
}

Handle Win32Platform::CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                                  std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    return Of(::CreateFileW(W(path), access, shareMode, nullptr, creationDisposition, flagsAndAttributes, nullptr));
}

bool Win32Platform::DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                                    std::uint32_t outSize, std::uint32_t* bytesReturned) {
    DWORD returned = 0;
    BOOL ok = ::DeviceIoControl(H(device), code, const_cast<void*>(in), inSize, out, outSize, &returned, nullptr);
    if (bytesReturned) *bytesReturned = returned;
    return ok != FALSE;
}

bool Win32Platform::CloseHandle(Handle handle) { return ::CloseHandle(H(handle)) != FALSE; }

// --- boot disk planning ---

bool Win32Platform::ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
    DWORD read = 0;
    BOOL ok = ::ReadFile(H(file), buffer, size, &read, nullptr);
    if (bytesRead) *bytesRead = read;
    return ok != FALSE;
}

bool Win32Platform::GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeToCaller, std::uint64_t* total,
                                        std::uint64_t* totalFree) {
    ULARGE_INTEGER caller = {}, size = {}, free = {};
    if (!::GetDiskFreeSpaceExW(W(path), freeToCaller ? &caller : nullptr, total ? &size : nullptr,
                               totalFree ? &free : nullptr))
        return false;
    if (freeToCaller) *freeToCaller = caller.QuadPart;
    if (total) *total = size.QuadPart;
    if (totalFree) *totalFree = free.QuadPart;
    return true;
}

HRESULT Win32Platform::CreateWbemLocator(Interface* locator) {
    IWbemLocator* p = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  reinterpret_cast<void**>(&p));
    *locator = Of(p);
    return hr;
}

HRESULT Win32Platform::ConnectServer(Interface locator, const char16_t* nameSpace, Interface* services) {
    IWbemServices* p = nullptr;
    Bstr ns(nameSpace);
    HRESULT hr = As<IWbemLocator>(locator)->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &p);
    *services = Of(p);
    return hr;
}

HRESULT Win32Platform::SetProxyBlanket(Interface services) {
    return CoSetProxyBlanket(As<IUnknown>(services), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                             RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

HRESULT Win32Platform::CreateInstanceEnum(Interface services, const char16_t* className, Interface* enumerator) {
    IEnumWbemClassObject* p = nullptr;
    Bstr cls(className);
    HRESULT hr = As<IWbemServices>(services)->CreateInstanceEnum(cls.get(), 0, nullptr, &p);
    *enumerator = Of(p);
    return hr;
}

HRESULT Win32Platform::Next(Interface enumerator, std::int32_t timeout, std::uint32_t count, Interface* object,
                            std::uint32_t* returned) {
    IWbemClassObject* p = nullptr;
    ULONG n = 0;
    HRESULT hr = As<IEnumWbemClassObject>(enumerator)->Next(timeout, count, &p, &n);
    *object = Of(p);
    *returned = n;
    return hr;
}

HRESULT Win32Platform::Get(Interface object, const char16_t* name, Variant* value, std::int32_t* cimType) {
    VARIANT v;
    VariantInit(&v);
    CIMTYPE type = 0;
    HRESULT hr = As<IWbemClassObject>(object)->Get(W(name), 0, &v, &type, nullptr);
    if (SUCCEEDED(hr)) {
        CopyVariant(v, value);
        if (cimType) *cimType = type;
    }
    VariantClear(&v);
    return hr;
}

void Win32Platform::Release(Interface object) {
    if (object) As<IUnknown>(object)->Release();
}

namespace {

HDEVINFO L(DeviceList list) { return reinterpret_cast<HDEVINFO>(list); }
const GUID* G(const Guid* g) { return reinterpret_cast<const GUID*>(g); }

// The system's own records, found again by their member index.
bool DeviceRecord(DeviceList list, std::uint32_t memberIndex, SP_DEVINFO_DATA* record) {
    record->cbSize = sizeof *record;
    return ::SetupDiEnumDeviceInfo(L(list), memberIndex, record) != FALSE;
}

}  // namespace

DeviceList Win32Platform::SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, std::uint32_t flags) {
    return reinterpret_cast<DeviceList>(::SetupDiGetClassDevsW(G(classGuid), W(enumerator), nullptr, flags));
}

bool Win32Platform::SetupDiEnumDeviceInfo(DeviceList list, std::uint32_t memberIndex, DevInfoData* data) {
    if (data->cbSize != kDevInfoDataSize) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return false;
    }
    SP_DEVINFO_DATA record;
    if (!DeviceRecord(list, memberIndex, &record)) return false;
    data->devInst = record.DevInst;
    data->memberIndex = memberIndex;
    return true;
}

bool Win32Platform::SetupDiEnumDeviceInterfaces(DeviceList list, const Guid& interfaceClass, std::uint32_t memberIndex,
                                                DeviceInterfaceData* data) {
    if (data->cbSize != kDeviceInterfaceDataSize) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return false;
    }
    SP_DEVICE_INTERFACE_DATA record = {};
    record.cbSize = sizeof record;
    if (!::SetupDiEnumDeviceInterfaces(L(list), nullptr, G(&interfaceClass), memberIndex, &record)) return false;
    data->interfaceClass = interfaceClass;
    data->flags = record.Flags;
    data->memberIndex = memberIndex;
    return true;
}

bool Win32Platform::SetupDiGetDeviceInterfaceDetailW(DeviceList list, const DeviceInterfaceData& data, void* detail,
                                                     std::uint32_t detailSize, std::uint32_t* requiredSize,
                                                     DevInfoData* devInfo) {
    SP_DEVICE_INTERFACE_DATA record = {};
    record.cbSize = sizeof record;
    if (!::SetupDiEnumDeviceInterfaces(L(list), nullptr, G(&data.interfaceClass), data.memberIndex, &record))
        return false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    DWORD required = 0;
    const BOOL ok = ::SetupDiGetDeviceInterfaceDetailW(L(list), &record,
                                                       static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail),
                                                       detailSize, &required, devInfo ? &device : nullptr);
    if (requiredSize) *requiredSize = required;
    if (ok && devInfo) {
        devInfo->devInst = device.DevInst;
        // The device's own place in the list, so later calls find its record.
        SP_DEVINFO_DATA other;
        for (DWORD i = 0; DeviceRecord(list, i, &other); ++i)
            if (other.DevInst == device.DevInst) {
                devInfo->memberIndex = i;
                break;
            }
    }
    return ok != FALSE;
}

bool Win32Platform::SetupDiGetDeviceRegistryPropertyW(DeviceList list, const DevInfoData& data, std::uint32_t property,
                                                      std::uint32_t* regType, void* buffer, std::uint32_t bufferSize,
                                                      std::uint32_t* requiredSize) {
    SP_DEVINFO_DATA record;
    if (!DeviceRecord(list, data.memberIndex, &record)) return false;
    DWORD type = 0, required = 0;
    const BOOL ok = ::SetupDiGetDeviceRegistryPropertyW(L(list), &record, property, &type, static_cast<PBYTE>(buffer),
                                                        bufferSize, &required);
    if (regType) *regType = type;
    if (requiredSize) *requiredSize = required;
    return ok != FALSE;
}

bool Win32Platform::SetupDiDestroyDeviceInfoList(DeviceList list) { return ::SetupDiDestroyDeviceInfoList(L(list)) != FALSE; }

std::uint32_t Win32Platform::CM_Get_Parent(std::uint32_t* parent, std::uint32_t devInst, std::uint32_t flags) {
    DEVINST p = 0;
    const CONFIGRET r = ::CM_Get_Parent(&p, devInst, flags);
    if (r == CR_SUCCESS) *parent = p;
    return r;
}

std::uint32_t Win32Platform::CM_Get_Device_IDW(std::uint32_t devInst, char16_t* buffer, std::uint32_t length,
                                               std::uint32_t flags) {
    return ::CM_Get_Device_IDW(devInst, W(buffer), length, flags);
}

void* Win32Platform::LocalAlloc(std::uint32_t flags, std::size_t bytes) { return ::LocalAlloc(flags, bytes); }

void Win32Platform::LocalFree(void* memory) { ::LocalFree(memory); }

// --- device enumeration ---

std::uint32_t Win32Platform::GetWindowsDirectoryW(char16_t* buffer, std::uint32_t capacity) {
    return ::GetWindowsDirectoryW(W(buffer), capacity);
}

std::uint32_t Win32Platform::GetDriveTypeW(const char16_t* rootPath) { return ::GetDriveTypeW(W(rootPath)); }

}  // namespace qf::platform::win32

// --- firmware and prerequisite checks ---------------------------------------

namespace qf::platform::win32 {

HRESULT Win32Platform::CoInitializeEx(std::uint32_t coInit) { return ::CoInitializeEx(nullptr, coInit); }

void Win32Platform::CoUninitialize() { ::CoUninitialize(); }

}  // namespace qf::platform::win32

#include <cpuid.h>

namespace qf::platform::win32 {

void Win32Platform::Cpuid(std::uint32_t leaf, std::uint32_t registers[4]) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(leaf, 0, a, b, c, d);
    registers[0] = a, registers[1] = b, registers[2] = c, registers[3] = d;
}

bool Win32Platform::GlobalMemoryStatusEx(MemoryStatusEx* status) {
    static_assert(sizeof(MEMORYSTATUSEX) == kMemoryStatusExSize, "MEMORYSTATUSEX");
    MEMORYSTATUSEX m = {};
    m.dwLength = status->length;
    if (!::GlobalMemoryStatusEx(&m)) return false;
    status->memoryLoad = m.dwMemoryLoad;
    status->totalPhys = m.ullTotalPhys;
    status->availPhys = m.ullAvailPhys;
    status->totalPageFile = m.ullTotalPageFile;
    status->availPageFile = m.ullAvailPageFile;
    status->totalVirtual = m.ullTotalVirtual;
    status->availVirtual = m.ullAvailVirtual;
    status->availExtendedVirtual = m.ullAvailExtendedVirtual;
    return true;
}

std::uint64_t Win32Platform::VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeMask,
                                                 std::uint8_t condition) {
    return ::VerSetConditionMask(conditionMask, typeMask, condition);
}

namespace {

static_assert(sizeof(OSVERSIONINFOEXW) == Platform::kOsVersionInfoExSize, "OSVERSIONINFOEXW");

void ToSystem(const Platform::OsVersionInfoEx& in, OSVERSIONINFOEXW* out) {
    out->dwOSVersionInfoSize = in.osVersionInfoSize;
    out->dwMajorVersion = in.majorVersion;
    out->dwMinorVersion = in.minorVersion;
    out->dwBuildNumber = in.buildNumber;
    out->dwPlatformId = in.platformId;
    std::memcpy(out->szCSDVersion, in.csdVersion, sizeof out->szCSDVersion);
    out->wServicePackMajor = in.servicePackMajor;
    out->wServicePackMinor = in.servicePackMinor;
    out->wSuiteMask = in.suiteMask;
    out->wProductType = in.productType;
    out->wReserved = in.reserved;
}

void FromSystem(const OSVERSIONINFOEXW& in, Platform::OsVersionInfoEx* out) {
    out->majorVersion = in.dwMajorVersion;
    out->minorVersion = in.dwMinorVersion;
    out->buildNumber = in.dwBuildNumber;
    out->platformId = in.dwPlatformId;
    std::memcpy(out->csdVersion, in.szCSDVersion, sizeof out->csdVersion);
    if (in.dwOSVersionInfoSize < sizeof in) return;
    out->servicePackMajor = in.wServicePackMajor;
    out->servicePackMinor = in.wServicePackMinor;
    out->suiteMask = in.wSuiteMask;
    out->productType = in.wProductType;
    out->reserved = in.wReserved;
}

}  // namespace

bool Win32Platform::VerifyVersionInfoW(OsVersionInfoEx* info, std::uint32_t typeMask, std::uint64_t conditionMask) {
    OSVERSIONINFOEXW v = {};
    ToSystem(*info, &v);
    return ::VerifyVersionInfoW(&v, typeMask, conditionMask) != FALSE;
}

bool Win32Platform::GetVersionExW(OsVersionInfoEx* info) {
    OSVERSIONINFOEXW v = {};
    ToSystem(*info, &v);
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) return false;
    FromSystem(v, info);
    return true;
}

bool Win32Platform::IsWow64Process(bool* wow64) {
    BOOL b = FALSE;
    if (!::IsWow64Process(::GetCurrentProcess(), &b)) return false;
    *wow64 = b != FALSE;
    return true;
}

// --- qfcheck on the live system ---

HRESULT Win32Platform::CoInitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) {
    return ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, authnLevel, impLevel, nullptr, EOAC_NONE, nullptr);
}

}  // namespace qf::platform::win32

// --- helper library ---------------------------------------------------------

namespace qf::platform::win32 {

std::uint32_t Win32Platform::GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                                    std::uint32_t bufferSize) {
    return ::GetSystemFirmwareTable(provider, tableId, buffer, bufferSize);
}

std::uint32_t Win32Platform::GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                                      char* returned, std::uint32_t size, const char* fileName) {
    return ::GetPrivateProfileStringA(section, key, defaultValue, returned, size, fileName);
}

Handle Win32Platform::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
    return Of(::CreateToolhelp32Snapshot(flags, processId));
}

namespace {

// The system's own entry, its size field taken from the caller's.
bool ProcessStep(Handle snapshot, Platform::ProcessEntry* entry, BOOL(WINAPI* step)(HANDLE, LPPROCESSENTRY32)) {
    PROCESSENTRY32 record = {};
    record.dwSize = entry->size;
    if (!step(H(snapshot), &record)) return false;
    static_assert(sizeof record.szExeFile == sizeof entry->exeFile, "szExeFile holds MAX_PATH characters");
    std::memcpy(entry->exeFile, record.szExeFile, sizeof entry->exeFile);
    entry->exeFile[sizeof entry->exeFile - 1] = 0;
    return true;
}

}  // namespace

bool Win32Platform::Process32First(Handle snapshot, ProcessEntry* entry) {
    return ProcessStep(snapshot, entry, &::Process32First);
}

bool Win32Platform::Process32Next(Handle snapshot, ProcessEntry* entry) {
    return ProcessStep(snapshot, entry, &::Process32Next);
}

Handle Win32Platform::CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                                  std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    return Of(::CreateFileA(path, access, shareMode, nullptr, creationDisposition, flagsAndAttributes, nullptr));
}

std::uint32_t Win32Platform::GetSystemDirectoryA(char* buffer, std::uint32_t capacity) {
    return ::GetSystemDirectoryA(buffer, capacity);
}

bool Win32Platform::CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                                   std::uint32_t creationFlags, ProcessInformation* information) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessA(applicationName, commandLine, nullptr, nullptr, inheritHandles, creationFlags, nullptr,
                          nullptr, &startup, &started))
        return false;
    information->process = Of(started.hProcess);
    information->thread = Of(started.hThread);
    information->processId = started.dwProcessId;
    information->threadId = started.dwThreadId;
    return true;
}

std::uint32_t Win32Platform::WaitForSingleObject(Handle object, std::uint32_t milliseconds) {
    return ::WaitForSingleObject(H(object), milliseconds);
}

bool Win32Platform::GetExitCodeProcess(Handle process, std::uint32_t* exitCode) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(H(process), &code)) return false;
    *exitCode = code;
    return true;
}

int Win32Platform::MessageBoxA(std::uintptr_t window, const char* text, const char* caption, std::uint32_t type) {
    return ::MessageBoxA(reinterpret_cast<HWND>(window), text, caption, type);
}

}  // namespace qf::platform::win32
