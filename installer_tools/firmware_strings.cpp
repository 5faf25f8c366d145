// Whether a hypervisor's marker lies in the firmware's SMBIOS data: the
// first OEM Strings structure (type 11) of a fresh copy of the raw table is
// searched, and nothing else. Nothing is logged.
#include "QuillFrameInstallerTools.h"
#include "common/boundary.h"
#include "smbios/raw_smbios_table.h"
#include "smbios/smbios_strings.h"

namespace qf::tools {
namespace {

constexpr std::uint8_t kOemStrings = 11;
constexpr char kOtherHypervisorMarker[] = "VMware";
constexpr char kOwnHypervisorSignature[] = "Corvane Driftwell";

// The firmware string search. The record lives for this search only; a read
// that fails leaves it without a table, in which no structure is found.
bool SearchFirmwareStrings(const char* pattern) {
    smbios::RawSmbiosTable record;
    smbios::installer_tools::ReadRawSmbiosTable(record);
    const auto oem = smbios::FindSmbiosStructure(record, kOemStrings);
    return oem && smbios::ContainsPattern(oem->bytes, oem->span, pattern);
}

}  // namespace
}  // namespace qf::tools

bool CheckNotAlreadyVirtualized::SearchForStringInBIOS(char* text) {
    return qf::AtBoundary(false, [&] { return qf::tools::SearchFirmwareStrings(text); });
}

bool CheckNotAlreadyVirtualized::Test() {
    // A search that cannot finish found no marker, as a failed read does.
    return !qf::AtBoundary(false, [&] { return qf::tools::SearchFirmwareStrings(qf::tools::kOtherHypervisorMarker); });
}

bool QuillFrameRunning::SearchForStringInBIOS() {
    return qf::AtBoundary(false, [&] { return qf::tools::SearchFirmwareStrings(qf::tools::kOwnHypervisorSignature); });
}

bool QuillFrameRunning::Test() {
    return qf::AtBoundary(false, [&] { return SearchForStringInBIOS(); });
}
