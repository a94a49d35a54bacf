// Recognition and header reading of the DOS-era drawing (.jwc) and figure
// (.jwk) files.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dos/jwc_data.h"
#include "dos/jwk_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

using test::TempDir;
using test::WriteFile;

const std::string kJwcSig = "jw_cad(c)data.......";
const std::string kJwkSig = "jw_cad(c)sym........";

// A 200-byte block: the given bytes, then zeros (or cut to 200).
Bytes Block(const std::string& bytes) {
    Bytes b(bytes.begin(), bytes.end());
    b.resize(200, 0);
    return b;
}

// The identification block: id text in 40 bytes, two comments in 32 each.
Bytes IdentBlock(const std::string& id, const std::string& c1 = "", const std::string& c2 = "") {
    auto field = [](const std::string& s, std::size_t n) {
        Bytes b(s.begin(), s.end());
        b.resize(n, 0);
        return b;
    };
    Bytes b = field(id, 40);
    Bytes f1 = field(c1, 32), f2 = field(c2, 32);
    b.insert(b.end(), f1.begin(), f1.end());
    b.insert(b.end(), f2.begin(), f2.end());
    b.resize(200, 0);
    return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// "first,first+1,...": n comma-separated integers.
std::string Sequence(int first, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(first + i);
    return s;
}

Bytes JwcFile(const std::string& b2, const std::string& b3 = "", const std::string& b4 = "",
              const std::string& c1 = "", const std::string& c2 = "") {
    return Concat({IdentBlock(kJwcSig, c1, c2), Block(b2), Block(b3), Block(b4)});
}

Bytes JwkFile(const std::string& b2, const std::string& c1 = "", const std::string& c2 = "") {
    return Concat({IdentBlock(kJwkSig, c1, c2), Block(b2)});
}

TEST(DosFileCheck, SignaturesAcceptedOnlyByTheirOwnContainer) {
    struct Case {
        const char* name;
        Bytes content;
        bool jwc;
        bool jwk;
    };
    const std::vector<Case> cases = {
        {"drawing signature", Bytes(kJwcSig.begin(), kJwcSig.end()), true, false},
        {"figure signature", Bytes(kJwkSig.begin(), kJwkSig.end()), false, true},
        {"full drawing header", JwcFile("1,2"), true, false},
        {"full figure header", JwkFile("1,2"), false, true},
        {"upper-case drawing", Block("JW_CAD(c)data......."), false, false},
        {"upper-case C in figure", Block("jw_cad(C)sym........"), false, false},
        {"signature cut short", Bytes(kJwcSig.begin(), kJwcSig.end() - 1), false, false},
        {"NUL inside signature", Block(std::string("jw_cad(c)data..\0....", 20)), false, false},
        {"empty file", Bytes{}, false, false},
        {"Jw_cad drawing", Block("JwwData."), false, false},
    };
    TempDir dir;
    TJwcData jwc;
    TJwkData jwk;
    for (const Case& c : cases) {
        const auto path = dir.file("f.bin");
        WriteFile(dir.path() / "f.bin", c.content);
        EXPECT_EQ(jwc.FileCheck(path), c.jwc) << c.name;
        EXPECT_EQ(jwk.FileCheck(path), c.jwk) << c.name;
    }
    EXPECT_FALSE(jwc.FileCheck(dir.file("missing.jwc")));
    EXPECT_FALSE(jwk.FileCheck(dir.file("missing.jwk")));
    EXPECT_FALSE(jwc.FileHeaderIn(dir.file("missing.jwc")));
    EXPECT_FALSE(jwk.FileHeaderIn(dir.file("missing.jwk")));
}

TEST(DosHeader, ReadNeedsAByteOfEveryBlock) {
    // A drawing header has four blocks, a figure header two; the last one may
    // be cut short but must hold at least one byte.
    struct Case {
        std::size_t size;
        bool jwc;
        bool jwk;
    };
    const Case cases[] = {{0, false, false},   {150, false, false}, {200, false, false},
                          {201, false, true},  {400, false, true},  {599, false, true},
                          {600, false, true},  {601, true, true},   {800, true, true},
                          {2000, true, true}};
    TempDir dir;
    for (const Case& c : cases) {
        Bytes jwcBytes = JwcFile("1,2");
        Bytes jwkBytes = JwkFile("1,2");
        jwcBytes.resize(c.size, '7');
        jwkBytes.resize(c.size, '7');
        WriteFile(dir.path() / "a.jwc", jwcBytes);
        WriteFile(dir.path() / "a.jwk", jwkBytes);
        TJwcData jwc;
        TJwkData jwk;
        EXPECT_EQ(jwc.FileHeaderIn(dir.file("a.jwc")), c.jwc) << "size " << c.size;
        EXPECT_EQ(jwk.FileHeaderIn(dir.file("a.jwk")), c.jwk) << "size " << c.size;
        EXPECT_TRUE(jwc.Enthd.para.empty());
        EXPECT_TRUE(jwk.Enthd.para.empty());
    }
}

TEST(DosHeader, CommentsAreCutAtTheirFirstNul) {
    const std::string full32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    const std::string withNul = std::string("0123456789\0tail", 15);
    TempDir dir;
    WriteFile(dir.path() / "a.jwc", JwcFile("", "", "", full32, withNul));
    TJwcData jwc;
    ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc")));
    EXPECT_EQ(jwc.Enthd.jwID, test::U16(kJwcSig));
    EXPECT_EQ(jwc.Enthd.comment1, test::U16(full32));
    EXPECT_EQ(jwc.Enthd.comment2, u"0123456789");
    EXPECT_EQ(jwc.Memo(), test::U16(full32) + u" 0123456789");

    // Shift_JIS comments; a 32-byte first comment does not run into the second.
    const std::string zumen = "\x90\x7d\x96\xca";  // 図面
    std::string long32;
    for (int i = 0; i < 8; ++i) long32 += zumen.substr(i % 2 * 2, 2);
    WriteFile(dir.path() / "a.jwk", JwkFile("", long32, zumen));
    TJwkData jwk;
    ASSERT_TRUE(jwk.FileHeaderIn(dir.file("a.jwk")));
    EXPECT_EQ(jwk.Enthd.comment1, u"図面図面図面図面");
    EXPECT_EQ(jwk.Enthd.comment2, u"図面");
    EXPECT_EQ(jwk.Memo(), u"図面図面図面図面 図面");
}

TEST(DosHeader, EmptyCommentsGiveABlankMemo) {
    TempDir dir;
    WriteFile(dir.path() / "a.jwc", JwcFile(""));
    TJwcData jwc;
    ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc")));
    EXPECT_EQ(jwc.Memo(), u" ");
}

TEST(JwcHeader, BlockTwoWithTwoValues) {
    TempDir dir;
    WriteFile(dir.path() / "a.jwc", JwcFile("12,3"));
    TJwcData jwc;
    ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc")));
    const TEntJwcHeader& h = jwc.Enthd;
    EXPECT_EQ(h.lineCount, 12);
    EXPECT_EQ(h.arcCount, 3);
    EXPECT_EQ(h.mojiCount, 0);
    EXPECT_EQ(h.curFno, 0);  // default 1, but the parameter is missing
    EXPECT_EQ(h.psize, 0);
    EXPECT_EQ(h.lcol, 0);
    EXPECT_EQ(h.wLayScale, 0.0f);
    EXPECT_EQ(h.lpitch2, 0.0f);
    EXPECT_EQ(h.gridX, 0.0f);
    EXPECT_EQ(h.penWidth, (std::array<std::int32_t, 6>{}));
    EXPECT_EQ(h.drawWidth, 518);
    EXPECT_EQ(h.flgPthin, 0);
    // Empty blocks 3 and 4: every value 0, including the buffer addresses.
    EXPECT_EQ(h.arLen, 0.0f);
    EXPECT_EQ(h.mvKeta, 0);
    EXPECT_EQ(h.dlinDist[4], 0.0f);
    EXPECT_EQ(h.sBufAdr1, 0);
    EXPECT_EQ(h.sBufAdr2, 0);
    EXPECT_FLOAT_EQ(h.dataUnit, static_cast<float>(1189.0 / 518.0));
}

TEST(JwcHeader, ParameterTextForms) {
    struct Case {
        const char* block2;
        std::int32_t lineCount;
        std::int32_t arcCount;
        std::int32_t mojiCount;
    };
    const Case cases[] = {
        {"12,3 ", 12, 0, 0},       // a blank after the value makes it malformed
        {"12,3\r\n", 12, 0, 0},    // so does a line break
        {" 12,  3", 12, 3, 0},     // leading blanks are skipped
        {",,5", 0, 0, 5},          // empty parameters read 0
        {"12,", 12, 0, 0},         // a final comma ends the list
        {"$1F,$a,x", 31, 10, 0},   // "$" marks hexadecimal; text reads 0
        {"1.5,2,3", 0, 2, 3},      // an integer parameter with a fraction is malformed
        {"12;3,4", 0, 4, 0},       // only the comma separates
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteFile(dir.path() / "a.jwc", JwcFile(c.block2));
        TJwcData jwc;
        ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc"))) << c.block2;
        EXPECT_EQ(jwc.Enthd.lineCount, c.lineCount) << c.block2;
        EXPECT_EQ(jwc.Enthd.arcCount, c.arcCount) << c.block2;
        EXPECT_EQ(jwc.Enthd.mojiCount, c.mojiCount) << c.block2;
    }
}

TEST(JwcHeader, EveryParameterLandsInItsField) {
    // Each parameter holds its own position + 1 (block 2 from 1, block 3 from
    // 101, block 4 from 201), so a field read from the wrong position shows.
    // Block 2 has one value too many, which is ignored.
    const std::string b4 = "6000:0000,1234:0010," + Sequence(203, 20);
    TempDir dir;
    WriteFile(dir.path() / "a.jwc", JwcFile(Sequence(1, 33), Sequence(101, 28), b4));
    TJwcData jwc;
    ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc")));
    const TEntJwcHeader& h = jwc.Enthd;

    const std::vector<std::int32_t> ints2 = {h.lineCount, h.arcCount, h.mojiCount, h.tenCount,
                                             h.vtenCount, h.curFno, h.curMfno, h.curMlcol,
                                             h.curMpcol};
    for (std::size_t i = 0; i < ints2.size(); ++i) EXPECT_EQ(ints2[i], static_cast<int>(i + 1));
    EXPECT_EQ(h.wLayScale, 10.0f);
    EXPECT_EQ(h.wLayNo, 11);
    EXPECT_EQ(h.psize, 12);
    EXPECT_EQ(h.lcol, 13);
    EXPECT_EQ(h.ltyp, 14);
    EXPECT_EQ(h.plotOrgX, 15.0f);
    EXPECT_EQ(h.plotOrgY, 16.0f);
    EXPECT_EQ(h.lpitch1, 17.0f);
    EXPECT_EQ(h.lpitch2, 18.0f);
    EXPECT_EQ(h.drawtime, 19);
    EXPECT_EQ(h.penWidth, (std::array<std::int32_t, 6>{20, 21, 22, 23, 24, 25}));
    EXPECT_EQ(h.gridX, 26.0f);
    EXPECT_EQ(h.gridY, 27.0f);
    EXPECT_EQ(h.gridOrgX, 28.0f);
    EXPECT_EQ(h.gridOrgY, 29.0f);
    EXPECT_EQ(h.gridScale, 30.0f);
    EXPECT_EQ(h.drawWidth, 31);
    EXPECT_EQ(h.flgPthin, 32);

    const std::vector<float> singles3a = {h.mvDist, h.mtDist, h.arLen, h.arAng};
    for (std::size_t i = 0; i < singles3a.size(); ++i) EXPECT_EQ(singles3a[i], 101.0f + i);
    const std::vector<std::int32_t> ints3 = {h.locMR, h.flgMconma, h.flgMzeros,
                                             h.typLside, h.mvUnit, h.mvKeta};
    for (std::size_t i = 0; i < ints3.size(); ++i) EXPECT_EQ(ints3[i], static_cast<int>(105 + i));
    const std::vector<float> offsets = {h.sOfsetXL, h.sOfsetXM, h.sOfsetXR,
                                        h.sOfsetYD, h.sOfsetYM, h.sOfsetYT};
    for (std::size_t i = 0; i < offsets.size(); ++i) EXPECT_EQ(offsets[i], 111.0f + i);
    EXPECT_EQ(h.s1len, 117);
    EXPECT_EQ(h.sOrgXm, 118);
    EXPECT_EQ(h.sOrgYm, 119);
    EXPECT_EQ(h.dlinDistB, 120.0f);
    EXPECT_EQ(h.dlinDist, (std::array<float, 5>{121, 122, 123, 124, 125}));
    EXPECT_EQ(h.svScrnOX, 126.0f);
    EXPECT_EQ(h.svScrnOY, 127.0f);
    EXPECT_EQ(h.svScrnScl, 128.0f);

    EXPECT_EQ(h.sBufAdr1, 393216);
    EXPECT_EQ(h.sBufAdr2, 74576);
    const std::vector<float> subZoom = {h.subZm0X, h.subZm0Y, h.subZm0S, h.subZm1X, h.subZm1Y,
                                        h.subZm1S, h.subZm2X, h.subZm2Y, h.subZm2S, h.subZm3X,
                                        h.subZm3Y, h.subZm3S, h.subZm4X, h.subZm4Y, h.subZm4S};
    for (std::size_t i = 0; i < subZoom.size(); ++i) EXPECT_EQ(subZoom[i], 203.0f + i);
    EXPECT_EQ(h.hiIdo, 218.0f);
    EXPECT_EQ(h.hiHi, 219.0f);
    EXPECT_EQ(h.hiTaka, 220.0f);
    EXPECT_EQ(h.flgHok, 221);
    EXPECT_EQ(h.flg25Dm, 222);
    EXPECT_TRUE(h.para.empty());
}

TEST(JwcHeader, SingleParametersKeepFractions) {
    TempDir dir;
    WriteFile(dir.path() / "a.jwc", JwcFile("0,0,0,0,0,0,0,0,0,0.25,0,0,0,0,-12.5,1e3"));
    TJwcData jwc;
    ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc")));
    EXPECT_EQ(jwc.Enthd.wLayScale, 0.25f);
    EXPECT_EQ(jwc.Enthd.plotOrgX, -12.5f);
    EXPECT_EQ(jwc.Enthd.plotOrgY, 1000.0f);
}

TEST(JwcHeader, SegmentOffsetAddresses) {
    struct Case {
        const char* param;
        std::int32_t address;
    };
    const Case cases[] = {
        {"6000:0000", 393216},
        {"1234:0010", 74576},
        {"abcd:FFFF", 0xABCD * 16 + 0xFFFF},
        {"6000-0001", 393217},     // the separator is not examined
        {"6000:00012345", 393216 + 1},  // only four offset digits
        {"6000", 393216},          // no offset part
        {"6000:", 393216},
        {"60", 0x60 * 16},         // a short segment
        {"6000:1", 393217},        // a short offset
        {"", 0},
        {"x", 0},
        {"zzzz:0010", 16},         // a malformed segment reads 0
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteFile(dir.path() / "a.jwc", JwcFile("", "", std::string(c.param) + "," + c.param));
        TJwcData jwc;
        ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc"))) << c.param;
        EXPECT_EQ(jwc.Enthd.sBufAdr1, c.address) << c.param;
        EXPECT_EQ(jwc.Enthd.sBufAdr2, c.address) << c.param;
    }
}

TEST(JwcHeader, DataUnitFromPaperSize) {
    struct Case {
        int psize;
        int drawWidth;
        float dataUnit;
    };
    const Case cases[] = {
        {4, 297, 1.0f},
        {3, 518, static_cast<float>(420.0 / 518.0)},
        {3, 0, static_cast<float>(420.0 / 518.0)},  // width 0 is read as 518
        {0, 1189, 1.0f},
        {14, 1000, 100.0f},
        {12, 500, 20.0f},
        {5, 123, 1.0f},
        {7, 9, 1.0f},
        {-1, 297, 1.0f},
        {15, 297, 1.0f},
        {2, -594, -1.0f},
    };
    TempDir dir;
    for (const Case& c : cases) {
        std::string b2 = "0,0,0,0,0,0,0,0,0,0,0," + std::to_string(c.psize);
        for (int i = 12; i < 30; ++i) b2 += ",0";
        b2 += "," + std::to_string(c.drawWidth);
        WriteFile(dir.path() / "a.jwc", JwcFile(b2));
        TJwcData jwc;
        ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc")));
        EXPECT_EQ(jwc.Enthd.psize, c.psize);
        EXPECT_EQ(jwc.Enthd.dataUnit, c.dataUnit) << "psize " << c.psize << " width " << c.drawWidth;
    }
}

TEST(JwcHeader, ScaleFlagFromCharacter22OfTheId) {
    struct Case {
        std::string id;
        bool scaleF;
    };
    const std::vector<Case> cases = {
        {kJwcSig + "..f", true},
        {kJwcSig + "..f and more text", true},
        {kJwcSig + "..F", false},
        {kJwcSig + ".f", false},   // "f" at 21
        {kJwcSig + "...f", false}, // "f" at 23
        {kJwcSig + "..", false},   // 22 characters: nothing at 22
        {kJwcSig, false},
        {std::string(kJwcSig + std::string("..\0f", 4)), false},  // the id ends at the NUL
        {"", false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteFile(dir.path() / "a.jwc", Concat({IdentBlock(c.id), Block(""), Block(""), Block("")}));
        TJwcData jwc;
        ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc")));
        EXPECT_EQ(jwc.Enthd.scaleF, c.scaleF) << c.id;
    }
}

TEST(JwcHeader, PartialLastBlockKeepsThePreviousBlockBytes) {
    // Block 4 holds a single byte "6": it replaces the first byte of block 3's
    // "5000:0001,2,3.5" in the buffer, and the rest of block 3 stays.
    Bytes bytes = JwcFile("", "5000:0001,2,3.5", "");
    bytes.resize(601);
    bytes[600] = '6';
    TempDir dir;
    WriteFile(dir.path() / "a.jwc", bytes);
    TJwcData jwc;
    ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc")));
    EXPECT_EQ(jwc.Enthd.mtDist, 2.0f);
    EXPECT_EQ(jwc.Enthd.arLen, 3.5f);
    EXPECT_EQ(jwc.Enthd.sBufAdr1, 0x6000 * 16 + 1);
    EXPECT_EQ(jwc.Enthd.sBufAdr2, 0x2 * 16);
    EXPECT_EQ(jwc.Enthd.subZm0X, 3.5f);
}

TEST(JwkHeader, FieldsInTheirOrder) {
    TempDir dir;
    WriteFile(dir.path() / "a.jwk", JwkFile("1,2,3,4,5.5,-6.5,7,8,2,99"));
    TJwkData jwk;
    ASSERT_TRUE(jwk.FileHeaderIn(dir.file("a.jwk")));
    const TEntJwkHeader& h = jwk.Enthd;
    EXPECT_EQ(h.jwID, test::U16(kJwkSig));
    EXPECT_EQ(h.lineCount, 1);
    EXPECT_EQ(h.arcCount, 2);
    EXPECT_EQ(h.tenCount, 3);
    EXPECT_EQ(h.mojiCount, 4);
    EXPECT_EQ(h.org_x, 5.5f);
    EXPECT_EQ(h.org_y, -6.5f);
    EXPECT_EQ(h.dispScale, 7.0f);
    EXPECT_EQ(h.strSpace, 8);
    EXPECT_EQ(h.scale, 2.0f);
    EXPECT_TRUE(h.para.empty());
}

TEST(JwkHeader, ScaleAtOrBelowZeroReadsOne) {
    struct Case {
        const char* param;
        float scale;
    };
    const Case cases[] = {{"0", 1.0f},    {"-2", 1.0f},    {"0.5", 0.5f}, {"", 1.0f},
                          {"1e-15", 1.0f}, {"abc", 1.0f},  {"1e-10", 1e-10f}, {"50", 50.0f}};
    TempDir dir;
    for (const Case& c : cases) {
        WriteFile(dir.path() / "a.jwk", JwkFile(std::string("0,0,0,0,0,0,0,0,") + c.param));
        TJwkData jwk;
        ASSERT_TRUE(jwk.FileHeaderIn(dir.file("a.jwk")));
        EXPECT_EQ(jwk.Enthd.scale, c.scale) << c.param;
    }
}

TEST(JwkHeader, PartialBlockTwoKeepsBlockOneBytes) {
    // The one byte of block 2 replaces the "x" of block 1's "x,2,3".
    Bytes bytes = Block("x,2,3");
    bytes.push_back('9');
    TempDir dir;
    WriteFile(dir.path() / "a.jwk", bytes);
    TJwkData jwk;
    ASSERT_TRUE(jwk.FileHeaderIn(dir.file("a.jwk")));
    EXPECT_EQ(jwk.Enthd.lineCount, 9);
    EXPECT_EQ(jwk.Enthd.arcCount, 2);
    EXPECT_EQ(jwk.Enthd.tenCount, 3);
}

TEST(JwcData, DefaultsAfterDataInit) {
    TJwcData jwc;
    const TEntJwcHeader& h = jwc.Enthd;
    auto expectDefaults = [&] {
        EXPECT_EQ(jwc.lineN + jwc.arcN + jwc.mojiN + jwc.tenN, 0);
        EXPECT_TRUE(jwc.EntMjtp.empty());
        EXPECT_TRUE(jwc.EntLine.empty());
        EXPECT_TRUE(h.jwID.empty());
        EXPECT_TRUE(h.comment1.empty());
        EXPECT_TRUE(h.scaleF);
        EXPECT_EQ(h.lineCount, 0);
        EXPECT_EQ(h.curFno, 1);
        EXPECT_EQ(h.curMpcol, 1);
        EXPECT_EQ(h.wLayScale, 1.0f);
        EXPECT_EQ(h.psize, 3);
        EXPECT_EQ(h.lcol, 2);
        EXPECT_EQ(h.ltyp, 1);
        EXPECT_EQ(h.lpitch1, 5.0f);
        EXPECT_EQ(h.lpitch2, 10.0f);
        EXPECT_EQ(h.gridX, 5.0f);
        EXPECT_EQ(h.gridY, 5.0f);
        EXPECT_EQ(h.gridScale, 0.0f);
        EXPECT_EQ(h.drawWidth, 518);
        EXPECT_EQ(h.arLen, 3.0f);
        EXPECT_EQ(h.arAng, 15.0f);
        EXPECT_EQ(h.mvUnit, 0);
        EXPECT_EQ(h.mvKeta, 1);
        EXPECT_EQ(h.dlinDistB, 100.0f);
        EXPECT_EQ(h.dlinDist, (std::array<float, 5>{100, 100, 100, 100, 100}));
        EXPECT_EQ(h.svScrnScl, 1.0f);
        EXPECT_EQ(h.sBufAdr1, 393216);
        EXPECT_EQ(h.sBufAdr2, 393216);
        EXPECT_EQ(h.flg25Dm, 0);
        EXPECT_TRUE(h.para.empty());
        EXPECT_EQ(h.dataUnit, 1.0f);
    };
    expectDefaults();

    TempDir dir;
    WriteFile(dir.path() / "a.jwc", JwcFile(Sequence(1, 32), Sequence(101, 28), Sequence(201, 22),
                                            "memo", "two"));
    ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc")));
    jwc.lineN = 5;
    jwc.EntLine.resize(3);
    jwc.DataInit();
    expectDefaults();

    ASSERT_TRUE(jwc.FileHeaderIn(dir.file("a.jwc")));
    jwc.DataFree();
    expectDefaults();
}

TEST(JwcData, FailedReadKeepsWhatWasReadAndDefaultsForTheRest) {
    TempDir dir;
    WriteFile(dir.path() / "full.jwc",
              JwcFile(Sequence(1, 32), Sequence(101, 28), Sequence(201, 22), "old"));
    Bytes shortFile = JwcFile("7,8", "", "", "new");
    shortFile.resize(250);  // blocks 1 and 2 only
    WriteFile(dir.path() / "short.jwc", shortFile);

    TJwcData jwc;
    ASSERT_TRUE(jwc.FileHeaderIn(dir.file("full.jwc")));
    EXPECT_FALSE(jwc.FileHeaderIn(dir.file("short.jwc")));
    EXPECT_EQ(jwc.Enthd.comment1, u"new");
    EXPECT_EQ(jwc.Enthd.lineCount, 7);
    EXPECT_EQ(jwc.Enthd.arcCount, 8);
    EXPECT_EQ(jwc.Enthd.psize, 0);          // read from the new block 2
    EXPECT_EQ(jwc.Enthd.arLen, 3.0f);       // block 3 was not reached: default
    EXPECT_EQ(jwc.Enthd.sBufAdr1, 393216);  // nor block 4
    EXPECT_EQ(jwc.Enthd.dataUnit, 1.0f);
    EXPECT_TRUE(jwc.Enthd.para.empty());
}

TEST(JwkData, DefaultsAndTextTypes) {
    TJwkData jwk;
    auto expectDefaults = [&] {
        const TEntJwkHeader& h = jwk.Enthd;
        EXPECT_EQ(jwk.lineN + jwk.arcN + jwk.tenN + jwk.mojiN, 0);
        EXPECT_TRUE(jwk.EntLine.empty());
        EXPECT_TRUE(jwk.EntMoji.empty());
        EXPECT_TRUE(h.jwID.empty());
        EXPECT_EQ(h.lineCount, 0);
        EXPECT_EQ(h.org_x, 0.0f);
        EXPECT_EQ(h.dispScale, 1.0f);
        EXPECT_EQ(h.strSpace, 0);
        EXPECT_EQ(h.scale, 1.0f);
        ASSERT_EQ(jwk.EntMjtp.size(), 12u);
        auto same = [](const TEntJwcMojiType& t, int pen, int w, int hgt, int d) {
            return t.penNo == pen && t.width == w && t.height == hgt && t.dist == d;
        };
        EXPECT_TRUE(same(jwk.EntMjtp[0], 0, 0, 0, 0));
        EXPECT_TRUE(same(jwk.EntMjtp[1], 1, 20, 20, 0));
        EXPECT_TRUE(same(jwk.EntMjtp[2], 1, 25, 25, 5));
        EXPECT_TRUE(same(jwk.EntMjtp[5], 3, 50, 50, 10));
        EXPECT_TRUE(same(jwk.EntMjtp[10], 5, 100, 100, 10));
        EXPECT_TRUE(same(jwk.EntMjtp[11], 0, 0, 0, 0));
    };
    expectDefaults();

    TempDir dir;
    WriteFile(dir.path() / "a.jwk", JwkFile("1,2,3,4,5,6,7,8,9", "c"));
    ASSERT_TRUE(jwk.FileHeaderIn(dir.file("a.jwk")));
    jwk.EntMjtp.clear();
    jwk.tenN = 4;
    jwk.DataInit();
    expectDefaults();

    jwk.DataFree();
    EXPECT_TRUE(jwk.EntMjtp.empty());
    EXPECT_EQ(jwk.Enthd.scale, 1.0f);
}

TEST(DosHeader, ArbitraryBytesNeverBreakTheReaders) {
    TempDir dir;
    const auto path = dir.file("r.bin");
    TJwcData jwc;
    TJwkData jwk;

    // All 0xFF: every block is present but holds no number.
    WriteFile(dir.path() / "r.bin", Bytes(800, 0xFF));
    EXPECT_FALSE(jwc.FileCheck(path));
    ASSERT_TRUE(jwc.FileHeaderIn(path));
    EXPECT_FALSE(jwc.Enthd.scaleF);
    EXPECT_EQ(jwc.Enthd.lineCount, 0);
    EXPECT_EQ(jwc.Enthd.drawWidth, 518);
    EXPECT_EQ(jwc.Enthd.sBufAdr1, 0);
    ASSERT_TRUE(jwk.FileHeaderIn(path));
    EXPECT_EQ(jwk.Enthd.scale, 1.0f);

    // Random bytes, with and without a signature in front, of every length
    // around the block boundaries; commas, digits, "$", ":" and NULs are
    // frequent so that many parameters parse.
    std::mt19937 rng(20240601);
    const std::string alphabet = std::string("0123456789,,,,$:.-e \0\x81\x82\xff", 23);
    for (int round = 0; round < 300; ++round) {
        const std::size_t size = rng() % 900;
        Bytes bytes(size);
        for (auto& b : bytes)
            b = (rng() % 4 == 0) ? static_cast<std::uint8_t>(rng())
                                 : static_cast<std::uint8_t>(alphabet[rng() % alphabet.size()]);
        if (round % 3 == 1) {
            const std::string& sig = round % 2 ? kJwcSig : kJwkSig;
            for (std::size_t i = 0; i < sig.size() && i < bytes.size(); ++i) bytes[i] = sig[i];
        }
        WriteFile(dir.path() / "r.bin", bytes);
        jwc.FileCheck(path);
        jwk.FileCheck(path);
        EXPECT_EQ(jwc.FileHeaderIn(path), size > 600) << "size " << size;
        EXPECT_EQ(jwk.FileHeaderIn(path), size > 200) << "size " << size;
        EXPECT_NE(jwc.Enthd.drawWidth, 0);
        EXPECT_GT(jwk.Enthd.scale, 1e-14f);
        EXPECT_LE(jwc.Enthd.jwID.size(), 40u);
        EXPECT_LE(jwc.Enthd.comment1.size(), 32u);
    }
}

}  // namespace
}  // namespace tervalo
