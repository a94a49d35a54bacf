// Bounds-checked little-endian reader over an in-memory file. A read that
// cannot be satisfied in full throws IoError("File I/O Error") and leaves the
// position unchanged, so no value is ever half filled.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "archive/io_error.h"

namespace tervalo {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

    std::size_t pos() const { return pos_; }
    std::size_t size() const { return data_.size(); }
    std::size_t remaining() const { return data_.size() - pos_; }
    bool atEnd() const { return pos_ >= data_.size(); }

    std::uint8_t u8() { need(1, "byte"); return data_[pos_++]; }
    std::uint16_t u16() { return scalar<std::uint16_t>("16-bit word"); }
    std::uint32_t u32() { return scalar<std::uint32_t>("32-bit integer"); }
    std::int32_t i32() { return scalar<std::int32_t>("32-bit integer"); }
    double f64() { return scalar<double>("double"); }

    // A view of the next n bytes, which are consumed.
    std::span<const std::uint8_t> bytes(std::size_t n) {
        need(n, "run of bytes");
        auto s = data_.subspan(pos_, n);
        pos_ += n;
        return s;
    }
    void skip(std::size_t n) { need(n, "run of bytes"); pos_ += n; }
    void seek(std::size_t p) {
        if (p > data_.size()) throw IoError(kFileIoError, "seek past the end");
        pos_ = p;
    }

private:
    void need(std::size_t n, const char* what) const {
        if (n > remaining()) Short(n, what);
    }
    [[noreturn]] void Short(std::size_t n, const char* what) const {
        throw IoError(kFileIoError, std::string("file ends inside a ") + what + " at offset " + std::to_string(pos_) +
                                        " (" + std::to_string(n) + " bytes needed, " +
                                        std::to_string(remaining()) + " left)");
    }
    template <typename T>
    T scalar(const char* what) {
        static_assert(std::endian::native == std::endian::little, "little-endian host expected");
        need(sizeof(T), what);
        T v;
        std::memcpy(&v, data_.data() + pos_, sizeof(T));
        pos_ += sizeof(T);
        return v;
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

}  // namespace tervalo
