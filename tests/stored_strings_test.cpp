// Strings that no write rule changes keep their stored bytes through a read
// and a write, also where the code page 932 converter would not give them
// back; strings a rule changes are encoded anew.
#include <gtest/gtest.h>

#include <algorithm>

#include "jww_builder.h"
#include "model/jww_data.h"
#include "test_support.h"
#include "text/encoding.h"

namespace tervalo {
namespace {

using test::ByteBuilder;

// A drawing of version 700 with the raw archive string `s` as memo, as the
// name of layer 0, as font and text of a text entity, as the name of a block
// definition that an insert uses, and as the text of that definition's text.
Bytes DrawingWith(const Bytes& s) {
    test::JwwHeaderBuilder header(700);
    header.extendedNames = true;
    header.memo = s;
    header.layerName0 = s;
    ByteBuilder body;
    body.u16(2);
    test::NewClassTag(body, 700, "CDataMoji");
    test::Attr(body, 700, 1, 1);
    body.f64(1).f64(2).f64(3).f64(4).u32(0).f64(2.5).f64(2.5).f64(0).f64(0).bytes(s).bytes(s);
    test::NewClassTag(body, 700, "CDataBlock");
    test::BlockRecord(body, 700, 0, 0, 0);  // numbers are written as output numbers, from 0
    body.u16(1);
    test::NewClassTag(body, 700, "CDataList");
    test::Attr(body, 700, 1, 1);
    body.u32(0).u32(1).u32(0).bytes(s).u16(1).u16(0x8000 + 1);  // the text class of the drawing
    test::Attr(body, 700, 1, 1);
    body.f64(0).f64(0).f64(1).f64(1).u32(0).f64(2.5).f64(2.5).f64(0).f64(0).u8(0).bytes(s);
    return test::BuildJwwFrom(header.build(), 700, body.data());
}

Bytes Ansi(std::initializer_list<std::uint8_t> text) {
    Bytes s{static_cast<std::uint8_t>(text.size())};
    s.insert(s.end(), text);
    return s;
}

// Where two files first differ, for failure messages.
std::string FirstDifference(const Bytes& a, const Bytes& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    std::string near;
    for (std::size_t k = i >= 4 ? i - 4 : 0; k < i + 8 && k < a.size() && k < b.size(); ++k)
        near += std::to_string(a[k]) + "/" + std::to_string(b[k]) + " ";
    return near + "first difference at offset " + std::to_string(i) + " of " + std::to_string(a.size()) + " and " +
           std::to_string(b.size());
}

Bytes Rewrite(const Bytes& file, std::int32_t option = -1) {
    TJwwData jww;
    EXPECT_TRUE(jww.ReadFromBuffer(file)) << jww.LastError();
    jww.SetFileOutOption(option >= 0 ? option : (jww.MojiEncode ? 32 : 0));
    Bytes out;
    EXPECT_TRUE(jww.WriteToBuffer(700, out)) << jww.LastError();
    return out;
}

// Code page 932 bytes the converter reads but writes back differently: NEC
// row 13 characters that JIS X 0208 has too, NEC-selected IBM extensions,
// IBM extensions that also sit in row 13 or JIS X 0208, and single bytes that
// are no character (80, A0, FD to FF, a lead byte without its trail byte).
TEST(StoredStrings, BytesTheConverterWouldChangeAreKept) {
    const std::vector<Bytes> cases = {
        Ansi({0x87, 0x90, 0x87, 0x9A}),        // ≒ ∵ from row 13
        Ansi({0xED, 0x40, 0xEE, 0xFC}),        // NEC-selected IBM extensions
        Ansi({0xFA, 0x4A, 0xFA, 0x54, 0xFA, 0x5B}),  // Ⅰ ￢ ∵ of the IBM extensions
        Ansi({'A', 0x80, 0xA0, 0xFD, 0xFE, 0xFF, 'B'}),
        Ansi({0x95, 0xBD, 0x96, 0xCA, 0x81}),  // 平面 and a lone lead byte
        Bytes{0xFF, 0x03, 0x00, 'A', 'B', 'C'},  // the long form of a short text
    };
    for (const Bytes& s : cases) {
        const Bytes payload(s.begin() + (s[0] == 0xFF ? 3 : 1), s.end());
        if (s[0] != 0xFF) {
            EXPECT_NE(TextToAnsiBytes(AnsiBytesToText(payload)), payload) << "converter round trip";
        }
        const Bytes file = DrawingWith(s);
        const Bytes out = Rewrite(file);
        EXPECT_TRUE(out == file) << Utf16ToUtf8(AnsiBytesToText(payload)) << ": " << FirstDifference(out, file);
    }
}

TEST(StoredStrings, UnicodeFormIsKeptWhileTheFormStays) {
    const Bytes s{0xFF, 0xFE, 0xFF, 0x02, 0x73, 0x5E, 0x00, 0xD8};  // 平 and a lone surrogate
    const Bytes file = DrawingWith(s);
    // The other strings take the Unicode form too; these six keep their bytes.
    const Bytes out = Rewrite(file);
    auto occurrences = [&s](const Bytes& in) {
        int n = 0;
        for (auto it = in.begin(); (it = std::search(it, in.end(), s.begin(), s.end())) != in.end(); ++it) ++n;
        return n;
    };
    EXPECT_EQ(occurrences(file), 6);
    EXPECT_EQ(occurrences(out), 6);
    EXPECT_EQ(Rewrite(out), out);
    // Written in code page 932 the texts are encoded anew.
    const Bytes ansi = Rewrite(file, 0);
    EXPECT_NE(ansi, file);
    TJwwData back;
    ASSERT_TRUE(back.ReadFromBuffer(ansi));
    EXPECT_FALSE(back.MojiEncode);
    EXPECT_EQ(back.EntMoji[0].str, u"平?");
}

TEST(StoredStrings, TextsARuleOrACallerChangesAreEncodedAnew) {
    // Cleaning removes ^m; a control character is stripped on reading.
    for (const auto& [stored, written] : std::vector<std::pair<Bytes, std::u16string>>{
             {Ansi({'a', '^', 'm', 'b'}), u"ab"}, {Ansi({'a', 0x09, 0x87, 0x90}), u"a≒"}}) {
        TJwwData jww;
        ASSERT_TRUE(jww.ReadFromBuffer(Rewrite(DrawingWith(stored))));
        EXPECT_EQ(jww.EntMoji[0].str, written);
        EXPECT_EQ(jww.EntBlockDef[0].strName, written);
    }
    // A text changed in memory, and a record carried into another drawing,
    // never take stored bytes that are not theirs.
    TJwwData a, b;
    ASSERT_TRUE(a.ReadFromBuffer(DrawingWith(Ansi({0x87, 0x90}))));
    ASSERT_TRUE(b.ReadFromBuffer(DrawingWith(Ansi({'x', 'y'}))));
    a.EntMoji[0].str = u"≒!";
    b.EntMoji[0] = a.EntMoji[0];
    b.EntMoji[0].strFontName = u"≒";
    Bytes outA, outB;
    ASSERT_TRUE(a.WriteToBuffer(700, outA));
    ASSERT_TRUE(b.WriteToBuffer(700, outB));
    TJwwData ra, rb;
    ASSERT_TRUE(ra.ReadFromBuffer(outA));
    ASSERT_TRUE(rb.ReadFromBuffer(outB));
    EXPECT_EQ(ra.EntMoji[0].str, u"≒!");
    EXPECT_EQ(ra.EntBlockDef[0].strName, u"≒");  // unchanged, its bytes 87 90 kept
    EXPECT_EQ(rb.EntMoji[0].str, u"≒!");
    EXPECT_EQ(rb.EntMoji[0].strFontName, u"≒");
    // A text changed to another of as many units, in either form, is no
    // longer the text its bytes hold.
    for (const auto& [stored, changed] : std::vector<std::pair<Bytes, std::u16string>>{
             {Ansi({0x87, 0x90}), u"∵"}, {Ansi({'a', 'b'}), u"ac"}, {Bytes{0xFF, 0xFE, 0xFF, 0x01, 0x73, 0x5E}, u"面"}}) {
        TJwwData c;
        ASSERT_TRUE(c.ReadFromBuffer(DrawingWith(stored)));
        c.EntMoji[0].str = c.EntLay[0].aStrLayName = changed;
        c.SetFileOutOption(c.MojiEncode ? 32 : 0);
        Bytes out;
        ASSERT_TRUE(c.WriteToBuffer(700, out));
        TJwwData rc;
        ASSERT_TRUE(rc.ReadFromBuffer(out));
        EXPECT_EQ(rc.EntMoji[0].str, changed);
        EXPECT_EQ(rc.EntLay[0].aStrLayName, changed);
    }
}

}  // namespace
}  // namespace tervalo
