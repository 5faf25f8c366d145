// Exports of boot disk planning: the boot drive data and partition table,
// unpartitioned space, resize candidates, the environment's partition, the
// boot record and the rescan.
#include <cstring>

#include "exports.h"
#include "installer_tools/export_access.h"
#include "installer_tools/large_integer.h"

namespace qfcheck {
namespace {

using Kind = Param::Kind;

BootDriveData ZeroFilled() {
    BootDriveData record;
    std::memset(&record, 0, sizeof record);
    return record;
}

Json RecordJson(const BootDriveData& r) {
    Json slots = Json::array();
    for (const PartitionTableEntry& e : r.PartitionTable)
        slots.push_back({{"PartitionNumber", e.PartitionNumber},
                         {"PartitionStyle", e.PartitionStyle},
                         {"PartitionType", e.PartitionType},
                         {"LogicalDrive", LetterText(static_cast<char16_t>(e.LogicalDrive))},
                         {"StartingSector", e.StartingSector},
                         {"SizeInSectors", e.SizeInSectors},
                         {"EntryReserved", e.EntryReserved}});
    return {{"DiskNumber", r.DiskNumber},
            {"CylinderSize", r.CylinderSize},
            {"Reserved", r.Reserved},
            {"PartitionTable", slots},
            {"BytesPerSector", r.BytesPerSector}};
}

// The record a method that takes a filled one gets: zero-filled and filled
// as the installer fills it, on the run's one object.
BootDriveData Prepared(Session& s, CallResult& r) {
    BootDriveData record = ZeroFilled();
    s.driveFreeSpace.GetBootDriveData(&record);
    r.prepareLog = s.TakeLogLines();
    return record;
}

}  // namespace

void AddDiskExports(std::vector<ExportDef>& e) {
    e.push_back({"DriveFreeSpace::GetBootDriveData", {}, {}, true, [](Session& s, const CallArgs&, CallResult& r) {
                     BootDriveData record = ZeroFilled();
                     r.result = s.driveFreeSpace.GetBootDriveData(&record);
                     r.out["record"] = RecordJson(record);
                 }});
    e.push_back({"DriveFreeSpace::PopulatePartitionTableEntries", {{Kind::Number, "diskNumber"}}, {}, true,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     BootDriveData record = ZeroFilled();
                     record.DiskNumber = a.Number(0);
                     r.result = qf::ExportAccess::PopulatePartitionTableEntries(s.driveFreeSpace, &record);
                     r.out["record"] = RecordJson(record);
                 }});
    e.push_back({"DriveFreeSpace::GetDriveLetter", {{Kind::Number, "index"}}, {}, true,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     QF_WCHAR letter = 0;
                     r.result = s.driveFreeSpace.GetDriveLetter(&letter, a.Number(0));
                     r.out["letter"] = LetterText(static_cast<char16_t>(letter));
                 }});
    e.push_back({"DriveFreeSpace::GetNumberPartitions", {}, {}, true, [](Session& s, const CallArgs&, CallResult& r) {
                     QF_DWORD count = 0;
                     r.result = s.driveFreeSpace.GetNumberPartitions(&count);
                     r.out["count"] = count;
                 }});

    e.push_back({"DriveFreeSpace::DoNotNeedToResize", {{Kind::Number, "nRequiredPartitionSizeInMB"}}, {}, true,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     r.result = s.driveFreeSpace.DoNotNeedToResize(a.Number(0));
                 }});
    e.push_back({"DriveFreeSpace::CheckUnPartitionedSpace", {{Kind::Number, "sizeInMB"}}, {}, true,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     BootDriveData record = Prepared(s, r);
                     r.result = s.driveFreeSpace.CheckUnPartitionedSpace(&record, a.Number(0));
                     r.out["record"] = RecordJson(record);
                 }});

    e.push_back({"DriveFreeSpace::CheckFreePartition", {}, {}, true, [](Session& s, const CallArgs&, CallResult& r) {
                     r.result = s.driveFreeSpace.CheckFreePartition();
                 }});
    e.push_back({"DriveFreeSpace::GetFreeSpaceInPartition", {{Kind::Number, "index"}}, {}, true,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     BootDriveData record = Prepared(s, r);
                     qf::tools::ULargeInteger freeBytes;
                     r.result = s.driveFreeSpace.GetFreeSpaceInPartition(&record, a.Number(0), freeBytes.get());
                     r.out["freeBytes"] = freeBytes.value();
                     r.out["record"] = RecordJson(record);
                 }});
    e.push_back({"DriveFreeSpace::CheckFreeSpaceInPartition", {{Kind::Number, "sizeInMB"}, {Kind::Number, "index"}},
                 {}, true, [](Session& s, const CallArgs& a, CallResult& r) {
                     BootDriveData record = Prepared(s, r);
                     r.result = s.driveFreeSpace.CheckFreeSpaceInPartition(&record, a.Number(0), a.Number(1));
                     r.out["record"] = RecordJson(record);
                 }});
    e.push_back({"DriveFreeSpace::CanResize", {{Kind::Number, "mode"}, {Kind::Number, "sizeInMB"}},
                 {{Kind::Number, "dwPartitionsCanResizeBitmask"}}, true,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     QF_DWORD value = 0;
                     QF_DWORD bitmask = a.has(2) ? a.Number(2) : 0;
                     r.result = s.driveFreeSpace.CanResize(a.Number(0), a.Number(1), &value, &bitmask);
                     r.out["dwPartitionsCanResizeBitmask"] = bitmask;
                     r.out["value"] = value;
                 }});
    e.push_back({"DriveFreeSpace::Test", {{Kind::Number, "sizeInMB"}}, {}, true,
                 [](Session& s, const CallArgs& a, CallResult& r) { r.result = s.driveFreeSpace.Test(a.Number(0)); }});

    e.push_back({"DriveFreeSpace::IsQuillFrameInstalled", {}, {}, true,
                 [](Session& s, const CallArgs&, CallResult& r) { r.result = s.driveFreeSpace.IsQuillFrameInstalled(); }});
    e.push_back({"DriveFreeSpace::QuillFramePartitionExists", {}, {}, true,
                 [](Session& s, const CallArgs&, CallResult& r) {
                     BootDriveData record = Prepared(s, r);
                     r.result = qf::ExportAccess::QuillFramePartitionExists(s.driveFreeSpace, &record);
                     r.out["record"] = RecordJson(record);
                 }});
    e.push_back({"DriveFreeSpace::GetQFPartitionSize", {}, {{Kind::Number, "size"}}, true,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     BootDriveData record = Prepared(s, r);
                     qf::tools::LargeInteger size(a.has(0) ? a.Number(0) : 0);
                     r.result = s.driveFreeSpace.GetQFPartitionSize(&record, size.get());
                     r.out["size"] = size.value();
                     r.out["record"] = RecordJson(record);
                 }});

    e.push_back({"DriveFreeSpace::VerifyMBRIsWindows", {}, {}, true,
                 [](Session& s, const CallArgs&, CallResult& r) { r.result = s.driveFreeSpace.VerifyMBRIsWindows(); }});
    e.push_back({"DriveFreeSpace::CheckForNonStandardPartitions", {}, {}, true,
                 [](Session& s, const CallArgs&, CallResult& r) {
                     r.result = s.driveFreeSpace.CheckForNonStandardPartitions();
                 }});
    e.push_back({"DriveFreeSpace::ForcePartitionTableRescan", {}, {}, true,
                 [](Session& s, const CallArgs&, CallResult& r) {
                     r.result = s.driveFreeSpace.ForcePartitionTableRescan();
                 }});
}

}  // namespace qfcheck
