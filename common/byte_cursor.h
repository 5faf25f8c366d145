// A bounds-checked reader over a byte buffer, in the manner of LLVM's
// DataExtractor: every read past the end fails, the failure is sticky, and a
// parser checks ok() once after a run of reads instead of after each one.
#pragma once

#include <cstddef>
#include <cstdint>

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
