// Little-endian writer through one fixed buffer. Without a sink the bytes
// collect in memory (data()); with a sink every full buffer is handed to it,
// so a whole file never has to be held: the writer streams into the new file.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace tervalo {

class ByteWriter {
public:
    // Receives each full buffer, and the rest at Finish(); throws to stop the write.
    using Sink = std::function<void(std::span<const std::uint8_t>)>;

    ByteWriter() = default;
    explicit ByteWriter(Sink sink, std::size_t bufferSize = kDefaultBuffer)
        : sink_(std::move(sink)), buf_(new std::uint8_t[bufferSize]), cur_(buf_.get()),
          end_(buf_.get() + bufferSize), cap_(bufferSize) {}
    ByteWriter(const ByteWriter&) = delete;
    ByteWriter& operator=(const ByteWriter&) = delete;

    // The expected size in memory mode (no sink), so the buffer grows once.
    void reserve(std::size_t n) {
        if (!sink_ && n > cap_) Regrow(n);
    }

    void u8(std::uint8_t v) { *room(1) = v; ++cur_; }
    void u16(std::uint16_t v) { put(v); }
    void u32(std::uint32_t v) { put(v); }
    void i32(std::int32_t v) { put(v); }
    void f64(double v) { put(v); }
    void bytes(std::span<const std::uint8_t> b) {
        if (b.empty()) return;
        if (sink_ && b.size() > cap_) {
            // A run longer than the buffer goes to the sink as it is.
            Flush();
            sink_(b);
            written_ += b.size();
            return;
        }
        std::memcpy(room(b.size()), b.data(), b.size());
        cur_ += b.size();
    }
    void fill(std::size_t n, std::uint8_t v) {
        while (n > 0) {
            const std::size_t k = std::min(n, cap_ ? cap_ : n);
            std::memset(room(k), v, k);
            cur_ += k;
            n -= k;
        }
    }

    // At least n bytes of room at the returned pointer; write them and then
    // call commit() with the end of what was written.
    std::uint8_t* room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - cur_) < n) MakeRoom(n);
        return cur_;
    }
    void commit(std::uint8_t* end) { cur_ = end; }

    // Bytes written so far (handed to the sink or buffered).
    std::size_t size() const { return written_ + static_cast<std::size_t>(cur_ - buf_.get()); }

    // Hands the buffered rest to the sink (nothing to do without one).
    void Finish() {
        if (sink_) Flush();
    }

    // Memory mode: a copy of the bytes written so far.
    std::vector<std::uint8_t> data() const { return std::vector<std::uint8_t>(buf_.get(), cur_); }

    // Memory mode: the bytes written; the writer is empty afterwards.
    std::vector<std::uint8_t> take() {
        std::vector<std::uint8_t> out(buf_.get(), cur_);
        cur_ = buf_.get();
        return out;
    }

    static constexpr std::size_t kDefaultBuffer = 256 * 1024;

private:
    template <typename T>
    void put(T v) {
        static_assert(std::endian::native == std::endian::little, "little-endian host expected");
        std::memcpy(room(sizeof(T)), &v, sizeof(T));
        cur_ += sizeof(T);
    }
    void MakeRoom(std::size_t n) {
        if (sink_) {
            Flush();
            // A single piece larger than the buffer: a larger buffer from now on.
            if (n > cap_) Regrow(std::max(n, 2 * cap_));
            return;
        }
        Regrow(std::max(size() + n, 2 * cap_ + 4096));
    }
    void Flush() {
        const std::size_t n = static_cast<std::size_t>(cur_ - buf_.get());
        if (n == 0) return;
        sink_({buf_.get(), n});
        written_ += n;
        cur_ = buf_.get();
    }
    // A larger buffer (memory mode, or one run longer than a sink's buffer).
    void Regrow(std::size_t n) {
        const std::size_t used = static_cast<std::size_t>(cur_ - buf_.get());
        std::unique_ptr<std::uint8_t[]> bigger(new std::uint8_t[n]);
        if (used) std::memcpy(bigger.get(), buf_.get(), used);
        buf_ = std::move(bigger);
        cur_ = buf_.get() + used;
        end_ = buf_.get() + n;
        cap_ = n;
    }

    Sink sink_;
    std::unique_ptr<std::uint8_t[]> buf_;
    std::uint8_t* cur_ = nullptr;
    std::uint8_t* end_ = nullptr;
    std::size_t cap_ = 0;
    std::size_t written_ = 0;
};

// Stores a value little-endian at p and returns the byte after it.
template <typename T>
inline std::uint8_t* Store(std::uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof(T));
    return p + sizeof(T);
}

}  // namespace tervalo
