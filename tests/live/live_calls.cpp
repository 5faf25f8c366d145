#include "live/live_calls.h"

#include <stdexcept>

namespace qftest {

const std::vector<LiveCall>& LiveCalls() {
    static const std::vector<LiveCall> calls = {
        {"fnQuillFrameInstallerTools", {}},
        {"nQuillFrameInstallerTools", {}},
        {"CWMIProperty::GetWMIProperty", {"Win32_OperatingSystem", "BootDevice"}},
        {"DriveFreeSpace::GetPhysicalBootDrive", {}},
        {"DriveFreeSpace::GetDriveLetterFromBootDevice", {"{bootDevice}"}},
        {"DriveFreeSpace::GetBootDriveData", {}},
        {"DriveFreeSpace::PopulatePartitionTableEntries", {"0"}},
        {"DriveFreeSpace::GetDriveLetter", {"0"}},
        {"DriveFreeSpace::GetNumberPartitions", {}},
        {"DriveFreeSpace::DoNotNeedToResize", {"1945"}},
        {"DriveFreeSpace::CheckUnPartitionedSpace", {"1945"}},
        {"DriveFreeSpace::CheckFreePartition", {}},
        {"DriveFreeSpace::GetFreeSpaceInPartition", {"0"}},
        {"DriveFreeSpace::CheckFreeSpaceInPartition", {"0", "1945"}},
        {"DriveFreeSpace::CanResize", {"1945", "1"}},
        {"DriveFreeSpace::Test", {"1945"}},
        {"DriveFreeSpace::IsQuillFrameInstalled", {}},
        {"DriveFreeSpace::QuillFramePartitionExists", {}},
        {"DriveFreeSpace::GetQFPartitionSize", {}},
        {"DriveFreeSpace::VerifyMBRIsWindows", {}},
        {"DriveFreeSpace::CheckForNonStandardPartitions", {}},
        {"DriveFreeSpace::ForcePartitionTableRescan", {}},
        {"CheckNotAlreadyVirtualized::Test", {}},
        {"CheckNotAlreadyVirtualized::SearchForStringInBIOS", {"VMware"}},
        {"QuillFrameRunning::Test", {}},
        {"QuillFrameRunning::SearchForStringInBIOS", {}},
        {"ProcessorVT::Test", {}},
        {"VTEnabled::Test", {}},
        {"CPUProperties::IsCPUType", {"Intel"}},
        {"RequiredMemory::Test", {}},
        {"VistaRequirements::Test", {}},
        {"VistaRequirements::GetVersion", {}},
        {"VistaRequirements::Is32BitVista", {}},
        {"CBitlocker::Test", {}},
        {"EnumerateDiskDevices::GetBootDiskControllerAddress", {}},
        {"EnumerateDiskDevices::GetDriveControllerDeviceID", {"C:\\Windows"}},
        {"EnumerateDiskDevices::IsOnlyDiskConnectedToController", {"PCI\\VEN_0000&DEV_0000"}},
        {"EnumerateDiskDevices::GetAllDisksDeviceID", {}},
        {"EnumeratePCIDevices::GetDevices", {"65536"}},
        {"IsRunningFromNativeWindows", {}},
        {"IsRunningOnNECSystem", {"{dir}"}},
        {"IsProcessRunning", {"{exe}"}},
        {"GetUnallocatedSpace", {"0", "0"}},
        {"DeleteVRA", {"0", "{dir}"}},
        {"DumpAll", {}},
        {"CCorvaneHelper::CCorvaneHelper", {}},
        {"CCorvaneHelper::operator=", {}},
        {"nCorvaneHelper", {}},
    };
    return calls;
}

std::vector<std::string> Expand(const std::vector<std::string>& args, const std::map<std::string, std::string>& values) {
    std::vector<std::string> out;
    for (const std::string& a : args) {
        if (a.size() > 2 && a.front() == '{' && a.back() == '}') {
            const auto it = values.find(a);
            if (it == values.end()) throw std::invalid_argument("no value for " + a);
            out.push_back(it->second);
        } else {
            out.push_back(a);
        }
    }
    return out;
}

}  // namespace qftest
