// JWW header and tables: FileCheck, FileHeaderIn, the version-dependent
// layout, the derived values and repairs on reading, and the substitutions
// and clamps on writing.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <cstring>
#include <limits>

#include "archive/byte_reader.h"
#include "jww_builder.h"
#include "model/jww_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

using test::BuildJww;
using test::BuildJwwFrom;
using test::BuildJwwHeader;
using test::ByteBuilder;
using test::JwwHeaderBuilder;
using test::JwwHeaderSize;
using test::TempDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Reads a drawing from memory, failing the test when it cannot.
void ReadOk(TJwwData& jww, const Bytes& bytes) {
    ASSERT_TRUE(jww.ReadFromBuffer(bytes)) << jww.LastError();
}

Bytes WriteOk(TJwwData& jww, std::int32_t ver) {
    Bytes out;
    EXPECT_TRUE(jww.WriteToBuffer(ver, out)) << jww.LastError();
    return out;
}

std::int32_t I32At(const Bytes& b, std::size_t at) {
    std::int32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

TEST(JwwHeader, FileCheckAcceptsSignatureAndVersionRange) {
    TempDir dir;
    Bytes lower = BuildJww(600);
    lower[0] = 'j';
    Bytes upper = BuildJww(600);
    std::memcpy(upper.data(), "JWWDATA.", 8);
    Bytes jws = ByteBuilder().ascii("JwsData").fill(193, '.').i32(600).fill(300, 0).data();
    struct Case {
        const char* name;
        Bytes bytes;
        bool ok;
    };
    const Case cases[] = {
        {"v220", BuildJww(220), true},
        {"v700", BuildJww(700), true},
        {"v219", BuildJww(219), false},
        {"v701", BuildJww(701), false},
        {"lower", lower, false},
        {"upper", upper, false},
        {"jws", jws, false},
        {"only12", ByteBuilder().ascii("JwwData.").i32(600).data(), true},
        {"only11", ByteBuilder().ascii("JwwData.").u16(600).u8(0).data(), false},
        {"empty", Bytes{}, false},
    };
    TJwwData jww;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFile(dir.path() / c.name, c.bytes);
        EXPECT_EQ(jww.FileCheck(dir.file(c.name)), c.ok);
    }
    EXPECT_FALSE(jww.FileCheck(dir.file("missing")));
    EXPECT_FALSE(jww.FileCheck(dir.u16()));  // a folder
}

// With every string empty the section has a fixed size per version range;
// the entity count follows right after it. Written back in its own version
// the hand-built header comes out byte for byte.
TEST(JwwHeader, SectionSizeAndRoundTripPerVersion) {
    const std::int32_t versions[] = {220, 222, 223, 224, 225, 229, 230, 231, 299, 300, 351, 419, 420, 600, 700};
    for (std::int32_t v : versions) {
        SCOPED_TRACE(v);
        const Bytes header = BuildJwwHeader(v);
        EXPECT_EQ(header.size(), JwwHeaderSize(v));

        TJwwData jww;
        ReadOk(jww, BuildJww(v));
        EXPECT_EQ(jww.Enthd.jwVer, v);
        EXPECT_EQ(jww.Enthd.jwID, u"JwwData.");
        // The last six fields sit right before the entity count.
        EXPECT_EQ(jww.Enthd.adMojiKijunZureX0, 0.5);
        EXPECT_EQ(jww.Enthd.adMojiKijunZureY2, 5.5);
        EXPECT_EQ(jww.Enthd.nMojiKijunZureOn, 1);

        const Bytes out = WriteOk(jww, v);
        if (v < 420) {
            EXPECT_EQ(out, BuildJww(v));
        } else {
            // Blank user colour and line type names are written as
            // Color_n and LType_n.
            std::size_t extra = 0;
            for (int i = 0; i < 257; ++i) extra += ("Color_" + std::to_string(i)).size();
            for (int i = 0; i < 33; ++i) extra += ("LType_" + std::to_string(i)).size();
            EXPECT_EQ(out.size(), BuildJww(v).size() + extra);
            JwwHeaderBuilder named(v);
            named.extendedNames = true;
            EXPECT_EQ(out, BuildJwwFrom(named.build(), v));

            TJwwData again;
            ReadOk(again, out);
            EXPECT_EQ(again.EntColS[20].astrUDColorName, u"Color_20");
            EXPECT_EQ(again.EntLtpS[32].astrUDLTypeName, u"LType_32");
        }
    }
}

TEST(JwwHeader, ReadsTablesInFileOrder) {
    TJwwData jww;
    ReadOk(jww, BuildJww(700));
    ASSERT_EQ(jww.EntLgrp.size(), 16u);
    ASSERT_EQ(jww.EntLay.size(), 256u);
    ASSERT_EQ(jww.EntCol.size(), 10u);
    ASSERT_EQ(jww.EntLtp1.size(), 8u);
    ASSERT_EQ(jww.EntLtp2.size(), 5u);
    ASSERT_EQ(jww.EntLtp3.size(), 4u);
    ASSERT_EQ(jww.EntMoj.size(), 10u);
    ASSERT_EQ(jww.EntColS.size(), 257u);
    ASSERT_EQ(jww.EntLtpS.size(), 33u);
    const auto& h = jww.Enthd;
    EXPECT_EQ(h.nZumen, 3);
    EXPECT_EQ(h.nWriteGLay, 5);
    EXPECT_EQ(jww.EntLgrp[7].anWriteLay, 7);
    EXPECT_EQ(jww.EntLgrp[7].adScale, 8.0);
    EXPECT_EQ(jww.EntLay[7 * 16 + 3].aanLayProtect, 1);
    EXPECT_EQ(jww.EntLay[7 * 16 + 4].aanLayProtect, 0);
    EXPECT_EQ(h.lnSunpou5, 15);
    EXPECT_EQ(h.DPPrtGenten_y, -2.5);
    EXPECT_EQ(h.dMemoriY, 20.0);
    EXPECT_EQ(h.dKageIdo, 35.0);
    EXPECT_EQ(h.dTenkuuZuEnkoR, 100.0);
    EXPECT_EQ(h.dHanniBairitsu, 2.0);
    EXPECT_EQ(h.dZoomJumpBairitsu[7], 8.5);
    EXPECT_EQ(h.DPZoomJumpGenten_y[7], -70.0);
    EXPECT_EQ(h.nZoomJumpGLay[7], 7);
    EXPECT_EQ(h.nMojiBG, 2);
    EXPECT_EQ(h.adFukusenSuuchi[9], 13.5);
    EXPECT_EQ(jww.EntCol[9].aPenColor, 0x09121B);
    EXPECT_EQ(jww.EntCol[0].aPrtPenColor, 0xFFFFFF);
    EXPECT_EQ(jww.EntLtp2[4].anPrtTokushuSenPich, 44);
    EXPECT_EQ(jww.EntLtp3[3].alLType, 0x33333336);
    EXPECT_EQ(h.nPrtKyoutsuuGray, 1);
    EXPECT_EQ(h.lnDrawTime, 3600);
    EXPECT_EQ(h.dEye_V_Ichi_3, 5.5);
    EXPECT_EQ(h.dEnHankeiSnpou, 10.0);
    EXPECT_EQ(h.SolidColor, 0x123456);
    EXPECT_EQ(jww.EntColS[256].aPenColor, 0x10000);
    EXPECT_EQ(jww.EntColS[5].aPrtPenColor, 0x00FF05);
    EXPECT_EQ(jww.EntLtpS[20].anUDLTypeSegment, 4);
    EXPECT_EQ(jww.EntLtpS[20].aadUDLTypePitch[9], 24.5);
    EXPECT_EQ(jww.EntMoj[9].adMojiY, 11.5);
    EXPECT_EQ(jww.EntMoj[9].anMojiCol, 1);
    EXPECT_EQ(h.dMojiSizeY, 3.5);
    EXPECT_EQ(h.nMojiShu, 3);
    EXPECT_EQ(h.dMojiSeiriSuu, 4.0);
}

// Fields of later versions are absent from older files and keep their reset values.
TEST(JwwHeader, VersionDependentItems) {
    {
        TJwwData jww;
        ReadOk(jww, BuildJww(222));
        EXPECT_EQ(jww.Enthd.lnDrawTime, 0);
        EXPECT_EQ(jww.Enthd.dEye_Z_Ichi_1, 0.0);
        EXPECT_EQ(jww.Enthd.SolidColor, 0);
    }
    {
        TJwwData jww;
        ReadOk(jww, BuildJww(224));
        EXPECT_EQ(jww.Enthd.lnDrawTime, 3600);
        EXPECT_EQ(jww.Enthd.dEye_V_Ichi_3, 5.5);
        EXPECT_EQ(jww.Enthd.dSenNagasaSnpou, 0.0);
    }
    {
        // 230: the short zoom block, but sizes and solid colour are there.
        TJwwData jww;
        ReadOk(jww, BuildJww(230));
        for (int i = 0; i < 8; ++i) EXPECT_EQ(jww.Enthd.nZoomJumpGLay[i], -1) << i;
        EXPECT_EQ(jww.Enthd.dZoomJumpBairitsu[3], 4.5);
        EXPECT_EQ(jww.Enthd.DPZoomJumpGenten_x[3], 30.0);
        for (int i = 4; i < 8; ++i) EXPECT_EQ(jww.Enthd.dZoomJumpBairitsu[i], 1.0) << i;
        EXPECT_EQ(jww.Enthd.dMojiBG, 0.0);
        EXPECT_EQ(jww.Enthd.dSenNagasaSnpou, 7.0);
        EXPECT_EQ(jww.Enthd.SolidColor, 0x123456);
    }
    {
        TJwwData jww;
        ReadOk(jww, BuildJww(299));
        EXPECT_EQ(jww.Enthd.dTenkuuZuLevel, 0.0);
        EXPECT_EQ(jww.Enthd.dTenkuuZuEnkoR, 0.0);
        EXPECT_EQ(jww.Enthd.nZoomJumpGLay[7], 7);
    }
    {
        TJwwData jww;
        ReadOk(jww, BuildJww(419));
        ASSERT_EQ(jww.EntColS.size(), 257u);
        ASSERT_EQ(jww.EntLtpS.size(), 33u);
        for (const auto& c : jww.EntColS) EXPECT_EQ(c, TEntJwwColorExNo{});
        for (const auto& t : jww.EntLtpS) EXPECT_EQ(t, TEntJwwLineTypeExNo{});
        EXPECT_EQ(jww.Enthd.dTenkuuZuLevel, 2.5);
    }
}

TEST(JwwHeader, MaxDrawWidthDerivation) {
    struct Case {
        std::int32_t stored;
        bool senHaba100;
        std::int32_t bak;
    };
    const Case cases[] = {
        {-450, true, -50}, {-401, true, -1}, {-500, true, -100}, {-501, true, -100}, {-400, true, -100},
        {-350, true, -100}, {-300, true, 100}, {-250, true, 50}, {-201, true, 1}, {-200, true, -100},
        {-101, true, -100}, {-100, false, -100}, {0, false, 0}, {7, false, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        JwwHeaderBuilder hb(600);
        hb.nMaxDrawWid = c.stored;
        TJwwData jww;
        ReadOk(jww, BuildJwwFrom(hb.build(), 600));
        EXPECT_EQ(jww.Enthd.nMaxDrawWid, c.stored);
        EXPECT_EQ(jww.Enthd.bSenHaba100, c.senHaba100);
        EXPECT_EQ(jww.Enthd.nMaxDrawWidBak, c.bak);
    }
}

TEST(JwwHeader, MaxDrawWidthBelowMinus101IsLimitedUpToVersion420) {
    JwwHeaderBuilder hb(420);
    hb.nMaxDrawWid = -450;
    TJwwData jww;
    ReadOk(jww, BuildJwwFrom(hb.build(), 420));
    struct Case {
        std::int32_t ver;
        std::int32_t written;
    };
    for (const Case& c : {Case{420, -101}, Case{421, -450}, Case{300, -101}, Case{700, -450}}) {
        SCOPED_TRACE(c.ver);
        TJwwData again;
        ReadOk(again, WriteOk(jww, c.ver));
        EXPECT_EQ(again.Enthd.nMaxDrawWid, c.written);
    }
    EXPECT_EQ(jww.Enthd.nMaxDrawWid, -450);  // the container keeps its value
}

TEST(JwwHeader, PrintValueSplitTruncatesTowardZero) {
    struct Case {
        std::int32_t stored;
        std::int32_t dpi;
        std::int32_t dispOnly;
    };
    const Case cases[] = {{31, 3, 1}, {5, 0, 5}, {10, 1, 0}, {-7, 0, -7}, {-31, -3, -1}, {0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        JwwHeaderBuilder hb(600);
        hb.printValue = c.stored;
        TJwwData jww;
        ReadOk(jww, BuildJwwFrom(hb.build(), 600));
        EXPECT_EQ(jww.Enthd.nPrtDpi, c.dpi);
        EXPECT_EQ(jww.Enthd.nPrtDispOnlyNonDraw, c.dispOnly);
    }
}

TEST(JwwHeader, PrintValueMergeDependsOnVersion) {
    struct Case {
        std::int32_t dpi;
        std::int32_t dispOnly;
        std::int32_t ver;
        std::int32_t written;
    };
    const Case cases[] = {
        {3, 1, 600, 31}, {3, 1, 420, 1}, {0, 4, 600, 14}, {-2, 4, 700, 14}, {0, 4, 599, 4}, {12, 0, 700, 120},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpi << "/" << c.dispOnly << " at " << c.ver);
        TJwwData jww;
        ReadOk(jww, BuildJww(600));
        jww.Enthd.nPrtDpi = c.dpi;
        jww.Enthd.nPrtDispOnlyNonDraw = c.dispOnly;
        const Bytes out = WriteOk(jww, c.ver);
        EXPECT_EQ(I32At(out, JwwHeaderBuilder(c.ver).printValueOffset()), c.written);
    }
}

TEST(JwwHeader, InvalidTextSizesAreRepairedOnReading) {
    JwwHeaderBuilder hb(600);
    hb.mojiX0 = kNaN;
    hb.mojiY0 = -kInf;
    hb.mojiD0 = kNaN;
    hb.mojiSizeX = kInf;
    hb.mojiSizeY = kNaN;
    hb.mojiKankaku = -kInf;
    TJwwData jww;
    ReadOk(jww, BuildJwwFrom(hb.build(), 600));
    EXPECT_EQ(jww.EntMoj[0].adMojiX, 3.0);
    EXPECT_EQ(jww.EntMoj[0].adMojiY, 3.0);
    EXPECT_EQ(jww.EntMoj[0].adMojiD, 0.0);
    EXPECT_EQ(jww.EntMoj[1].adMojiX, 3.0);  // a valid entry as stored
    EXPECT_EQ(jww.Enthd.dMojiSizeX, 3.0);
    EXPECT_EQ(jww.Enthd.dMojiSizeY, 3.0);
    EXPECT_EQ(jww.Enthd.dMojiKankaku, 0.0);
}

TEST(JwwHeader, WriteClampsAndSubstitutesWithoutChangingTheContainer) {
    TJwwData jww;
    ReadOk(jww, BuildJww(700));
    jww.EntCol[1].aPenColor = -5;
    jww.EntCol[2].aPenColor = 0x1000000;
    jww.EntCol[3].aPenColor = 0xFFFFFF;
    jww.EntCol[1].anPenWidth = 0;
    jww.EntCol[2].anPenWidth = 17;
    jww.EntCol[0].aPrtPenColor = 0x123;
    jww.EntCol[4].aPrtPenColor = -1;
    jww.EntCol[1].anPrtPenWidth = 0;
    jww.EntCol[2].anPrtPenWidth = 501;
    jww.EntCol[1].adPrtTenHankei = 0.05;
    jww.EntCol[2].adPrtTenHankei = 11.0;
    jww.EntColS[20].astrUDColorName = u"\u3000";
    jww.EntColS[21].astrUDColorName = u"Blue^m";
    jww.EntColS[30].aPenColor = 0x0000FF;
    jww.EntColS[30].aPrtPenColor = 0x00FF00;
    jww.EntColS[10].aPrtPenColor = 0x00FF00;
    jww.EntLtpS[0].alLType = 0;
    jww.EntLtpS[5].anUDLTypeSegment = 3;  // the segment rule covers 17..32 only
    jww.EntLtpS[5].astrUDLTypeName = u"Dots";
    jww.EntLtpS[20].anUDLTypeSegment = 3;
    jww.EntLtpS[20].astrUDLTypeName = u"Mine";
    jww.EntLtpS[21].astrUDLTypeName = u"Dash";
    jww.EntLay[0].aStrLayName = u"\t";
    jww.EntLay[1].aStrLayName = u"Layer^m1";
    jww.EntLgrp[2].aStrGLayName = u"A\\nB";
    jww.EntMoj[1].adMojiX = 0.0;
    jww.EntMoj[2].adMojiX = -5.0;
    jww.EntMoj[3].adMojiY = 1e11;
    jww.EntMoj[4].adMojiD = -1.0;
    jww.Enthd.dMojiSizeX = -2.0;
    jww.Enthd.dMojiSizeY = 1e-12;
    jww.Enthd.dMojiKankaku = -0.5;

    // The writer works on copies: everything but jwID stays as it was.
    jww.Enthd.jwID = u"x";
    const TEntJwwHeader header = jww.Enthd;
    const auto col = jww.EntCol;
    const auto colS = jww.EntColS;
    const auto ltpS = jww.EntLtpS;
    const auto lay = jww.EntLay;
    const auto moj = jww.EntMoj;
    const Bytes out = WriteOk(jww, 700);
    EXPECT_EQ(jww.Enthd.jwID, u"JwwData.");
    jww.Enthd.jwID = u"x";
    EXPECT_EQ(jww.Enthd, header);
    EXPECT_EQ(jww.EntCol, col);
    EXPECT_EQ(jww.EntColS, colS);
    EXPECT_EQ(jww.EntLtpS, ltpS);
    EXPECT_EQ(jww.EntLay, lay);
    EXPECT_EQ(jww.EntMoj, moj);

    TJwwData w;
    ReadOk(w, out);
    EXPECT_EQ(w.EntCol[1].aPenColor, 0);
    EXPECT_EQ(w.EntCol[2].aPenColor, 0);
    EXPECT_EQ(w.EntCol[3].aPenColor, 0xFFFFFF);
    EXPECT_EQ(w.EntCol[1].anPenWidth, 1);
    EXPECT_EQ(w.EntCol[2].anPenWidth, 16);
    EXPECT_EQ(w.EntCol[0].aPrtPenColor, 0xFFFFFF);
    EXPECT_EQ(w.EntCol[4].aPrtPenColor, 0);
    EXPECT_EQ(w.EntCol[1].anPrtPenWidth, 1);
    EXPECT_EQ(w.EntCol[2].anPrtPenWidth, 500);
    EXPECT_EQ(w.EntCol[1].adPrtTenHankei, 0.1);
    EXPECT_EQ(w.EntCol[2].adPrtTenHankei, 10.0);
    EXPECT_EQ(w.EntColS[20].astrUDColorName, u"Color_20");
    EXPECT_EQ(w.EntColS[21].astrUDColorName, u"Blue");
    EXPECT_EQ(w.EntColS[30].aPrtPenColor, 0x0000FF);  // from 17 on: the screen colour
    EXPECT_EQ(w.EntColS[10].aPrtPenColor, 0x00FF00);
    EXPECT_EQ(w.EntLtpS[0].alLType, -1);
    EXPECT_EQ(w.EntLtpS[5].anUDLTypeSegment, 3);
    EXPECT_EQ(w.EntLtpS[5].astrUDLTypeName, u"Dots");
    EXPECT_EQ(w.EntLtpS[5].alLType, 0x55555555 + 5);
    const TEntJwwLineTypeExNo& t20 = w.EntLtpS[20];
    EXPECT_EQ(static_cast<std::uint32_t>(t20.alLType), 0xC3C3C3C3u);
    EXPECT_EQ(t20.anTokushuSenUintDot, 8);
    EXPECT_EQ(t20.anTokushuSenPich, 1);
    EXPECT_EQ(t20.anPrtTokushuSenPich, 8);
    EXPECT_EQ(t20.astrUDLTypeName, u"LType_20");
    EXPECT_EQ(t20.anUDLTypeSegment, 2);
    EXPECT_EQ(t20.aadUDLTypePitch, (std::array<double, 10>{1.0, 1.0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(w.EntLtpS[21].astrUDLTypeName, u"Dash");
    EXPECT_EQ(w.EntLtpS[21].anUDLTypeSegment, 4);
    EXPECT_EQ(w.EntLay[0].aStrLayName, u" ");
    EXPECT_EQ(w.EntLay[1].aStrLayName, u"Layer1");
    EXPECT_EQ(w.EntLay[2].aStrLayName, u"");
    EXPECT_EQ(w.EntLgrp[2].aStrGLayName, u"AB");
    EXPECT_EQ(w.EntMoj[1].adMojiX, 1e-10);
    EXPECT_EQ(w.EntMoj[2].adMojiX, 5.0);
    EXPECT_EQ(w.EntMoj[3].adMojiY, 1e10);
    EXPECT_EQ(w.EntMoj[4].adMojiD, -1.0);
    EXPECT_EQ(w.Enthd.dMojiSizeX, 2.0);
    EXPECT_EQ(w.Enthd.dMojiSizeY, 1e-10);
    EXPECT_EQ(w.Enthd.dMojiKankaku, -0.5);
}

TEST(JwwHeader, MemoKeepsLineBreaksOtherStringsLoseControlCharacters) {
    JwwHeaderBuilder hb(600);
    hb.memo = ByteBuilder().str("a\r\nb^m").data();
    hb.layerName0 = ByteBuilder().str("L\tA\x01Y").data();
    TJwwData jww;
    ReadOk(jww, BuildJwwFrom(hb.build(), 600));
    EXPECT_EQ(jww.Enthd.strMemo, u"a\r\nb^m");
    EXPECT_EQ(jww.EntLay[0].aStrLayName, u"LAY");
    EXPECT_FALSE(jww.MojiEncode);

    // The memo is written as held, in both string forms.
    for (std::int32_t opt : {0, 32}) {
        SCOPED_TRACE(opt);
        jww.SetFileOutOption(opt);
        TJwwData again;
        ReadOk(again, WriteOk(jww, 600));
        EXPECT_EQ(again.Enthd.strMemo, u"a\r\nb^m");
        EXPECT_EQ(again.MojiEncode, opt == 32);
    }
}

TEST(JwwHeader, UnicodeMemoSetsMojiEncode) {
    JwwHeaderBuilder hb(700);
    hb.memo = ByteBuilder().u8(0xFF).u16(0xFFFE).u8(2).u16(0x56F3).u16(0x9762).data();  // 図面
    TJwwData jww;
    ReadOk(jww, BuildJwwFrom(hb.build(), 700));
    EXPECT_EQ(jww.Enthd.strMemo, u"\u56F3\u9762");
    EXPECT_TRUE(jww.MojiEncode);
}

TEST(JwwHeader, FailuresAreNamed) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string error;
    };
    Bytes badSig = BuildJww(600);
    badSig[7] = '!';
    Bytes cut = BuildJwwHeader(600);
    cut.resize(3000);
    const Case cases[] = {
        {"v219", BuildJww(219), "JWW-Version Error: version 219"},
        {"v701", BuildJww(701), "JWW-Version Error: version 701"},
        {"signature", badSig, "JWW-Header Error"},
        {"cut", cut, "File I/O Error"},
        {"tiny", Bytes{'J', 'w'}, "JWW-Header Error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TJwwData jww;
        EXPECT_FALSE(jww.ReadFromBuffer(c.bytes));
        EXPECT_EQ(jww.LastError().rfind(c.error, 0), 0u) << jww.LastError();
    }
}

// For the file list a file that ends inside the very last header field is
// still read; one that ends before it is not. FileIn wants it whole.
TEST(JwwHeader, FileHeaderInToleratesOnlyAShortLastField) {
    TempDir dir;
    const Bytes header = BuildJwwHeader(600);
    TJwwData jww;
    for (std::size_t missing = 0; missing <= 9; ++missing) {
        SCOPED_TRACE(missing);
        Bytes b = header;
        b.resize(b.size() - missing);
        test::WriteFile(dir.path() / "h.jww", b);
        const bool expected = missing < 8;
        EXPECT_EQ(jww.FileHeaderIn(dir.file("h.jww")), expected) << jww.LastError();
        if (expected) {
            EXPECT_EQ(jww.Enthd.jwVer, 600);
            EXPECT_EQ(jww.Enthd.adMojiKijunZureY1, 4.5);
            // The bytes there are fill the start of the field; the rest stay zero.
            double partial = 0.0;
            std::memcpy(&partial, header.data() + header.size() - 8, 8 - missing);
            EXPECT_EQ(jww.Enthd.adMojiKijunZureY2, partial);
        }
        EXPECT_FALSE(jww.FileIn(dir.file("h.jww")));
    }
    EXPECT_FALSE(jww.FileHeaderIn(dir.file("missing.jww")));
    EXPECT_EQ(jww.LastError().rfind("cannot open file", 0), 0u) << jww.LastError();
}

// A header larger than the prefix FileHeaderIn reads first.
TEST(JwwHeader, FileHeaderInReadsLargeHeaders) {
    TempDir dir;
    JwwHeaderBuilder hb(600);
    const std::string memo(65000, 'm');
    hb.memo = ByteBuilder().u8(0xFF).u16(static_cast<std::uint16_t>(memo.size())).ascii(memo).data();
    const Bytes header = hb.build();
    ASSERT_GT(header.size(), 64u * 1024);
    for (std::size_t extra : {std::size_t{0}, std::size_t{100000}}) {
        SCOPED_TRACE(extra);
        Bytes file = header;
        file.resize(file.size() + extra, 0);
        test::WriteFile(dir.path() / "big.jww", file);
        TJwwData jww;
        ASSERT_TRUE(jww.FileHeaderIn(dir.file("big.jww"))) << jww.LastError();
        EXPECT_EQ(jww.Enthd.strMemo.size(), memo.size());
        EXPECT_EQ(jww.Enthd.adMojiKijunZureY2, 5.5);
    }
    // Cut inside the last field: still read, through a longer prefix.
    Bytes file = header;
    file.resize(file.size() - 3);
    test::WriteFile(dir.path() / "cut.jww", file);
    TJwwData jww;
    EXPECT_TRUE(jww.FileHeaderIn(dir.file("cut.jww"))) << jww.LastError();
    // A bad version fails at once.
    Bytes bad = header;
    bad[8] = 0x01;
    bad[9] = 0x00;
    test::WriteFile(dir.path() / "bad.jww", bad);
    EXPECT_FALSE(jww.FileHeaderIn(dir.file("bad.jww")));
    EXPECT_EQ(jww.LastError(), "JWW-Version Error: version 1");
}

}  // namespace
}  // namespace tervalo

namespace tervalo {
namespace {

// Listing reads only what the header needs: a 3 GiB sparse file with a
// 120 KB memo lists at once, and a header announcing more than any header
// holds is refused without reading on.
TEST(JwwHeader, FileHeaderInReadsOnlyTheHeaderOfAHugeFile) {
    test::TempDir dir;
    const std::filesystem::path path = dir.path() / "huge.jww";
    test::JwwHeaderBuilder hb(700);
    test::ByteBuilder memo;
    memo.u8(0xFF).u16(0xFFFE).u8(0xFF).u16(60000);  // Unicode form, 60 000 code units
    for (int i = 0; i < 60000; ++i) memo.u16(u'm');
    hb.memo = memo.data();
    test::WriteFile(path, hb.build());
    std::error_code ec;
    std::filesystem::resize_file(path, std::uintmax_t{3} << 30, ec);
    if (ec) GTEST_SKIP() << "no sparse 3 GiB file here: " << ec.message();
    TJwwData jww;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(jww.FileHeaderIn(test::U16(path.string()))) << jww.LastError();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(jww.Enthd.strMemo.size(), 60000u);

    // An ANSI layer name of 65 000 bytes per layer: 16 MB of header and more.
    test::ByteBuilder big;
    big.ascii("JwwData.").i32(700).u8(0);
    big.fill(2532, 0);  // up to the first layer name
    for (int i = 0; i < 300; ++i) big.u8(0xFF).u16(65000).fill(65000, 'x');
    test::WriteFile(path, big.data());
    std::filesystem::resize_file(path, std::uintmax_t{3} << 30, ec);
    EXPECT_FALSE(jww.FileHeaderIn(test::U16(path.string())));
    EXPECT_NE(jww.LastError().find("16 MiB"), std::string::npos) << jww.LastError();
}

}  // namespace
}  // namespace tervalo
