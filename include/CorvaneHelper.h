// Exported surface of CorvaneHelper: plain functions under their plain
// names, and a member-less class.
#pragma once

#include <stddef.h>

#include "qf_types.h"

#if defined(_WIN32)
#  if defined(QF_CORVANE_HELPER_BUILD)
#    define CORVANE_API __declspec(dllexport)
#  else
#    define CORVANE_API __declspec(dllimport)
#  endif
#else
#  define CORVANE_API __attribute__((visibility("default")))
#endif

extern CORVANE_API int nCorvaneHelper;

// The installer's questions, under their plain names with the platform's
// default C calling convention. Strings are NUL-terminated 8-bit text that
// the caller owns; folders are given without a trailing separator.
extern "C" {
// 1 when Windows runs on the hardware, 0 as a guest of the vendor's
// hypervisor, -1 when the firmware data cannot be had. Writes
// "corvanehelper.log" in the current directory.
CORVANE_API int IsRunningFromNativeWindows(void);
// Whether the firmware's manufacturer is the one "CorvaneHelper.ini" in
// the folder names (section "systeminfo", key "manufacturer").
CORVANE_API bool IsRunningOnNECSystem(const char* pszSettingsFolder);
// 1 when a process of that executable file name runs, 0 otherwise.
CORVANE_API int IsProcessRunning(const char* pszExeName);
// The disk's unallocated space in whole MiB; 0 when a partition reaches into
// the last nTailSectors 512-byte sectors; -1 when the disk cannot be read.
CORVANE_API int GetUnallocatedSpace(int nDiskNumber, int nTailSectors);
// Removes the disk's first partition of type 0x49 through diskpart, with a
// script written into the folder: 0, or -1 on any failure.
CORVANE_API int DeleteVRA(int nDiskNumber, const char* pszScriptFolder);
// Writes the first SMBIOS structure of each type 1 to 14 into "table%d.out"
// in the current directory. Always true.
CORVANE_API bool DumpAll(void);
}

class CORVANE_API CCorvaneHelper {
public:
    CCorvaneHelper();
    CCorvaneHelper& operator=(const CCorvaneHelper&);
};

static_assert(sizeof(CCorvaneHelper) == 1, "member-less class");
