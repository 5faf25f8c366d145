// A caller built the way the installer is built: Microsoft's C++ ABI
// (clang in MSVC mode), linked by an MSVC-style linker against our .lib.
// No C runtime: it talks to the system through kernel32 and ole32 only.
// Exit code 0 when every check held, else the number of the first that failed.
#include "CorvaneHelper.h"
#include "QuillFrameInstallerTools.h"

extern "C" {
__declspec(dllimport) void __stdcall ExitProcess(unsigned);
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long);
__declspec(dllimport) int __stdcall WriteFile(void*, const void*, unsigned long, unsigned long*, void*);
__declspec(dllimport) void* __stdcall GetModuleHandleA(const char*);
__declspec(dllimport) void* __stdcall GetProcAddress(void*, const char*);
__declspec(dllimport) long __stdcall CoInitializeEx(void*, unsigned long);
__declspec(dllimport) long __stdcall CoInitializeSecurity(void*, long, void*, void*, unsigned long, unsigned long,
                                                           void*, unsigned long, void*);
}

typedef decltype(sizeof 0) size_t;
inline void* operator new(size_t, void* p) noexcept { return p; }

static void Say(const char* text) {
    unsigned long n = 0, written;
    while (text[n]) ++n;
    WriteFile(GetStdHandle(static_cast<unsigned long>(-11)), text, n, &written, nullptr);
}

static int failed = 0;
static void Check(int number, bool ok, const char* what) {
    Say(ok ? "ok   " : "FAIL ");
    Say(what);
    Say("\r\n");
    if (!ok && !failed) failed = number;
}

// A constructor called as MSVC calls it: `this` in ECX, handed back in EAX.
typedef void* (__thiscall* Constructor)(void*);
typedef void* (__thiscall* Assignment)(void*, const void*);

extern "C" void Start() {
    void* dll = GetModuleHandleA("QuillFrame-Installer-Tools.dll");
    Check(1, dll != nullptr, "the library is loaded through its import library");
    Check(2, fnQuillFrameInstallerTools() == 42, "fnQuillFrameInstallerTools returns 42");
    Check(3, nQuillFrameInstallerTools == 0, "nQuillFrameInstallerTools reads 0");

    alignas(8) static unsigned char storage[sizeof(DriveFreeSpace)];
    for (unsigned char& b : storage) b = 0xCC;
    auto construct = reinterpret_cast<Constructor>(GetProcAddress(dll, "??0DriveFreeSpace@@QAE@XZ"));
    Check(4, construct != nullptr, "the constructor is exported under its MSVC name");
    void* self = construct ? construct(storage) : nullptr;
    Check(5, self == storage, "the constructor hands back this");
    auto* drive = reinterpret_cast<DriveFreeSpace*>(storage);
    bool cleared = !drive->ErrorFlag && drive->LastError == 0 && drive->Reserved2 == 0;
    for (unsigned char b : drive->Reserved3) cleared = cleared && b == 0;
    Check(6, cleared && drive->Reserved1 == 0xCCCCCCCCu, "the constructor sets exactly its members");

    alignas(8) static unsigned char copy[sizeof(DriveFreeSpace)];
    new (copy) DriveFreeSpace;
    drive->LastError = 87;
    auto assign = reinterpret_cast<Assignment>(GetProcAddress(dll, "??4DriveFreeSpace@@QAEAAV0@ABV0@@Z"));
    Check(7, assign && assign(copy, storage) == copy, "assignment hands back this");
    Check(8, reinterpret_cast<DriveFreeSpace*>(copy)->LastError == 87, "assignment copies the members");

    CoInitializeEx(nullptr, 0);
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 3, nullptr, 0, nullptr);
    CWMIProperty wmi;
    wchar_t className[] = L"Win32_OperatingSystem", property[] = L"BootDevice";
    wchar_t text[200] = {};
    Check(9, wmi.GetWMIProperty(className, property, text) && text[0] == L'\\',
          "CWMIProperty::GetWMIProperty reads the boot device");
    unsigned long disk = 0xFFFFFFFF;
    const bool found = drive->GetPhysicalBootDrive(&disk);
    Check(10, found == (disk != 0xFFFFFFFF), "DriveFreeSpace::GetPhysicalBootDrive answers through its MSVC name");

    // Methods that need no machine state, on records and buffers of our own.
    BootDriveData record = {};
    record.PartitionTable[2].PartitionType = 0x49;
    record.PartitionTable[2].SizeInSectors = 1945LL * 2048;
    alignas(8) long long size = 0;
    Check(11, drive->GetQFPartitionSize(&record, reinterpret_cast<_LARGE_INTEGER*>(&size)) &&
                  size == 1945LL * 1048576,
          "DriveFreeSpace::GetQFPartitionSize gives the size of the 0x49 slot in bytes");
    Check(12, drive->CheckForNonStandardPartitions(), "DriveFreeSpace::CheckForNonStandardPartitions answers true");
    VistaRequirements vista;
    wchar_t version[200] = {};
    Check(13, vista.GetVersion(version) && version[0] != 0, "VistaRequirements::GetVersion names the system");
    drive->~DriveFreeSpace();

    // The helper library: plain functions under their plain names, the
    // class under its MSVC names.
    void* helper = GetModuleHandleA("CorvaneHelper.dll");
    Check(14, helper != nullptr && nCorvaneHelper == 0, "CorvaneHelper is loaded through its import library");
    Check(15, IsRunningFromNativeWindows() == 1, "IsRunningFromNativeWindows answers through its plain name");
    Check(16, IsProcessRunning("caller.exe") == 1 && IsProcessRunning("no-such-program.exe") == 0,
          "IsProcessRunning finds this very program and no other");
    alignas(4) static unsigned char helperStorage[1];
    auto helperConstruct = reinterpret_cast<Constructor>(GetProcAddress(helper, "??0CCorvaneHelper@@QAE@XZ"));
    Check(17, helperConstruct && helperConstruct(helperStorage) == helperStorage,
          "CCorvaneHelper's constructor hands back this");

    // Every class's constructor, assignment and destructor, by the names the
    // installer links against.
    struct Special {
        void* dll;
        const char *constructor, *assignment, *destructor;  // no destructor: none is exported
        unsigned size;
    };
#define QF_SPECIAL(dll, C) \
    {dll, "??0" #C "@@QAE@XZ", "??4" #C "@@QAEAAV0@ABV0@@Z", "??1" #C "@@QAE@XZ", sizeof(C)}
    const Special classes[] = {
        {dll, "??0CQuillFrameInstallerTools@@QAE@XZ", "??4CQuillFrameInstallerTools@@QAEAAV0@ABV0@@Z", nullptr, 1},
        QF_SPECIAL(dll, CWMIProperty), QF_SPECIAL(dll, MBR), QF_SPECIAL(dll, ProcessorVT),
        QF_SPECIAL(dll, DriveInterface), QF_SPECIAL(dll, QuillFrameInstalled), QF_SPECIAL(dll, QuillFrameRunning),
        QF_SPECIAL(dll, RequiredMemory), QF_SPECIAL(dll, VTEnabled), QF_SPECIAL(dll, VistaRequirements),
        QF_SPECIAL(dll, CBitlocker), QF_SPECIAL(dll, CPUProperties), QF_SPECIAL(dll, CheckNotAlreadyVirtualized),
        QF_SPECIAL(dll, EnumeratePCIDevices), QF_SPECIAL(dll, DriveFreeSpace), QF_SPECIAL(dll, EnumerateDiskDevices),
        {helper, "??0CCorvaneHelper@@QAE@XZ", "??4CCorvaneHelper@@QAEAAV0@ABV0@@Z", nullptr, 1},
    };
#undef QF_SPECIAL
    typedef void(__thiscall * Destructor)(void*);
    bool allConstructed = true, allAssigned = true, allDestroyed = true;
    for (const Special& c : classes) {
        alignas(8) static unsigned char first[16384], second[16384];
        if (c.size > sizeof first) {
            Say("     too large for the test's storage: "), Say(c.constructor), Say("\r\n");
            allConstructed = false;
            continue;
        }
        auto construct = reinterpret_cast<Constructor>(GetProcAddress(c.dll, c.constructor));
        auto assign = reinterpret_cast<Assignment>(GetProcAddress(c.dll, c.assignment));
        const bool constructed = construct && construct(first) == first && construct(second) == second;
        const bool assigned = assign && assign(second, first) == second;
        auto destroy = reinterpret_cast<Destructor>(c.destructor ? GetProcAddress(c.dll, c.destructor) : nullptr);
        if (destroy) destroy(first), destroy(second);
        const bool destroyed = !c.destructor || destroy;
        if (!constructed || !assigned || !destroyed) Say("     at "), Say(c.constructor), Say("\r\n");
        allConstructed = allConstructed && constructed;
        allAssigned = allAssigned && assigned;
        allDestroyed = allDestroyed && destroyed;
    }
    Check(18, allConstructed, "every class's constructor hands back this");
    Check(19, allAssigned, "every class's assignment hands back this");
    Check(20, allDestroyed, "every exported destructor is there, and returns");
    ExitProcess(static_cast<unsigned>(failed));
}

// The compiler may call these for the buffers and copies above.
extern "C" void* memset(void* p, int v, size_t n) {
    auto* b = static_cast<unsigned char*>(p);
    while (n--) *b++ = static_cast<unsigned char>(v);
    return p;
}

extern "C" void* memcpy(void* to, const void* from, size_t n) {
    auto* t = static_cast<unsigned char*>(to);
    auto* f = static_cast<const unsigned char*>(from);
    while (n--) *t++ = *f++;
    return to;
}
