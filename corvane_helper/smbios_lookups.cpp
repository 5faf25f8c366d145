#include "corvane_helper/smbios_lookups.h"

#include <algorithm>
#include <string_view>

#include "CorvaneHelper.h"
#include "common/boundary.h"
#include "common/byte_cursor.h"
#include "common/format.h"
#include "platform/resources.h"
#include "smbios/smbios_strings.h"

namespace qf::helper {
namespace {

using namespace platform;

smbios::RawSmbiosTable processTable;

constexpr std::uint8_t kSystemInformation = 1;
constexpr std::size_t kDumpNameSize = 100;

}  // namespace

smbios::RawSmbiosTable& ProcessSmbiosTable() { return processTable; }

void ResetProcessSmbiosTable() { processTable = smbios::RawSmbiosTable{}; }

const char* GetSmbiosString(const smbios::SmbiosStructure& structure, std::uint8_t number) {
    return smbios::SmbiosString(structure, number);
}

bool GetSystemInformation(SystemInformationHeader* header) {
    const smbios::RawSmbiosTable& table = ProcessSmbiosTable();
    const auto system = smbios::FindSmbiosStructure(table, kSystemInformation);
    if (!system) return false;
    *header = SystemInformationHeader{};
    // Every version from 2.1 on has these fields; 3.x tables included.
    if (table.majorVersion > 2 || (table.majorVersion == 2 && table.minorVersion >= 1)) {
        // The header lies within the table; byte 4 is read only where the
        // structure's span holds it.
        ByteCursor in(system->bytes, std::max<std::uint32_t>(system->span, 4));
        header->type = in.u8();
        header->length = in.u8();
        header->handle = in.u16();
        header->manufacturerNumber = in.has(4, 1) ? in.u8() : 0;
    }
    if (header->manufacturerNumber != 0)
        header->manufacturer = GetSmbiosString(*system, header->manufacturerNumber);
    return true;
}

int DumpSmbiosStructure(int type, const char* fileName) {
    const auto structure = smbios::FindSmbiosStructure(ProcessSmbiosTable(), static_cast<std::uint8_t>(type));
    if (!structure) return 1;
    Platform& os = Current();
    unique_file file(os.OpenFile(Widen(fileName), "w+b"));
    if (!file) return 0;
    const std::string text =
        ToTextMode(std::string_view(reinterpret_cast<const char*>(structure->bytes), structure->span));
    os.WriteFile(file.get(), text.data(), text.size());
    return 1;
}

}  // namespace qf::helper

bool DumpAll(void) {
    return qf::AtBoundary(true, [] {
        // The table is read anew for every type; a failed read leaves the
        // copy before it to be dumped.
        for (int type = 1; type <= 14; ++type) {
            qf::smbios::corvane_helper::ReadRawSmbiosTable(qf::helper::ProcessSmbiosTable());
            const std::string name = qf::FormatNarrow("table%d.out", {type}, qf::helper::kDumpNameSize - 1);
            qf::helper::DumpSmbiosStructure(type, name.c_str());
        }
        return true;
    });
}
