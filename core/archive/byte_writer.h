// Little-endian writer into a growing in-memory buffer; the file is written
// from it in one go.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace tervalo {

class ByteWriter {
public:
    void reserve(std::size_t n) { buf_.reserve(n); }
    void u8(std::uint8_t v) { buf_.push_back(v); }
    void u16(std::uint16_t v) { raw(&v, 2); }
    void u32(std::uint32_t v) { raw(&v, 4); }
    void i32(std::int32_t v) { raw(&v, 4); }
    void f64(double v) { raw(&v, 8); }
    void bytes(std::span<const std::uint8_t> b) { buf_.insert(buf_.end(), b.begin(), b.end()); }
    void fill(std::size_t n, std::uint8_t v) { buf_.insert(buf_.end(), n, v); }

    std::size_t size() const { return buf_.size(); }
    const std::vector<std::uint8_t>& data() const { return buf_; }
    std::vector<std::uint8_t>& data() { return buf_; }

private:
    void raw(const void* p, std::size_t n) {
        static_assert(std::endian::native == std::endian::little, "little-endian host expected");
        const auto* c = static_cast<const std::uint8_t*>(p);
        buf_.insert(buf_.end(), c, c + n);
    }
    std::vector<std::uint8_t> buf_;
};

}  // namespace tervalo
