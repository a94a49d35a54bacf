// Archive strings, count and tag words, and the entity attribute.
#include <gtest/gtest.h>

#include "archive/archive.h"
#include "test_support.h"

namespace tervalo {
namespace {

using test::ByteBuilder;

Bytes WriteStr(const std::u16string& s, std::int32_t opt) {
    ByteWriter w;
    ArchiveOut out(w, 700, opt);
    out.StrOut(s);
    return w.data();
}

std::u16string ReadStr(const Bytes& b, bool& moji, std::size_t* consumed = nullptr) {
    ByteReader r(b);
    ArchiveIn in(r, 700, moji);
    auto s = in.StrIn();
    if (consumed) *consumed = r.pos();
    return s;
}

TEST(ArchiveString, LengthFormsAtTheirBoundaries) {
    struct Case {
        std::size_t units;
        std::int32_t opt;
        Bytes prefix;
        std::size_t payload;
    };
    const Case cases[] = {
        {0, 0, {0x00}, 0},
        {254, 0, {0xFE}, 254},
        {255, 0, {0xFF, 0xFF, 0x00}, 255},
        {65533, 0, {0xFF, 0xFD, 0xFF}, 65533},
        {0, 0x20, {0xFF, 0xFE, 0xFF, 0x00}, 0},
        {254, 0x20, {0xFF, 0xFE, 0xFF, 0xFE}, 508},
        {255, 0x20, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}, 510},
        {65535, 0x20, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF}, 131070},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.units << " units, option " << c.opt);
        const std::u16string text(c.units, u'A');
        const Bytes b = WriteStr(text, c.opt);
        ASSERT_EQ(b.size(), c.prefix.size() + c.payload);
        EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), b.begin()));
        bool moji = false;
        std::size_t used = 0;
        EXPECT_EQ(ReadStr(b, moji, &used), text);
        EXPECT_EQ(used, b.size());
        EXPECT_EQ(moji, c.opt == 0x20);
    }
}

TEST(ArchiveString, TooLongForTheFormsIsAnErrorNotACorruptLength) {
    EXPECT_THROW(WriteStr(std::u16string(65534, u'A'), 0), IoError);
    EXPECT_THROW(WriteStr(std::u16string(65536, u'A'), 0x20), IoError);
    // Double-byte characters count by their code page 932 bytes.
    EXPECT_THROW(WriteStr(std::u16string(32767, u'あ'), 0), IoError);
    EXPECT_NO_THROW(WriteStr(std::u16string(32766, u'あ'), 0));
}

TEST(ArchiveString, ReadsAnsiLongFormWithoutSettingUnicodeFlag) {
    bool moji = false;
    EXPECT_EQ(ReadStr({0xFF, 0x03, 0x00, 'A', 'B', 'C'}, moji), u"ABC");
    EXPECT_FALSE(moji);
}

TEST(ArchiveString, StopsAtAStoredZero) {
    bool moji = false;
    std::size_t used = 0;
    EXPECT_EQ(ReadStr({0x03, 'A', 0x00, 'B'}, moji, &used), u"A");
    EXPECT_EQ(used, 4u);  // the whole stored string is consumed
    EXPECT_EQ(ReadStr({0xFF, 0xFE, 0xFF, 0x02, 'X', 0, 0, 0}, moji, &used), u"X");
    EXPECT_EQ(used, 8u);
}

TEST(ArchiveString, UnicodeUnitsAreKeptExactly) {
    // A lone surrogate and a non-character survive a read and a re-write.
    const std::u16string odd{char16_t(0xD800), u'x', char16_t(0xFFFF), char16_t(0xDC00)};
    const Bytes b = WriteStr(odd, 0x20);
    bool moji = false;
    const auto back = ReadStr(b, moji);
    EXPECT_EQ(back, odd);
    EXPECT_EQ(WriteStr(back, 0x20), b);
}

TEST(ArchiveString, CodePage932TextRoundTrips) {
    const std::u16string text = u"平面図 ～＼①";
    const Bytes b = WriteStr(text, 0);
    EXPECT_EQ(b[0], b.size() - 1);
    bool moji = false;
    EXPECT_EQ(ReadStr(b, moji), text);
    EXPECT_FALSE(moji);
}

TEST(ArchiveString, CutStringIsAnError) {
    bool moji = false;
    for (const Bytes& b : {Bytes{0x05, 'A', 'B'}, Bytes{0xFF}, Bytes{0xFF, 0xFE, 0xFF}, Bytes{0xFF, 0xFE, 0xFF, 0x02, 'A', 0}}) {
        EXPECT_THROW(ReadStr(b, moji), IoError);
    }
}

TEST(ArchiveString, NameInRemovesControlCharacters) {
    Bytes b{0x05, 'A', 0x09, 'B', 0x0D, 0x0A};
    bool moji = false;
    ByteReader r(b);
    ArchiveIn in(r, 700, moji);
    EXPECT_EQ(in.NameIn(), u"AB");
}

TEST(ArchiveWords, CountAndClassTagForms) {
    struct Case {
        bool tag;
        std::uint32_t value;
        Bytes bytes;
    };
    const Case cases[] = {
        {false, 0, {0x00, 0x00}},
        {false, 65534, {0xFE, 0xFF}},
        {false, 65535, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {false, 70000, {0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
        {true, 1, {0x01, 0x80}},
        {true, 0x7FFE, {0xFE, 0xFF}},
        {true, 0x7FFF, {0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        ByteWriter w;
        ArchiveOut out(w, 600, 0);
        if (c.tag)
            out.ClassTagOut(c.value);
        else
            out.CountOut(c.value);
        EXPECT_EQ(w.data(), c.bytes);
        if (!c.tag) {
            bool moji = false;
            ByteReader r(c.bytes);
            ArchiveIn in(r, 600, moji);
            EXPECT_EQ(in.CountIn(), c.value);
        }
    }
}

TEST(ArchiveAttr, MappingAndChecks) {
    struct Case {
        std::int32_t kind;
        std::int32_t ver;
        std::uint8_t style;
        std::uint16_t color;
        std::uint8_t wantStyle;
        std::uint16_t wantColor;
    };
    const Case cases[] = {
        {kKindLine, 351, 44, 105, 17, 4},
        {kKindLine, 420, 44, 105, 44, 105},
        {kKindEnko, 419, 50, 200, 1, 1},
        {kKindTen, 700, 5, 1, 1, 1},
        {kKindTen, 700, 100, 2, 100, 2},
        {kKindSolid, 700, 1, 10, 1, 10},
        {kKindLine, 700, 1, 10, 1, 1},
        {kKindBlockDef, 300, 0, 200, 0, 200},
        {kKindMoji, 300, 3, 200, 3, 1},
        {kKindBlock, 700, 77, 999, 77, 999},
        {kKindLine, 700, 10, 0, 1, 1},
        {kKindLine, 700, 63, 357, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " ver " << c.ver << " style " << int(c.style));
        TEntJwwAttr a;
        a.nPenStyle = c.style;
        a.nPenColor = c.color;
        ByteWriter w;
        ArchiveOut out(w, c.ver, 0);
        out.AttrOut(a, c.kind);
        ASSERT_EQ(w.size(), c.ver >= 351 ? 15u : 13u);
        EXPECT_EQ(w.data()[4], c.wantStyle);
        EXPECT_EQ(w.data()[5] | (w.data()[6] << 8), c.wantColor);
    }
}

TEST(ArchiveAttr, OldVersionsStoreThirteenBytesAndClampLayers) {
    TEntJwwAttr a{0x01020304, 1, 2, 7, 20, 3, 0xBEEF};
    ByteWriter w;
    ArchiveOut out(w, 350, 0);
    out.AttrOut(a, kKindLine);
    const Bytes want{0x04, 0x03, 0x02, 0x01, 1, 2, 0, 0, 0, 3, 0, 0xEF, 0xBE};
    EXPECT_EQ(w.data(), want);

    bool moji = false;
    ByteReader r(want);
    ArchiveIn in(r, 350, moji);
    const TEntJwwAttr back = in.AttrIn();
    EXPECT_EQ(r.pos(), 13u);
    EXPECT_EQ(back.nPenWidth, 0);
    EXPECT_EQ(back.nLayer, 0);
    EXPECT_EQ(back.sFlg, 0xBEEF);

    TEntJwwAttr wide = a;
    wide.nPenWidth = 30001;
    EXPECT_EQ(MapAttrForOutput(wide, 700, kKindLine).nPenWidth, 0);
    wide.nPenWidth = 30000;
    EXPECT_EQ(MapAttrForOutput(wide, 700, kKindLine).nPenWidth, 30000);
}

TEST(ArchiveAttr, ReadsFifteenBytesFrom351) {
    const Bytes b = ByteBuilder().u32(9).u8(100).u16(3).u16(25).u16(4).u16(5).u16(6).data();
    bool moji = false;
    ByteReader r(b);
    ArchiveIn in(r, 351, moji);
    const TEntJwwAttr a = in.AttrIn();
    EXPECT_EQ(a, (TEntJwwAttr{9, 100, 3, 25, 4, 5, 6}));
    EXPECT_TRUE(r.atEnd());
}

TEST(ByteReaderTest, ShortReadThrowsAndKeepsPosition) {
    const Bytes b{1, 2, 3};
    ByteReader r(b);
    EXPECT_EQ(r.u16(), 0x0201);
    EXPECT_THROW(r.u32(), IoError);
    EXPECT_EQ(r.pos(), 2u);
    EXPECT_EQ(r.u8(), 3);
    EXPECT_THROW(r.u8(), IoError);
    EXPECT_THROW(r.bytes(1), IoError);
}

}  // namespace
}  // namespace tervalo
