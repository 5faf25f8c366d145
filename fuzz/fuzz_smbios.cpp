// The SMBIOS walk, the string lookup and the marker searches on arbitrary
// bytes: every structure found lies wholly within the table, every string
// within its structure's span, and nothing is read past the table's end
// (AddressSanitizer watches the copy, which is exactly as long as the table).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "smbios/raw_smbios_table.h"
#include "smbios/smbios_strings.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

void Strings(const qf::smbios::SmbiosStructure& s) {
    for (unsigned n = 0; n <= 255; ++n) {
        const char* text = qf::smbios::SmbiosString(s, static_cast<std::uint8_t>(n));
        if (n == 0) {
            Check(text == nullptr);
            continue;
        }
        if (!text) break;
        const auto* at = reinterpret_cast<const std::uint8_t*>(text);
        Check(at >= s.bytes && at < s.bytes + s.span);
        // Terminated within the span (strlen would run on otherwise, under ASan's eye).
        Check(at + std::strlen(text) < s.bytes + s.span);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0xFFFFFF) return 0;
    // A record owning a copy of exactly the input, as a read leaves it.
    qf::smbios::RawSmbiosTable record;
    if (size) {
        record.tableBytes.reset(static_cast<std::uint8_t*>(std::malloc(size)));
        std::memcpy(record.tableBytes.get(), data, size);
    }
    record.tableLength = static_cast<std::uint32_t>(size);
    const std::uint8_t* table = record.tableBytes.get();

    // Structure by structure, as far as the walk goes, noting the types met.
    bool met[256] = {};
    for (std::uint32_t at = 0; at < size;) {
        const auto s = qf::smbios::FindSmbiosStructure(table + at, record.tableLength - at, table[at]);
        if (!s) break;
        Check(s->offset == 0);
        met[table[at]] = true;
        at += s->span + 1;
    }

    // The first structure of each type met, and of two that may not be there.
    met[11] = met[size ? data[size - 1] : 0] = true;
    for (unsigned type = 0; type <= 255; ++type) {
        if (!met[type]) continue;
        const auto s = qf::smbios::FindSmbiosStructure(record, static_cast<std::uint8_t>(type));
        if (!s) continue;
        Check(s->bytes == table + s->offset);
        Check(s->bytes[0] == type);
        Check(s->offset < size && s->span < size - s->offset);  // the closing NUL lies within too
        Check(s->span >= 1 && s->bytes[s->span - 1] == 0 && s->bytes[s->span] == 0);
        Strings(*s);
        for (const char* marker : {"VMware", "Corvane Driftwell", ""})
            (void)qf::smbios::ContainsPattern(s->bytes, s->span, marker);
    }

    // A pattern taken from the input itself, searched in the whole table.
    if (size) {
        const std::size_t n = data[0] % 24;
        std::string pattern(reinterpret_cast<const char*>(data) + 1, std::min(n, size - 1));
        pattern = pattern.c_str();  // up to its first NUL
        const bool found = qf::smbios::ContainsPattern(table, size, pattern.c_str());
        const std::string text(reinterpret_cast<const char*>(table), size);
        if (!pattern.empty()) Check(found == (text.find(pattern) != std::string::npos));
    }
    return 0;
}
