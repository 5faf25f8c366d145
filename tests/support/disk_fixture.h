// Helpers for the boot disk planning tests: a one-disk machine with its
// boot volume on disk 0, the log of chosen methods, a filled record.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "QuillFrameInstallerTools.h"
#include "support/sim_fixture.h"

namespace qftest {

// A machine whose boot volume is C: (its device is the boot device).
// `partitions` and `volumes` are the JSON arrays' contents; `more` further
// top-level members.
inline std::string DiskMachine(const std::string& disk, const std::string& partitions, const std::string& volumes,
                               const std::string& more = "") {
    return Machine(R"("disks": [ { )" + disk + (disk.empty() ? "" : ", ") + R"("partitions": [ )" + partitions +
                   R"( ] } ], "volumes": [ )" + volumes + " ]" + (more.empty() ? "" : ", " + more));
}

// The lines of the given methods (and the empty lines their messages make).
inline std::vector<std::string> Only(const std::vector<std::string>& log, std::initializer_list<std::string> functions) {
    std::vector<std::string> out;
    bool previousKept = false;
    for (const std::string& line : log) {
        bool keep = line.empty() && previousKept;
        for (const std::string& f : functions) keep = keep || line.rfind(f + ": ", 0) == 0;
        if (keep) out.push_back(line);
        previousKept = keep;
    }
    return out;
}

inline BootDriveData ZeroRecord() {
    BootDriveData r;
    std::memset(&r, 0, sizeof r);
    return r;
}

class DiskTest : public SimTest {
protected:
    // A record filled as the installer fills it; its log is dropped.
    BootDriveData Filled(DriveFreeSpace& d) {
        BootDriveData r = ZeroRecord();
        EXPECT_TRUE(d.GetBootDriveData(&r));
        Log();
        return r;
    }
};

}  // namespace qftest
