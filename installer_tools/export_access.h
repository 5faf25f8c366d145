// The private members the library exports all the same, reachable for the
// tools that call every export (qfcheck, tests).
#pragma once

#include "QuillFrameInstallerTools.h"

namespace qf {

struct ExportAccess {
    static bool GetDriveLetterFromBootDevice(DriveFreeSpace& d, const QF_WCHAR* bootDevice, QF_WCHAR* drive) {
        return d.GetDriveLetterFromBootDevice(bootDevice, drive);
    }
    static bool PopulatePartitionTableEntries(DriveFreeSpace& d, BootDriveData* pBootDrive) {
        return d.PopulatePartitionTableEntries(pBootDrive);
    }
    static bool QuillFramePartitionExists(DriveFreeSpace& d, BootDriveData* pBootDrive) {
        return d.QuillFramePartitionExists(pBootDrive);
    }
    static bool Is32BitVista(VistaRequirements& v) { return v.Is32BitVista(); }
};

}  // namespace qf
