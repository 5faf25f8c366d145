// The seam between the libraries' decision logic and the operating system.
// Every system service the libraries use is one operation here, named and
// shaped after the platform call it stands for, so the logic reads like the
// system it talks to. platform/win32 forwards to the real API; platform/sim
// answers from a machine description.
//
// Conventions, as on Windows: a failing call returns its failure value and
// leaves the reason for GetLastError(); COM-style calls return an HRESULT.
// Control requests exchange the platform's own binary structures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qf::platform {

using Handle = std::uintptr_t;         // a kernel object (file, disk, volume)
using Interface = std::uintptr_t;      // a COM interface; 0 is none
using HRESULT = std::int32_t;
constexpr Handle kInvalidHandle = ~static_cast<Handle>(0);

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

// Win32 error numbers the libraries and the simulation speak of.
enum : std::uint32_t {
    kErrorSuccess = 0,
    kErrorInvalidFunction = 1,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorInvalidData = 13,
    kErrorNotReady = 21,
    kErrorInvalidParameter = 87,
    kErrorInsufficientBuffer = 122,
    kErrorMoreData = 234,
    kErrorNoMoreItems = 259,
};

// HRESULTs.
constexpr HRESULT kSOk = 0;
constexpr HRESULT kSFalse = 1;
constexpr HRESULT kEFail = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT kEOutOfMemory = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT kCoENotInitialized = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT kWbemENotFound = static_cast<HRESULT>(0x80041002u);
constexpr HRESULT kWbemEInvalidClass = static_cast<HRESULT>(0x80041010u);
constexpr HRESULT kWbemEInvalidNamespace = static_cast<HRESULT>(0x8004100Eu);
constexpr std::int32_t kWbemInfinite = -1;

// Access, sharing and creation values of CreateFile.
enum : std::uint32_t {
    kGenericRead = 0x80000000u,
    kGenericWrite = 0x40000000u,
    kFileShareRead = 1,
    kFileShareWrite = 2,
    kOpenExisting = 3,
    kFileAttributeNormal = 0x80,
};

// Control codes.
enum : std::uint32_t {
    kIoctlDiskGetDriveGeometry = 0x00070000,
    kIoctlDiskGetDriveLayout = 0x0007400C,
    kIoctlDiskGetDriveLayoutEx = 0x00070050,
    kIoctlDiskGetDriveGeometryEx = 0x000700A0,
    kIoctlDiskUpdateProperties = 0x00070140,
    kIoctlVolumeGetVolumeDiskExtents = 0x00560000,
    kIoctlStorageGetDeviceNumber = 0x002D1080,
};

// Variant types.
enum : std::uint16_t {
    VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5,
    VT_BSTR = 8, VT_DISPATCH = 9, VT_BOOL = 11, VT_UNKNOWN = 13, VT_I1 = 16, VT_UI1 = 17,
    VT_UI2 = 18, VT_UI4 = 19, VT_I8 = 20, VT_UI8 = 21, VT_INT = 22, VT_UINT = 23,
    VT_ARRAY = 0x2000,
};

// A WMI property value as a variant carries it. The platform converts the
// system's VARIANT into this and clears the original before it returns, so
// a Variant owns nothing of the system's.
struct Variant {
    std::uint16_t vt = VT_EMPTY;
    // The first 32 bits of the variant's value, as the system stores them
    // (an integer's low bits, a float's bit pattern).
    std::uint32_t bits32 = 0;
    std::int64_t integer = 0;         // integer and boolean types, sign-extended
    std::u16string text;              // VT_BSTR
    std::vector<std::uint8_t> bytes;  // VT_ARRAY | VT_UI1
    std::vector<std::u16string> texts;      // VT_ARRAY | VT_BSTR
    std::vector<std::int64_t> integers;     // VT_ARRAY of an integer type
};

class Platform {
public:
    virtual ~Platform() = default;

    // --- errors -------------------------------------------------------------
    virtual std::uint32_t GetLastError() = 0;
    // The system's message text for an error number (FormatMessageW of the
    // system table), without its trailing line end; false when it has none.
    virtual bool GetSystemMessage(std::uint32_t code, std::u16string* text) = 0;

    // --- the libraries' own files -------------------------------------------
    // GetTempPathW: the length copied, or the length needed (terminator
    // included) when it does not fit, or 0 on failure.
    virtual std::uint32_t GetTempPathW(std::uint32_t capacity, char16_t* buffer) = 0;
    // A file for the libraries' own output, opened in binary with a C runtime
    // mode ("w+b", "wb"); the text-mode line ends are written by the caller.
    virtual Handle OpenFile(const std::u16string& path, const char* mode) = 0;
    virtual bool WriteFile(Handle file, const void* data, std::size_t size) = 0;
    virtual bool FlushFile(Handle file) = 0;
    virtual bool CloseFile(Handle file) = 0;

    // --- drive letters, disks and volumes -----------------------------------
    virtual std::uint32_t GetLogicalDrives() = 0;
    virtual std::uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* targetPath,
                                          std::uint32_t capacity) = 0;
    virtual Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                               std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) = 0;
    virtual bool DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                                 void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) = 0;
    virtual bool CloseHandle(Handle handle) = 0;
    // --- boot disk planning ---
    // ReadFile of a disk or volume handle from its current position; a
    // successful read may return fewer bytes than asked.
    virtual bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) = 0;
    // GetDiskFreeSpaceExW; each output may be null.
    virtual bool GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeToCaller, std::uint64_t* total,
                                     std::uint64_t* totalFree) = 0;

    // --- WMI through COM ----------------------------------------------------
    // CoCreateInstance(CLSID_WbemLocator, CLSCTX_INPROC_SERVER, IID_IWbemLocator).
    virtual HRESULT CreateWbemLocator(Interface* locator) = 0;
    virtual HRESULT ConnectServer(Interface locator, const char16_t* nameSpace, Interface* services) = 0;
    // CoSetProxyBlanket with WinNT authentication, call-level packets and
    // impersonation, as every WMI reader of the libraries sets it.
    virtual HRESULT SetProxyBlanket(Interface services) = 0;
    virtual HRESULT CreateInstanceEnum(Interface services, const char16_t* className, Interface* enumerator) = 0;
    virtual HRESULT Next(Interface enumerator, std::int32_t timeout, std::uint32_t count, Interface* object,
                         std::uint32_t* returned) = 0;
    virtual HRESULT Get(Interface object, const char16_t* name, Variant* value, std::int32_t* cimType) = 0;
    virtual void Release(Interface object) = 0;
};

// The platform the libraries talk to. Linux builds start on the simulated
// default machine, Windows builds on the real system.
Platform& Current();
// Replaces the current platform; the previous one is returned so a caller
// can put it back.
std::unique_ptr<Platform> SetCurrent(std::unique_ptr<Platform> platform);
// The platform a fresh process starts with.
std::unique_ptr<Platform> MakeDefault();

}  // namespace qf::platform
