// Construction, assignment and destruction of the exported classes, and the
// sample exports. The objects live in the installer's storage: constructors
// set only what the installer relies on and leave the rest as it was.
#include <cstring>

#include "QuillFrameInstallerTools.h"

int nQuillFrameInstallerTools = 0;

int fnQuillFrameInstallerTools(void) { return 42; }

CQuillFrameInstallerTools::CQuillFrameInstallerTools() {}
CQuillFrameInstallerTools& CQuillFrameInstallerTools::operator=(const CQuillFrameInstallerTools&) = default;

CWMIProperty::CWMIProperty() {}
CWMIProperty::~CWMIProperty() {}
CWMIProperty& CWMIProperty::operator=(const CWMIProperty&) = default;

#define QF_FLAG_CLEARING(Name)                           \
    Name::Name() : Flag(false), Code(0) {}               \
    Name::~Name() {}                                     \
    Name& Name::operator=(const Name&) = default;

QF_FLAG_CLEARING(MBR)
QF_FLAG_CLEARING(ProcessorVT)
QF_FLAG_CLEARING(DriveInterface)
QF_FLAG_CLEARING(QuillFrameInstalled)
QF_FLAG_CLEARING(QuillFrameRunning)
QF_FLAG_CLEARING(RequiredMemory)
QF_FLAG_CLEARING(VTEnabled)
QF_FLAG_CLEARING(VistaRequirements)

#define QF_EMPTY(Name)                                   \
    Name::Name() {}                                      \
    Name::~Name() {}                                     \
    Name& Name::operator=(const Name&) = default;

QF_EMPTY(CBitlocker)
QF_EMPTY(CPUProperties)
QF_EMPTY(CheckNotAlreadyVirtualized)
QF_EMPTY(EnumeratePCIDevices)
QF_EMPTY(EnumerateDiskDevices)

DriveFreeSpace::DriveFreeSpace() : ErrorFlag(false), LastError(0), Reserved2(0) {
    std::memset(Reserved3, 0, sizeof Reserved3);
}
DriveFreeSpace::~DriveFreeSpace() {}
DriveFreeSpace& DriveFreeSpace::operator=(const DriveFreeSpace&) = default;
