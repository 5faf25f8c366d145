// The human report of `qfcheck preflight`: the verdict first, then one line
// per question, then a picture of the boot disk.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "preflight.h"
#include "units.h"

namespace qfcheck::preflight {
namespace {

constexpr int kBarWidth = 64;
constexpr std::uint64_t kSectorBytes = 512;

class Paint {
public:
    explicit Paint(bool on) : on_(on) {}
    std::string operator()(const char* code, const std::string& text) const {
        return on_ && !text.empty() ? "\x1b[" + std::string(code) + "m" + text + "\x1b[0m" : text;
    }

private:
    bool on_;
};

const char* kGreen = "32";
const char* kRed = "1;31";
const char* kYellow = "33";
const char* kDim = "2";
const char* kBold = "1";
const char* kCyan = "36";

std::string Pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string Mark(Status s, const Paint& paint) {
    switch (s) {
    case Status::Ok: return paint(kGreen, Pad("ok", 6));
    case Status::Blocks: return paint(kRed, Pad("BLOCK", 6));
    case Status::Warn: return paint(kYellow, Pad("note", 6));
    case Status::Info: return Pad("", 6);
    case Status::Skipped: return paint(kDim, Pad("skip", 6));
    }
    return Pad("", 6);
}

std::string TypeName(std::uint32_t type) {
    switch (type) {
    case 0x01: return "FAT12";
    case 0x04: case 0x06: case 0x0E: return "FAT16";
    case 0x05: case 0x0F: return "extended";
    case 0x07: return "NTFS";
    case 0x0B: case 0x0C: return "FAT32";
    case 0x12: return "OEM diagnostics";
    case 0x17: return "hidden NTFS";
    case 0x1B: case 0x1C: return "hidden FAT32";
    case 0x27: return "hidden recovery";
    case 0x49: return "QuillFrame environment";
    case 0x82: return "Linux swap";
    case 0x83: return "Linux";
    case 0xDE: return "OEM utility";
    case 0xEE: return "GPT protective";
    default: return "other";
    }
}

std::string Hex(std::uint32_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v);
    return text;
}

// One stretch of the disk as the bar draws it.
struct Piece {
    enum class Kind { Partition, Gap, New } kind;
    std::uint64_t start, end;  // sectors
    char key;
    const Slot* slot = nullptr;
    int width = 0;
};

std::string SlotLabel(const Slot& s) {
    return s.letter ? std::string(1, s.letter) + ":" : "slot " + std::to_string(s.index);
}

// The boot disk's partitions and gaps, in disk order, with the new
// partition cut out of the gap it would fill or the partition it would
// shrink.
std::vector<Piece> Pieces(const Result& r, std::uint64_t* total) {
    const DiskPicture& d = r.disk;
    std::vector<Piece> parts;
    std::uint64_t end = 0;
    for (const Slot& s : d.slots) {
        if (s.type == 0 || s.sizeSectors == 0) continue;
        const char key = s.letter ? s.letter : static_cast<char>('0' + s.index);
        parts.push_back({Piece::Kind::Partition, s.startSector, s.startSector + s.sizeSectors, key, &s});
        end = std::max(end, s.startSector + s.sizeSectors);
    }
    std::sort(parts.begin(), parts.end(), [](const Piece& a, const Piece& b) { return a.start < b.start; });
    *total = d.sizeBytes ? std::max(end, *d.sizeBytes / kSectorBytes) : end;

    const std::uint64_t newSectors = static_cast<std::uint64_t>(r.sizeMB) * 2048;
    std::vector<Piece> out;
    std::uint64_t at = 0;
    auto gap = [&](std::uint64_t from, std::uint64_t to) {
        if (to <= from) return;
        const Placement& p = d.placement;
        if (p.kind == Placement::Kind::Gap && p.startSector >= from && p.startSector < to) {
            const std::uint64_t cut = std::min(to, p.startSector + newSectors);
            if (p.startSector > from) out.push_back({Piece::Kind::Gap, from, p.startSector, '.'});
            out.push_back({Piece::Kind::New, p.startSector, cut, '#'});
            if (cut < to) out.push_back({Piece::Kind::Gap, cut, to, '.'});
        } else {
            out.push_back({Piece::Kind::Gap, from, to, '.'});
        }
    };
    for (const Piece& part : parts) {
        gap(at, part.start);
        const Placement& p = d.placement;
        if (p.kind == Placement::Kind::Shrink && part.slot && static_cast<int>(part.slot->index) == p.shrinkSlot &&
            p.startSector > part.start) {
            Piece kept = part;
            kept.end = p.startSector;
            out.push_back(kept);
            out.push_back({Piece::Kind::New, p.startSector, part.end, '#'});
        } else {
            out.push_back(part);
        }
        at = std::max(at, part.end);
    }
    gap(at, *total);
    return out;
}

// Columns in proportion to size; a partition, however small, gets one.
void Measure(std::vector<Piece>& pieces, std::uint64_t total) {
    if (total == 0) return;
    auto column = [&](std::uint64_t sector) {
        return static_cast<int>(std::llround(static_cast<long double>(sector) * kBarWidth / total));
    };
    for (Piece& p : pieces) p.width = column(std::min(p.end, total)) - column(std::min(p.start, total));
    for (Piece& p : pieces) {
        if (p.width > 0 || p.kind == Piece::Kind::Gap) continue;
        auto widest = std::max_element(pieces.begin(), pieces.end(),
                                       [](const Piece& a, const Piece& b) { return a.width < b.width; });
        if (widest->width <= 1) break;
        --widest->width;
        p.width = 1;
    }
}

std::string PieceColour(const Piece& p) {
    switch (p.kind) {
    case Piece::Kind::New: return kGreen;
    case Piece::Kind::Gap: return kDim;
    default: return kCyan;
    }
}

void DrawDisk(std::ostringstream& out, const Result& r, const Paint& paint) {
    const DiskPicture& d = r.disk;
    if (!d.read) {
        out << "\n" << paint(kBold, "Boot disk") << ": its partition table could not be read, so there is nothing to draw.\n";
        return;
    }
    int mbrSlots = 0, gptSlots = 0;
    for (const Slot& s : d.slots) (s.style == 1 ? gptSlots : mbrSlots) += 1;
    out << "\n" << paint(kBold, "Boot disk " + std::to_string(d.diskNumber)) << ": "
        << (d.sizeBytes ? Bytes(*d.sizeBytes) : std::string("size unknown")) << ", "
        << (gptSlots ? "GPT partition table" : "MBR partition table") << "\n";

    std::uint64_t total = 0;
    std::vector<Piece> pieces = Pieces(r, &total);
    bool anyPartition = false;
    for (const Piece& p : pieces) anyPartition |= p.kind == Piece::Kind::Partition;
    if (!anyPartition) {
        out << "  " << (gptSlots ? "Its partitions are GPT entries, which carry no MBR type: the libraries see no "
                                   "partition and so no place to put one."
                                 : "No partition in the four primary slots.")
            << "\n";
        return;
    }
    Measure(pieces, total);
    std::string bar;
    for (const Piece& p : pieces)
        if (p.width > 0) bar += paint(PieceColour(p).c_str(), std::string(static_cast<std::size_t>(p.width), p.key));
    out << "  |" << bar << "|\n";

    const Placement& place = d.placement;
    for (const Piece& p : pieces) {
        const std::uint64_t bytes = (p.end - p.start) * kSectorBytes;
        std::string key = paint(PieceColour(p).c_str(), std::string(1, p.key));
        std::string line;
        if (p.kind == Piece::Kind::Partition) {
            const Slot& s = *p.slot;
            line = Pad("slot " + std::to_string(s.index) + (s.letter ? std::string("  ") + s.letter + ":" : std::string()), 11) +
                   Pad(Hex(s.type) + " " + TypeName(s.type), 30) + Pad(Bytes(s.sizeSectors * kSectorBytes), 11) +
                   "at " + Bytes(s.startSector * kSectorBytes);
            if (s.freeBytes) line += ", " + Bytes(*s.freeBytes) + " free";
            if (place.kind == Placement::Kind::Shrink && static_cast<int>(s.index) == place.shrinkSlot)
                line += paint(kGreen, "  <- shrunk to make room");
        } else if (p.kind == Piece::Kind::New) {
            line = Pad("new", 11) + Pad("QuillFrame partition", 30) + Pad(std::to_string(r.sizeMB) + " MiB", 11) + "at " +
                   Bytes(p.start * kSectorBytes);
        } else {
            if (p.width == 0) continue;  // alignment slack too small to see
            line = Pad("", 11) + Pad("unpartitioned", 30) + Bytes(bytes);
        }
        out << "  " << key << "  " << line << "\n";
    }

    std::string empty;
    for (const Slot& s : d.slots)
        if (s.type == 0) empty += (empty.empty() ? "" : ", ") + std::to_string(s.index);
    if (!empty.empty())
        out << "     " << (empty.size() == 1 ? "slot " : "slots ") << empty << ": empty" << (gptSlots ? " (or GPT entries)" : "")
            << "\n";

    std::string where;
    auto name = [&](int i) { return i >= 0 && i < 4 ? SlotLabel(d.slots[static_cast<std::size_t>(i)]) : std::string("?"); };
    switch (place.kind) {
    case Placement::Kind::Gap:
        where = "The new partition would go into the " + Bytes(place.gapSectors * kSectorBytes) + " of unpartitioned space after " +
                name(place.afterSlot) + (place.beforeSlot < 0 ? " (at the end of the disk)" : " (before " + name(place.beforeSlot) + ")") +
                ", found by " + place.foundBy + ".";
        break;
    case Placement::Kind::Shrink:
        where = "The new partition would take the last " + std::to_string(r.sizeMB) + " MiB of " + name(place.shrinkSlot) +
                ", which " + place.foundBy + " names as shrinkable.";
        break;
    case Placement::Kind::None: {
        const auto own = std::find_if(d.slots.begin(), d.slots.end(), [](const Slot& s) { return s.type == 0x49; });
        where = own != d.slots.end() ? "QuillFrame's own partition is already on this disk (slot " + std::to_string(own->index) + ")."
                                     : "There is no place for the new partition on this disk.";
        break;
    }
    }
    out << "  " << where << "\n";
}

}  // namespace

std::string RenderText(const Result& r, bool colour) {
    const Paint paint(colour);
    std::ostringstream out;
    out << paint(kBold, "QuillFrame preflight") << " - what the installer's libraries say about this machine\n";
    out << "  Machine:   " << r.machineName << "\n";
    out << "  From:      " << r.machineSource << "\n";
    out << "  Planning:  a " << r.sizeMB << " MiB partition for the QuillFrame environment"
        << (r.sizeMB == kDefaultSizeMB ? " (--size to change)" : "") << "\n\n";

    if (r.ready) {
        out << paint("1;32", "READY TO INSTALL") << "\n";
        const Placement& p = r.disk.placement;
        auto name = [&](int i) { return i >= 0 && i < 4 ? SlotLabel(r.disk.slots[static_cast<std::size_t>(i)]) : std::string("?"); };
        if (p.kind == Placement::Kind::Gap)
            out << "  The " << r.sizeMB << " MiB partition fits into the unpartitioned space after " << name(p.afterSlot)
                << " (picture below).\n";
        else if (p.kind == Placement::Kind::Shrink)
            out << "  The " << r.sizeMB << " MiB partition comes from shrinking " << name(p.shrinkSlot)
                << " (picture below).\n";
    } else {
        out << paint(kRed, "NOT READY TO INSTALL") << "\n";
        for (const Reason& reason : r.reasons) out << "  - " << reason.text << "\n";
    }
    for (const std::string& note : r.notes) out << "  " << paint(kYellow, "Note:") << " " << note << "\n";

    std::size_t titleWidth = 0, answerWidth = 0;
    for (const Check& c : r.checks) {
        titleWidth = std::max(titleWidth, c.title.size());
        answerWidth = std::max(answerWidth, std::min<std::size_t>(c.answer.size(), 22));
    }
    const std::pair<const char*, const char*> groups[] = {
        {"prerequisites", "Prerequisites"}, {"bootDisk", "Boot disk"}, {"devices", "Devices"}};
    for (const auto& [group, heading] : groups) {
        out << "\n" << paint(kBold, heading) << "\n";
        for (const Check& c : r.checks) {
            if (c.group != group) continue;
            out << "  " << Mark(c.status, paint) << Pad(c.title, titleWidth + 2) << Pad(c.answer, answerWidth + 2) << c.why
                << "\n";
        }
    }

    DrawDisk(out, r, paint);

    out << "\nDiagnostic log: " << r.logPath << "\n";
    out << "  (every step the libraries took for the answers above)\n";
    if (!r.helperLogPath.empty()) out << "CorvaneHelper's log: " << r.helperLogPath << "\n";
    out << "\nMore: --json gives every answer with the export behind it and its log lines;\n"
           "machines/README.md lists sample machines to try with --machine FILE.\n";
    return out.str();
}

}  // namespace qfcheck::preflight
