// Small files of each listed kind, for the tests of the file list: a JWW
// drawing with a memo, an empty JWS figure and a DOS-era drawing header.
#pragma once

#include <stdexcept>
#include <string>

#include "convert_drawings.h"
#include "jww_builder.h"
#include "test_support.h"
#include "text/encoding.h"

namespace tervalo::test {

// A JWW drawing of `version` whose memo is `memo` (stored in code page 932),
// holding one temporary point when `point` is set.
inline Bytes JwwWithMemo(int version, const std::u16string& memo, bool point = false) {
    JwwHeaderBuilder header(version);
    const Bytes ansi = TextToAnsiBytes(memo);
    if (ansi.size() >= 255) throw std::invalid_argument("memo too long for a short archive string");
    header.memo = Bytes{static_cast<std::uint8_t>(ansi.size())};
    header.memo.insert(header.memo.end(), ansi.begin(), ansi.end());
    JwwBodyBuilder body(version);
    if (point) body.point(10, 20, true);
    return BuildJwwFrom(header.build(), version, body.build());
}

// A JWS figure of `version` with no entities.
inline Bytes EmptyJws(int version) { return BuildJws(version, EmptyJwwBody()); }

// A DOS-era drawing header with its two comments: four blocks of 200 bytes;
// the first holds the signature in 40 bytes and the comments in 32 bytes
// each, the second the drawing parameters.
inline Bytes JwcWithComments(const std::string& comment1, const std::string& comment2) {
    auto field = [](const std::string& s, std::size_t n) {
        Bytes b(s.begin(), s.end());
        b.resize(n, 0);
        return b;
    };
    Bytes out = field("jw_cad(c)data.......", 40);
    for (const Bytes& part : {field(comment1, 32), field(comment2, 32)}) out.insert(out.end(), part.begin(), part.end());
    out.resize(200, 0);
    const Bytes params = field("1,2", 200);
    out.insert(out.end(), params.begin(), params.end());
    out.resize(800, 0);
    return out;
}

}  // namespace tervalo::test
