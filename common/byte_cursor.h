// A bounds-checked reader over a byte buffer, in the manner of LLVM's
// DataExtractor: every read past the end fails, the failure is sticky, and a
// parser checks ok() once after a run of reads instead of after each one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qf {

class ByteCursor {
public:
    ByteCursor(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}

    bool ok() const { return ok_; }
    std::size_t offset() const { return offset_; }
    std::size_t size() const { return size_; }
    // Whether `count` bytes lie within the buffer at `at` (and the cursor is still good).
    bool has(std::size_t at, std::size_t count) const { return ok_ && at <= size_ && count <= size_ - at; }

    void seek(std::size_t at) {
        if (at > size_) ok_ = false;
        else offset_ = at;
    }
    void skip(std::size_t count) { seek(offset_ + count); }

    std::uint8_t u8() { return static_cast<std::uint8_t>(read(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(read(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(read(4)); }
    std::uint64_t u64() { return read(8); }
    std::int64_t i64() { return static_cast<std::int64_t>(read(8)); }

    // A byte at an absolute position, without moving; 0 and a failure outside.
    std::uint8_t peek(std::size_t at) {
        if (!has(at, 1)) {
            ok_ = false;
            return 0;
        }
        return data_[at];
    }

    // The first position from `at` at which two NUL bytes in a row begin,
    // both within the buffer; size() when there is none.
    std::size_t find_nul_pair(std::size_t at) const {
        if (!ok_) return size_;
        std::size_t i = at;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Eight bytes a step: the NUL bytes among them, then the pairs (the
        // last byte's partner is the next step's first).
        constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
        for (; i < size_ && size_ - i >= 9; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, data_ + i, sizeof w);
            // 0x80 in each byte of `w` that is NUL, and in nothing else.
            const std::uint64_t nul = ~(((w & kLow7) + kLow7) | w | kLow7);
            const std::uint64_t next = data_[i + 8] == 0 ? 0x8000000000000000ull : 0;
            const std::uint64_t pairs = nul & ((nul >> 8) | next);
            if (pairs != 0) return i + static_cast<std::size_t>(__builtin_ctzll(pairs)) / 8;
        }
#endif
        for (; i < size_ && size_ - i >= 2; ++i)
            if (data_[i] == 0 && data_[i + 1] == 0) return i;
        return size_;
    }

private:
    std::uint64_t read(std::size_t count) {
        if (!has(offset_, count)) {
            ok_ = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < count; ++i) v |= static_cast<std::uint64_t>(data_[offset_ + i]) << (8 * i);
        offset_ += count;
        return v;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

// The little-endian writer the simulated platform fills system structures with.
class ByteWriter {
public:
    ByteWriter(void* data, std::size_t size) : data_(static_cast<std::uint8_t*>(data)), size_(size) {}
    bool ok() const { return ok_; }
    std::size_t offset() const { return offset_; }
    void seek(std::size_t at) {
        if (at > size_) ok_ = false;
        else offset_ = at;
    }
    void u8(std::uint64_t v) { write(v, 1); }
    void u16(std::uint64_t v) { write(v, 2); }
    void u32(std::uint64_t v) { write(v, 4); }
    void u64(std::uint64_t v) { write(v, 8); }

private:
    void write(std::uint64_t v, std::size_t count) {
        if (!ok_ || offset_ > size_ || count > size_ - offset_) {
            ok_ = false;
            return;
        }
        for (std::size_t i = 0; i < count; ++i) data_[offset_ + i] = static_cast<std::uint8_t>(v >> (8 * i));
        offset_ += count;
    }
    std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

}  // namespace qf
