// JWS figure files: header, checks, drivers over the shared body codec.
#include <gtest/gtest.h>

#include <filesystem>

#include "model/jws_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

using test::ByteBuilder;
using test::TempDir;

// The 452-byte header with recognisable values.
ByteBuilder JwsHeader(std::int32_t ver, std::uint8_t filler = '.') {
    ByteBuilder b;
    b.ascii("JwsData").fill(193, filler).i32(ver).f64(12.5).f64(-3.25);
    for (int g = 0; g < 16; ++g) b.f64(1.0 + g);
    for (int i = 0; i < 6; ++i) b.i32(100 + i);
    for (int i = 0; i < 6; ++i) b.f64(0.5 * i);
    b.f64(1.5).f64(2.5).f64(3.5).f64(4.5);
    return b;
}

// One real point (35 bytes after the tag at 351+, 33 before) and no definitions.
Bytes OnePointFigure(std::int32_t ver, std::uint8_t filler = '.') {
    ByteBuilder b = JwsHeader(ver, filler);
    b.u16(1).u16(0xFFFF).u16(static_cast<std::uint16_t>(ver)).u16(8).ascii("CDataTen");
    b.u32(7).u8(1).u16(2);
    if (ver >= 351) b.u16(3);
    b.u16(4).u16(5).u16(0);
    b.f64(10).f64(20).u32(0);
    b.u16(0);  // block definitions
    return b.data();
}

TEST(JwsHeader, FileCheckAcceptsOnlySignatureAndVersionRange) {
    TempDir dir;
    struct Case {
        const char* name;
        Bytes bytes;
        bool ok;
    };
    Bytes jww = ByteBuilder().ascii("JwwData.").i32(700).fill(500, 0).data();
    Bytes lower = OnePointFigure(600);
    lower[0] = 'j';
    Bytes shortFile = JwsHeader(600).data();
    shortFile.resize(203);
    const Case cases[] = {
        {"v230", OnePointFigure(230), true}, {"v700", OnePointFigure(700), true},
        {"v229", OnePointFigure(229), false}, {"v701", OnePointFigure(701), false},
        {"jww", jww, false},                  {"case", lower, false},
        {"short", shortFile, false},
    };
    TJwsData jws;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFile(dir.path() / c.name, c.bytes);
        EXPECT_EQ(jws.FileCheck(dir.file(c.name)), c.ok);
    }
    EXPECT_FALSE(jws.FileCheck(dir.file("missing")));
}

TEST(JwsHeader, HeaderInReadsFieldsAndResetsLayerGroups) {
    TempDir dir;
    test::WriteFile(dir.path() / "a.jws", OnePointFigure(600));
    TJwsData jws;
    ASSERT_TRUE(jws.FileHeaderIn(dir.file("a.jws")));
    EXPECT_EQ(jws.Enthd.jwID, u"JwsData");
    EXPECT_EQ(jws.Enthd.jwVer, 600);
    EXPECT_EQ(jws.Enthd.BasePoint_x, 12.5);
    EXPECT_EQ(jws.Enthd.dmy06, 105);
    EXPECT_EQ(jws.Enthd.My2, 4.5);
    ASSERT_EQ(jws.EntLgrp.size(), 16u);
    for (int g = 0; g < 16; ++g) {
        EXPECT_EQ(jws.EntLgrp[g].adScale, 1.0 + g);
        EXPECT_EQ(jws.EntLgrp[g].anGLay, 2);
        EXPECT_EQ(jws.EntLgrp[g].aStrGLayName, u"");
    }
    EXPECT_EQ(jws.EntTenN, 0);  // header only
}

TEST(JwsHeader, ListingIsLenientOnlyInsideTheLastField) {
    TempDir dir;
    Bytes full = JwsHeader(600).data();
    ASSERT_EQ(full.size(), TJwsData::kHeaderSize);
    TJwsData jws;

    Bytes cutAfterVersion(full.begin(), full.begin() + 204);
    test::WriteFile(dir.path() / "v.jws", cutAfterVersion);
    EXPECT_FALSE(jws.FileHeaderIn(dir.file("v.jws")));

    Bytes insideMy2(full.begin(), full.end() - 3);
    test::WriteFile(dir.path() / "m.jws", insideMy2);
    ASSERT_TRUE(jws.FileHeaderIn(dir.file("m.jws")));
    double partial = 0;
    std::memcpy(&partial, full.data() + 444, 5);  // the five bytes there, the rest zero
    EXPECT_EQ(jws.Enthd.My2, partial);
    // Reading the whole figure is never lenient.
    EXPECT_FALSE(jws.FileIn(dir.file("m.jws")));
}

TEST(JwsFile, VersionNormalisationOnWrite) {
    TempDir dir;
    struct Case {
        std::int32_t readVer;
        std::int32_t writeVer;
        std::int32_t written;
        std::size_t attrSize;
    };
    const Case cases[] = {{600, 100, 230, 13}, {300, 300, 351, 15}, {600, 600, 600, 15}, {250, 250, 250, 13},
                          {700, 230, 230, 13}, {350, 350, 350, 13}, {351, 351, 351, 15}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.readVer << " -> " << c.writeVer);
        test::WriteFile(dir.path() / "in.jws", OnePointFigure(c.readVer));
        TJwsData jws;
        ASSERT_TRUE(jws.FileIn(dir.file("in.jws")));
        ASSERT_TRUE(jws.FileOut(dir.file("out.jws"), c.writeVer));
        const Bytes out = test::ReadFile(dir.path() / "out.jws");
        std::int32_t v = 0;
        std::memcpy(&v, out.data() + 200, 4);
        EXPECT_EQ(v, c.written);
        // header, count, new-class tag (6 + 8), attribute, point body (20), definitions count
        EXPECT_EQ(out.size(), 452 + 2 + 14 + c.attrSize + 20 + 2);
        EXPECT_EQ(jws.Enthd.jwVer, c.readVer);  // the container keeps what it read
        TJwsData back;
        ASSERT_TRUE(back.FileIn(dir.file("out.jws")));
        ASSERT_EQ(back.EntTenN, 1);
        EXPECT_EQ(back.EntTen[0].start_y, 20.0);
        EXPECT_EQ(back.EntTen[0].att.nPenWidth, c.attrSize == 15 && c.readVer >= 351 ? 3 : 0);
    }
}

TEST(JwsFile, RewriteIsByteIdenticalAndFillerIsDots) {
    TempDir dir;
    test::WriteFile(dir.path() / "in.jws", OnePointFigure(700, 'x'));
    TJwsData jws;
    ASSERT_TRUE(jws.FileIn(dir.file("in.jws")));
    Bytes out;
    ASSERT_TRUE(jws.WriteToBuffer(700, out));
    Bytes expected = OnePointFigure(700, '.');
    EXPECT_EQ(out, expected);
}

TEST(JwsFile, IgnoresTrailingBytesAndWritesNoImageSection) {
    Bytes b = OnePointFigure(700);
    const std::size_t bodyEnd = b.size();
    b.insert(b.end(), {1, 2, 3, 4, 5});
    TJwsData jws;
    ASSERT_TRUE(jws.ReadFromBuffer(b));
    TBindImageType image;
    image.Fname = u"pic.bmp";
    image.Fsize = 3;
    image.exf = true;
    jws.BindImage.push_back(image);
    jws.BindImageN = 1;
    jws.BindImageExp = jws.BindImageExr = true;
    Bytes out;
    ASSERT_TRUE(jws.WriteToBuffer(700, out));
    EXPECT_EQ(out.size(), bodyEnd);
}

TEST(JwsFile, EveryTruncationFailsToRead) {
    const Bytes b = OnePointFigure(600);
    TJwsData jws;
    for (std::size_t n = 0; n < b.size(); ++n) {
        Bytes cut(b.begin(), b.begin() + n);
        EXPECT_FALSE(jws.ReadFromBuffer(cut)) << "cut at " << n;
        EXPECT_FALSE(jws.LastError().empty());
    }
    EXPECT_TRUE(jws.ReadFromBuffer(b));
}

TEST(JwsFile, EmptyFigureEndsAfterDefinitionCount) {
    ByteBuilder b = JwsHeader(351);
    b.u16(0).u16(0);
    TJwsData jws;
    ASSERT_TRUE(jws.ReadFromBuffer(b.data()));
    EXPECT_EQ(jws.Enthd.n1, 0);
    EXPECT_EQ(jws.EntBlockDefN, 0);
}

TEST(JwsFile, MissingFileAndFailedWrite) {
    TempDir dir;
    TJwsData jws;
    EXPECT_FALSE(jws.FileIn(dir.file("missing.jws")));
    EXPECT_EQ(jws.EntTenN, 0);
    test::WriteFile(dir.path() / "in.jws", OnePointFigure(600));
    ASSERT_TRUE(jws.FileIn(dir.file("in.jws")));
    const std::u16string target = dir.file("no-such-folder/out.jws");
    EXPECT_FALSE(jws.FileOut(target, 600));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "no-such-folder" / "out.jws"));
}

TEST(JwsFile, SetFileOutOptionRange) {
    TJwsData jws;
    for (auto [n, want] : {std::pair{64, 0}, {-1, 0}, {32, 32}, {63, 63}, {0, 0}}) {
        jws.SetFileOutOption(n);
        EXPECT_EQ(jws.FileOutOpt, want) << n;
    }
}

}  // namespace
}  // namespace tervalo
