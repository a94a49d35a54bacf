// Bounds-checked little-endian reader. A read that cannot be satisfied in
// full throws IoError("File I/O Error") and leaves the position unchanged, so
// no value is ever half filled.
//
// The reader decodes from one buffer: either the whole file in memory, or a
// window over a file that a source refills as the reading moves on, so a
// large drawing need not be held in memory next to its decoded model. Either
// way every byte is read from the file once, and remaining() counts the bytes
// left in the whole file, against which counts are checked.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "archive/io_error.h"

namespace tervalo {

// Supplies the bytes of a file from the start, in pieces.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The size of the whole file.
    virtual std::size_t size() const = 0;
    // Fills up to `out.size()` bytes with the next bytes of the file and
    // returns how many; 0 at the end. Throws IoError when reading fails.
    virtual std::size_t read(std::span<std::uint8_t> out) = 0;
};

template <typename T>
inline T Load(const std::uint8_t* p) {
    static_assert(std::endian::native == std::endian::little, "little-endian host expected");
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data), total_(data.size()) {}
    // A window of `window` bytes over the source (larger reads widen it).
    ByteReader(ByteSource& source, std::size_t window);
    ~ByteReader();
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;

    // Offset in the file.
    std::size_t pos() const { return base_ + pos_; }
    std::size_t size() const { return total_; }
    std::size_t remaining() const { return total_ - pos(); }
    bool atEnd() const { return remaining() == 0; }

    std::uint8_t u8() { need(1, "byte"); return data_[pos_++]; }
    std::uint16_t u16() { return scalar<std::uint16_t>("16-bit word"); }
    std::uint32_t u32() { return scalar<std::uint32_t>("32-bit integer"); }
    std::int32_t i32() { return scalar<std::int32_t>("32-bit integer"); }
    double f64() { return scalar<double>("double"); }

    // A view of the next n bytes, which are consumed. The view is valid until
    // the next read.
    std::span<const std::uint8_t> bytes(std::size_t n) {
        need(n, "run of bytes");
        auto s = data_.subspan(pos_, n);
        pos_ += n;
        return s;
    }
    // The next n bytes, consumed, for decoding a fixed record in one step;
    // valid until the next read.
    const std::uint8_t* take(std::size_t n, const char* what) {
        need(n, what);
        const std::uint8_t* p = data_.data() + pos_;
        pos_ += n;
        return p;
    }
    // The next n bytes without consuming them; nullptr when fewer remain.
    const std::uint8_t* peek(std::size_t n) {
        if (n > data_.size() - pos_ && !Fill(n)) return nullptr;
        return data_.data() + pos_;
    }
    void skip(std::size_t n) { need(n, "run of bytes"); pos_ += n; }
    // Moves to an offset of the file; with a source only forward.
    void seek(std::size_t p);

private:
    void need(std::size_t n, const char* what) {
        if (n > data_.size() - pos_ && !Fill(n)) Short(n, what);
    }
    // Makes at least n bytes available from the position; false when the
    // file has fewer.
    bool Fill(std::size_t n);
    [[noreturn]] void Short(std::size_t n, const char* what) const;
    template <typename T>
    T scalar(const char* what) {
        need(sizeof(T), what);
        T v = Load<T>(data_.data() + pos_);
        pos_ += sizeof(T);
        return v;
    }

    std::span<const std::uint8_t> data_;  // the window (the whole file without a source)
    std::size_t pos_ = 0;                 // position in the window
    std::size_t base_ = 0;                // file offset of the window
    std::size_t total_ = 0;               // size of the file
    ByteSource* source_ = nullptr;
    std::uint8_t* window_ = nullptr;      // owned window storage with a source
    std::size_t capacity_ = 0;
};

}  // namespace tervalo
