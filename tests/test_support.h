// Helpers shared by the tests: a byte builder for hand-made drawings, the
// corpus location, and temporary folders.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "text/encoding.h"

namespace tervalo::test {

// Appends little-endian values, so each test shows the bytes it builds.
class ByteBuilder {
public:
    ByteBuilder& u8(std::uint8_t v) { b_.push_back(v); return *this; }
    ByteBuilder& u16(std::uint16_t v) { return raw(&v, 2); }
    ByteBuilder& u32(std::uint32_t v) { return raw(&v, 4); }
    ByteBuilder& i32(std::int32_t v) { return raw(&v, 4); }
    ByteBuilder& f64(double v) { return raw(&v, 8); }
    ByteBuilder& bytes(std::initializer_list<std::uint8_t> v) { b_.insert(b_.end(), v); return *this; }
    ByteBuilder& bytes(const Bytes& v) { b_.insert(b_.end(), v.begin(), v.end()); return *this; }
    ByteBuilder& ascii(const std::string& s) { b_.insert(b_.end(), s.begin(), s.end()); return *this; }
    ByteBuilder& fill(std::size_t n, std::uint8_t v) { b_.insert(b_.end(), n, v); return *this; }
    // An ANSI archive string of ASCII text: one length byte, or FF and a
    // 16-bit length from 255 bytes on.
    ByteBuilder& str(const std::string& s) {
        if (s.size() < 255)
            u8(static_cast<std::uint8_t>(s.size()));
        else
            u8(0xFF).u16(static_cast<std::uint16_t>(s.size()));
        return ascii(s);
    }
    const Bytes& data() const { return b_; }
    std::size_t size() const { return b_.size(); }

private:
    ByteBuilder& raw(const void* p, std::size_t n) {
        const auto* c = static_cast<const std::uint8_t*>(p);
        b_.insert(b_.end(), c, c + n);
        return *this;
    }
    Bytes b_;
};

// Folder of real drawings: TERVALO_CORPUS environment variable, else the
// configured default (../shared/corpus beside the source tree).
std::filesystem::path CorpusDir();
bool CorpusAvailable();

// A fresh temporary folder, removed with everything in it when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::u16string u16() const;                      // the folder as UTF-16
    std::u16string file(const std::string& name) const;  // folder/name as UTF-16

private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& p, const Bytes& data);
Bytes ReadFile(const std::filesystem::path& p);
std::u16string U16(const std::string& utf8);

}  // namespace tervalo::test

// Skips the current test when the corpus is absent.
#define TERVALO_REQUIRE_CORPUS()                                                     \
    do {                                                                             \
        if (!::tervalo::test::CorpusAvailable())                                     \
            GTEST_SKIP() << "corpus folder not found at "                            \
                         << ::tervalo::test::CorpusDir().string()                    \
                         << " (set TERVALO_CORPUS to the folder of real drawings)";  \
    } while (0)
