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
    kIoctlVtGetStatus = 0x00222000,  // the virtualization status driver's one request
};

// STORAGE_DEVICE_NUMBER device types.
enum : std::uint32_t { kFileDeviceCdRom = 0x2, kFileDeviceDisk = 0x7 };

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

// A GUID in its in-memory layout.
struct Guid {
    std::uint32_t data1;
    std::uint16_t data2, data3;
    std::uint8_t data4[8];
};
inline bool operator==(const Guid& a, const Guid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}

// GUID_DEVINTERFACE_DISK.
constexpr Guid kDiskInterfaceClass = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
// The device interface class of the virtualization status driver.
constexpr Guid kVtDriverInterfaceClass = {0x0A17534F, 0xCFA4, 0x40F4, {0xAA, 0x7F, 0x27, 0x76, 0xC7, 0x9B, 0x38, 0x07}};

using DeviceList = std::uintptr_t;  // HDEVINFO; kInvalidHandle when none was made

// SP_DEVINFO_DATA and SP_DEVICE_INTERFACE_DATA as the libraries hold them.
// The caller sets cbSize to the 32-bit record size (28 for both); the
// platform fills the rest. memberIndex lets the platform find the system's
// own record again.
struct DevInfoData {
    std::uint32_t cbSize = 0;
    std::uint32_t devInst = 0;
    std::uint32_t memberIndex = 0;
};
struct DeviceInterfaceData {
    std::uint32_t cbSize = 0;
    Guid interfaceClass = {};
    std::uint32_t flags = 0;
    std::uint32_t memberIndex = 0;
};

enum : std::uint32_t {
    kDigcfPresent = 0x2,
    kDigcfAllClasses = 0x4,
    kDigcfDeviceInterface = 0x10,
    kSpdrpHardwareId = 1,
    kSpdrpFriendlyName = 12,
    kRegSz = 1,
    kRegMultiSz = 7,
    kCrSuccess = 0,
    kCrInvalidDevnode = 0x5,
    kCrNoSuchDevnode = 0xD,
    kCrBufferSmall = 0x1A,
    kErrorInvalidUserBuffer = 1784,
    kLmemZeroInit = 0x40,
    // The 32-bit record sizes the libraries pass as cbSize.
    kDevInfoDataSize = 28,
    kDeviceInterfaceDataSize = 28,
    kDeviceInterfaceDetailDataSize = 6,
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

    // --- firmware and prerequisite checks ---
    enum : std::uint32_t {
        kCoinitMultithreaded = 0x0,
        kCoinitApartmentThreaded = 0x2,
        // The fields VerSetConditionMask and VerifyVersionInfoW speak of ...
        kVerMinorVersion = 0x1,
        kVerMajorVersion = 0x2,
        kVerBuildNumber = 0x4,
        kVerPlatformId = 0x8,
        kVerServicePackMinor = 0x10,
        kVerServicePackMajor = 0x20,
        kVerSuiteName = 0x40,
        kVerProductType = 0x80,
        // ... and how a field compares.
        kVerEqual = 1,
        kVerGreater = 2,
        kVerGreaterEqual = 3,
        kVerLess = 4,
        kVerLessEqual = 5,
        kVerAnd = 6,
        kVerOr = 7,
        // Product types.
        kVerNtWorkstation = 1,
        kVerNtDomainController = 2,
        kVerNtServer = 3,
        kVerPlatformWin32Nt = 2,
        kOsVersionInfoSize = 276,    // OSVERSIONINFOW
        kOsVersionInfoExSize = 284,  // OSVERSIONINFOEXW
        kMemoryStatusExSize = 64,
        kErrorBadArguments = 160,
        kErrorOldWinVersion = 1150,
    };
    static constexpr HRESULT kRpcEChangedMode = static_cast<HRESULT>(0x80010106u);

    // OSVERSIONINFOEXW, byte for byte.
    struct OsVersionInfoEx {
        std::uint32_t osVersionInfoSize = 0;
        std::uint32_t majorVersion = 0;
        std::uint32_t minorVersion = 0;
        std::uint32_t buildNumber = 0;
        std::uint32_t platformId = 0;
        char16_t csdVersion[128] = {};
        std::uint16_t servicePackMajor = 0;
        std::uint16_t servicePackMinor = 0;
        std::uint16_t suiteMask = 0;
        std::uint8_t productType = 0;
        std::uint8_t reserved = 0;
    };
    static_assert(sizeof(OsVersionInfoEx) == kOsVersionInfoExSize, "OSVERSIONINFOEXW");
    // MEMORYSTATUSEX, byte for byte.
    struct MemoryStatusEx {
        std::uint32_t length = 0;
        std::uint32_t memoryLoad = 0;
        std::uint64_t totalPhys = 0;
        std::uint64_t availPhys = 0;
        std::uint64_t totalPageFile = 0;
        std::uint64_t availPageFile = 0;
        std::uint64_t totalVirtual = 0;
        std::uint64_t availVirtual = 0;
        std::uint64_t availExtendedVirtual = 0;
    };
    static_assert(sizeof(MemoryStatusEx) == kMemoryStatusExSize, "MEMORYSTATUSEX");

    // CoInitializeEx for the calling thread (no reserved pointer): S_OK, S_FALSE
    // when the thread already had COM in that mode, or a failure code.
    virtual HRESULT CoInitializeEx(std::uint32_t coInit) = 0;
    // Balances one successful CoInitializeEx.
    virtual void CoUninitialize() = 0;
    // The CPUID instruction for `leaf` (sub-leaf 0): EAX, EBX, ECX, EDX.
    virtual void Cpuid(std::uint32_t leaf, std::uint32_t registers[4]) = 0;
    // GlobalMemoryStatusEx; the caller sets `length` to 64.
    virtual bool GlobalMemoryStatusEx(MemoryStatusEx* status) = 0;
    // VerSetConditionMask: `condition` (kVerEqual..kVerOr) for the field of `typeMask`.
    virtual std::uint64_t VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeMask,
                                              std::uint8_t condition) = 0;
    // VerifyVersionInfoW: whether the running system matches the fields of
    // `typeMask` as the mask says; a mismatch leaves ERROR_OLD_WIN_VERSION.
    virtual bool VerifyVersionInfoW(OsVersionInfoEx* info, std::uint32_t typeMask, std::uint64_t conditionMask) = 0;
    // GetVersionExW into a record whose size field says 276 or 284.
    virtual bool GetVersionExW(OsVersionInfoEx* info) = 0;
    // IsWow64Process for the current process.
    virtual bool IsWow64Process(bool* wow64) = 0;

    // --- helper library ---
    // GetSystemFirmwareTable: with a buffer too small, the size the table
    // needs; otherwise the bytes written; 0 on failure. Signatures are
    // multi-character constants, first character most significant.
    static constexpr std::uint32_t kProviderRsmb = 0x52534D42;  // 'RSMB'
    static constexpr std::uint32_t kTableOem0 = 0x4F454D30;     // 'OEM0'
    virtual std::uint32_t GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                                 std::uint32_t bufferSize) = 0;
    // GetPrivateProfileStringA of one key: the characters copied, terminator
    // excluded (at most size - 1); the default when the file, section or key
    // is missing.
    virtual std::uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                                   char* returned, std::uint32_t size, const char* fileName) = 0;
    // The process list: CreateToolhelp32Snapshot (INVALID_HANDLE_VALUE on
    // failure; CloseHandle releases it), Process32First and Process32Next
    // (false at the end of the list). The entry is the 8-bit PROCESSENTRY32
    // of a 32-bit process as far as the libraries use it: its size field,
    // which the caller sets, and szExeFile.
    enum : std::uint32_t { kTh32csSnapProcess = 0x2, kProcessEntry32Size = 296 };
    struct ProcessEntry {
        std::uint32_t size = 0;
        char exeFile[260] = {};
    };
    virtual Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) = 0;
    virtual bool Process32First(Handle snapshot, ProcessEntry* entry) = 0;
    virtual bool Process32Next(Handle snapshot, ProcessEntry* entry) = 0;
    // CreateFileA; CloseHandle releases the handle.
    virtual Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                               std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) = 0;
    // GetSystemDirectoryA: as GetWindowsDirectoryW counts.
    virtual std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t capacity) = 0;
    // CreateProcessA without process or thread attributes, environment or
    // current directory, with a zero-filled startup record. On success both
    // handles are the caller's to close.
    enum : std::uint32_t { kCreateNoWindow = 0x08000000, kInfinite = 0xFFFFFFFF, kWaitObject0 = 0, kWaitFailed = 0xFFFFFFFF };
    struct ProcessInformation {
        Handle process = kInvalidHandle;
        Handle thread = kInvalidHandle;
        std::uint32_t processId = 0, threadId = 0;
    };
    virtual bool CreateProcessA(const char* applicationName, char* commandLine, bool inheritHandles,
                                std::uint32_t creationFlags, ProcessInformation* information) = 0;
    virtual std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) = 0;
    virtual bool GetExitCodeProcess(Handle process, std::uint32_t* exitCode) = 0;
    // MessageBoxA: the button chosen (IDOK 1), or 0 on failure.
    enum : std::uint32_t { kMbOk = 0x0, kMbIconInformation = 0x40 };
    virtual int MessageBoxA(std::uintptr_t window, const char* text, const char* caption, std::uint32_t type) = 0;

    // --- device setup and configuration manager ------------------------------
    // SetupDiGetClassDevsW: classGuid may be null (with DIGCF_ALLCLASSES),
    // enumerator may be null.
    virtual DeviceList SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, std::uint32_t flags) = 0;
    virtual bool SetupDiEnumDeviceInfo(DeviceList list, std::uint32_t memberIndex, DevInfoData* data) = 0;
    virtual bool SetupDiEnumDeviceInterfaces(DeviceList list, const Guid& interfaceClass, std::uint32_t memberIndex,
                                             DeviceInterfaceData* data) = 0;
    // `detail` is an SP_DEVICE_INTERFACE_DETAIL_DATA_W of `detailSize` bytes
    // whose cbSize the caller set (6); it may be null with size 0 to learn
    // the size. `devInfo` may be null.
    virtual bool SetupDiGetDeviceInterfaceDetailW(DeviceList list, const DeviceInterfaceData& data, void* detail,
                                                  std::uint32_t detailSize, std::uint32_t* requiredSize,
                                                  DevInfoData* devInfo) = 0;
    virtual bool SetupDiGetDeviceRegistryPropertyW(DeviceList list, const DevInfoData& data, std::uint32_t property,
                                                   std::uint32_t* regType, void* buffer, std::uint32_t bufferSize,
                                                   std::uint32_t* requiredSize) = 0;
    virtual bool SetupDiDestroyDeviceInfoList(DeviceList list) = 0;
    // Configuration manager calls answer with a CONFIGRET.
    virtual std::uint32_t CM_Get_Parent(std::uint32_t* parent, std::uint32_t devInst, std::uint32_t flags) = 0;
    virtual std::uint32_t CM_Get_Device_IDW(std::uint32_t devInst, char16_t* buffer, std::uint32_t length,
                                            std::uint32_t flags) = 0;
    // Memory the libraries take from the system (LocalAlloc / LocalFree).
    virtual void* LocalAlloc(std::uint32_t flags, std::size_t bytes) = 0;
    virtual void LocalFree(void* memory) = 0;

    // --- device enumeration ---
    // GetDriveTypeW answers.
    enum : std::uint32_t { kDriveUnknown = 0, kDriveNoRootDir = 1, kDriveRemovable = 2, kDriveFixed = 3, kDriveCdRom = 5 };
    // GetWindowsDirectoryW: the length copied (without the terminator), or
    // the length needed (terminator included) when it does not fit, or 0 on
    // failure.
    virtual std::uint32_t GetWindowsDirectoryW(char16_t* buffer, std::uint32_t capacity) = 0;
    // GetDriveTypeW of a root path: a letter, a colon and a backslash.
    virtual std::uint32_t GetDriveTypeW(const char16_t* rootPath) = 0;

    // --- qfcheck on the live system ---
    enum : std::uint32_t {
        kRpcCAuthnLevelDefault = 0,
        kRpcCImpLevelImpersonate = 3,
    };
    // CoInitializeSecurity for the whole process, as the installer calls it
    // after CoInitializeEx: no security descriptor, default authentication
    // services, the given authentication and impersonation levels, EOAC_NONE.
    virtual HRESULT CoInitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) = 0;
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
