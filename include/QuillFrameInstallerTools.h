// Exported surface of QuillFrame-Installer-Tools. The installer allocates
// these objects in its own storage, so every class keeps exactly its data
// members, in this order, with no base class and no virtual functions.
#pragma once

#include <stddef.h>

#include "qf_types.h"

#if defined(_WIN32)
#  if defined(QF_INSTALLER_TOOLS_BUILD)
#    define QFTOOLS_API __declspec(dllexport)
#  else
#    define QFTOOLS_API __declspec(dllimport)
#  endif
#else
#  define QFTOOLS_API __attribute__((visibility("default")))
#endif

namespace qf { struct ExportAccess; }  // reaches the private exported members (tests, qfcheck)

extern QFTOOLS_API int nQuillFrameInstallerTools;
QFTOOLS_API int fnQuillFrameInstallerTools(void);

class QFTOOLS_API CQuillFrameInstallerTools {
public:
    CQuillFrameInstallerTools();
    CQuillFrameInstallerTools& operator=(const CQuillFrameInstallerTools&);
};

class QFTOOLS_API CWMIProperty {
public:
    CWMIProperty();
    ~CWMIProperty();
    CWMIProperty& operator=(const CWMIProperty&);

    // The class and property names are only read; they are not const because
    // the installer was built against this signature.
    bool GetWMIProperty(QF_WCHAR* className, QF_WCHAR* propertyName, QF_WCHAR* result);
};

// Classes with a flag and a code, cleared by their constructor.
#define QF_FLAG_CODE_CLASS_BODY(Name)   \
public:                                 \
    Name();                             \
    ~Name();                            \
    Name& operator=(const Name&);       \
    bool Flag;                          \
    uint32_t Code;

class QFTOOLS_API MBR {
    QF_FLAG_CODE_CLASS_BODY(MBR)
};

class QFTOOLS_API ProcessorVT {
    QF_FLAG_CODE_CLASS_BODY(ProcessorVT)
    bool Test();
};

// Classes with a flag, a code and a word the constructor leaves unset.
#define QF_FLAG_CODE_WORD_CLASS_BODY(Name) \
    QF_FLAG_CODE_CLASS_BODY(Name)          \
    uint32_t Word;

class QFTOOLS_API DriveInterface {
    QF_FLAG_CODE_WORD_CLASS_BODY(DriveInterface)
};
class QFTOOLS_API QuillFrameInstalled {
    QF_FLAG_CODE_WORD_CLASS_BODY(QuillFrameInstalled)
};
class QFTOOLS_API QuillFrameRunning {
    QF_FLAG_CODE_WORD_CLASS_BODY(QuillFrameRunning)
    bool Test();
    bool SearchForStringInBIOS();
};
class QFTOOLS_API RequiredMemory {
    QF_FLAG_CODE_WORD_CLASS_BODY(RequiredMemory)
    bool Test();
};
class QFTOOLS_API VTEnabled {
    QF_FLAG_CODE_WORD_CLASS_BODY(VTEnabled)
    bool Test();
};
class QFTOOLS_API VistaRequirements {
    QF_FLAG_CODE_WORD_CLASS_BODY(VistaRequirements)
    bool Test();
    bool GetVersion(QF_WCHAR* version);

private:
    friend struct qf::ExportAccess;
    bool Is32BitVista();
};

// Classes with three words that nothing sets or reads.
#define QF_THREE_WORD_CLASS_BODY(Name) \
public:                                \
    Name();                            \
    ~Name();                           \
    Name& operator=(const Name&);      \
    uint32_t Word1;                    \
    uint32_t Word2;                    \
    uint32_t Word3;

class QFTOOLS_API CBitlocker {
    QF_THREE_WORD_CLASS_BODY(CBitlocker)
    bool Test();
};
class QFTOOLS_API CPUProperties {
    QF_THREE_WORD_CLASS_BODY(CPUProperties)
    bool IsCPUType(QF_WCHAR* text);
};
class QFTOOLS_API CheckNotAlreadyVirtualized {
    QF_THREE_WORD_CLASS_BODY(CheckNotAlreadyVirtualized)
    bool Test();
    bool SearchForStringInBIOS(char* text);
};
class QFTOOLS_API EnumeratePCIDevices {
    QF_THREE_WORD_CLASS_BODY(EnumeratePCIDevices)

    // Every present PCI device's hardware-ID list (a UTF-16LE multi-string),
    // one after the other, as far as they fit whole into the caller's buffer;
    // *dwCallerRequiredSize receives the size of them all.
    bool GetDevices(unsigned char* buffer, QF_DWORD dwCallerBufferSize, QF_DWORD* dwCallerRequiredSize);
};

// 64-bit out-values of the disk methods, typed as the system's LARGE_INTEGER
// and ULARGE_INTEGER so the exported names are the ones the installer links
// against. Windows builds only declare the system's unions, so that this
// header does not need <windows.h>; the value is 8 little-endian bytes.
#if defined(_WIN32)
union _LARGE_INTEGER;
union _ULARGE_INTEGER;
typedef union _LARGE_INTEGER QF_LARGE_INTEGER;
typedef union _ULARGE_INTEGER QF_ULARGE_INTEGER;
#else
typedef union QF_LARGE_INTEGER {
    struct { uint32_t LowPart; int32_t HighPart; } u;
    int64_t QuadPart;
} QF_LARGE_INTEGER;
typedef union QF_ULARGE_INTEGER {
    struct { uint32_t LowPart; uint32_t HighPart; } u;
    uint64_t QuadPart;
} QF_ULARGE_INTEGER;
static_assert(sizeof(QF_LARGE_INTEGER) == 8 && sizeof(QF_ULARGE_INTEGER) == 8, "64-bit values");
#endif

// One slot of the boot disk's partition table. Sectors are 512 bytes.
struct PartitionTableEntry {
    QF_DWORD PartitionNumber;        // the slot's own index, 0-3
    QF_DWORD PartitionStyle;         // 0 MBR, 1 GPT, 2 raw
    QF_DWORD PartitionType;          // MBR type byte; 0: empty slot
    QF_WCHAR LogicalDrive;           // 'A'-'Z', or 0
    alignas(8) int64_t StartingSector;
    alignas(8) int64_t SizeInSectors;
    alignas(8) uint64_t EntryReserved;
};

// The boot disk as the planning methods see it; the caller owns and
// zero-fills it.
struct BootDriveData {
    QF_DWORD DiskNumber;
    QF_DWORD CylinderSize;           // sectors per cylinder
    alignas(8) uint64_t Reserved;
    PartitionTableEntry PartitionTable[4];
    QF_DWORD BytesPerSector;
};

class QFTOOLS_API DriveFreeSpace {
public:
    DriveFreeSpace();
    ~DriveFreeSpace();
    DriveFreeSpace& operator=(const DriveFreeSpace&);

    bool GetPhysicalBootDrive(QF_DWORD* pDiskNumber);

    // The boot disk's number and four partition slots with their letters.
    bool GetBootDriveData(BootDriveData* pBootDrive);
    bool GetDriveLetter(QF_WCHAR* pLetter, QF_DWORD index);
    bool GetNumberPartitions(QF_DWORD* pCount);

    // Room for the environment's partition.
    bool DoNotNeedToResize(QF_DWORD nRequiredPartitionSizeInMB);
    bool CheckUnPartitionedSpace(BootDriveData* pBootDrive, QF_DWORD nRequiredSizeInMB);
    bool CheckFreePartition();
    bool GetFreeSpaceInPartition(BootDriveData* pBootDrive, QF_DWORD index, QF_ULARGE_INTEGER* pFreeBytes);
    bool CheckFreeSpaceInPartition(BootDriveData* pBootDrive, QF_DWORD nRequiredSizeInMB, QF_DWORD index);
    bool CanResize(QF_DWORD mode, QF_DWORD nRequiredSizeInMB, QF_DWORD* pValue,
                   QF_DWORD* dwPartitionsCanResizeBitmask);
    bool Test(QF_DWORD nRequiredSizeInMB);

    // The environment's own partition (type 0x49).
    bool IsQuillFrameInstalled();
    bool GetQFPartitionSize(BootDriveData* pBootDrive, QF_LARGE_INTEGER* pSize);

    // The boot record and the system's view of the partition table.
    bool VerifyMBRIsWindows();
    bool CheckForNonStandardPartitions();
    bool ForcePartitionTableRescan();

    bool ErrorFlag;
    QF_DWORD LastError;
    uint32_t Reserved1;              // left unset by the constructor
    uint32_t Reserved2;              // set to 0 by the constructor
    uint8_t Reserved3[160];          // zero-filled by the constructor

private:
    friend struct qf::ExportAccess;
    bool GetDriveLetterFromBootDevice(const QF_WCHAR* bootDevice, QF_WCHAR* drive);
    bool PopulatePartitionTableEntries(BootDriveData* pBootDrive);
    bool QuillFramePartitionExists(BootDriveData* pBootDrive);
};

class QFTOOLS_API EnumerateDiskDevices {
public:
    EnumerateDiskDevices();
    ~EnumerateDiskDevices();
    EnumerateDiskDevices& operator=(const EnumerateDiskDevices&);

    // Buffers of device IDs and addresses hold 260 wide characters.
    bool GetBootDiskControllerAddress(QF_WCHAR* address);
    bool GetDriveControllerDeviceID(QF_WCHAR* path, QF_WCHAR* deviceId);
    bool IsOnlyDiskConnectedToController(const QF_WCHAR* text);
    int GetAllDisksDeviceID();

    // The parent device ID of each disk interface, by enumeration position.
    QF_WCHAR DisksDeviceID[10][260];
    uint32_t Word1;
    uint32_t Word2;
    uint32_t Word3;
};

#undef QF_FLAG_CODE_WORD_CLASS_BODY
#undef QF_FLAG_CODE_CLASS_BODY
#undef QF_THREE_WORD_CLASS_BODY

// The layout the installer was built against.
static_assert(sizeof(CQuillFrameInstallerTools) == 1 && sizeof(CWMIProperty) == 1, "member-less classes");
static_assert(sizeof(MBR) == 8 && sizeof(ProcessorVT) == 8, "flag, code");
static_assert(sizeof(DriveInterface) == 12 && sizeof(QuillFrameInstalled) == 12 &&
                  sizeof(QuillFrameRunning) == 12 && sizeof(RequiredMemory) == 12 &&
                  sizeof(VTEnabled) == 12 && sizeof(VistaRequirements) == 12,
              "flag, code, word");
static_assert(sizeof(CBitlocker) == 12 && sizeof(CPUProperties) == 12 &&
                  sizeof(CheckNotAlreadyVirtualized) == 12 && sizeof(EnumeratePCIDevices) == 12,
              "three words");
static_assert(sizeof(PartitionTableEntry) == 40, "PartitionTableEntry size");
static_assert(offsetof(PartitionTableEntry, PartitionType) == 8 && offsetof(PartitionTableEntry, LogicalDrive) == 12 &&
                  offsetof(PartitionTableEntry, StartingSector) == 16 &&
                  offsetof(PartitionTableEntry, SizeInSectors) == 24 &&
                  offsetof(PartitionTableEntry, EntryReserved) == 32,
              "PartitionTableEntry layout");
static_assert(sizeof(BootDriveData) == 184, "BootDriveData size");
static_assert(offsetof(BootDriveData, CylinderSize) == 4 && offsetof(BootDriveData, Reserved) == 8 &&
                  offsetof(BootDriveData, PartitionTable) == 16 && offsetof(BootDriveData, BytesPerSector) == 176,
              "BootDriveData layout");
static_assert(sizeof(DriveFreeSpace) == 176, "DriveFreeSpace size");
static_assert(offsetof(DriveFreeSpace, LastError) == 4 && offsetof(DriveFreeSpace, Reserved1) == 8 &&
                  offsetof(DriveFreeSpace, Reserved2) == 12 && offsetof(DriveFreeSpace, Reserved3) == 16,
              "DriveFreeSpace layout");
static_assert(sizeof(EnumerateDiskDevices) == 5212, "EnumerateDiskDevices size");
static_assert(offsetof(EnumerateDiskDevices, Word1) == 5200, "EnumerateDiskDevices layout");
