#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "convert/drawing_info.h"
#include "convert/file_convert.h"
#include "convert/point_rules.h"
#include "convert_drawings.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

using namespace tervalo::test;
namespace fs = std::filesystem;

std::int32_t I32At(const Bytes& b, std::size_t at) {
    std::int32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

std::int32_t Code(const TEntJwwTen& t) { return static_cast<std::int32_t>(t.nCode); }

std::unique_ptr<TJwsData> ReadJws(const std::u16string& path) {
    auto jws = std::make_unique<TJwsData>();
    EXPECT_TRUE(jws->FileIn(path)) << jws->LastError();
    return jws;
}

std::unique_ptr<TJwwData> ReadJww(const std::u16string& path) {
    auto jww = std::make_unique<TJwwData>();
    jww->BindImageExp = false;
    jww->BindImageExr = true;
    EXPECT_TRUE(jww->FileIn(path)) << jww->LastError();
    return jww;
}

// A figure with every place a point can live: plain points of each kind, a
// dimension, and a referenced block definition with a point and a dimension.
Bytes EveryPlaceFigure(std::int32_t version, bool temporary) {
    auto p = [&](double x) { return PointSpec{x, 1, temporary}; };
    BodyBuilder body(version);
    body.Add(p(1)).Add(Real(2, 2)).Add(Marker(3, 3, -3, 2.0, 0.5));
    body.Add(DimensionSpec{p(4), p(5), p(6), p(7)});
    body.Add(InsertSpec{0, 0, 9});
    body.Def({9, "blk", {p(8), DimensionSpec{p(10), p(11), p(12), p(13)}}});
    return BuildJws(version, body.Build());
}

TEST(FileConvertTest, ToRealWithMarkersReachesEveryPlace) {
    TempDir dir;
    WriteFile(dir.path() / "a.jws", EveryPlaceFigure(700, true));
    TConvertOptions o;
    o.MakeMarker = 1;
    o.MarkerIndex = 3;
    o.MarkerScale = 2.5;
    TJwsData jws;
    ConvertReport report;
    ASSERT_TRUE(JwsToReal(jws, dir.file("a.jws"), dir.file("out.jws"), o, &report));
    EXPECT_EQ(report.failure, ConvertFailure::None);
    EXPECT_EQ(jws.EntTenN, 0) << "the container is emptied afterwards";
    EXPECT_EQ(jws.Enthd.jwVer, 0);

    Bytes out = ReadFile(dir.path() / "out.jws");
    EXPECT_EQ(I32At(out, 200), 700);
    auto r = ReadJws(dir.file("out.jws"));
    ASSERT_EQ(r->EntTenN, 3);
    auto expectMarker = [](const TEntJwwTen& t, std::int32_t code, double x) {
        EXPECT_EQ(t.bKariten, 0u);
        EXPECT_EQ(t.att.nPenStyle, 100);
        EXPECT_EQ(Code(t), code);
        EXPECT_EQ(t.dBairitsu, 2.5);
        EXPECT_EQ(t.radKaitenKaku, 0.0);
        EXPECT_EQ(t.start_x, x);
    };
    expectMarker(r->EntTen[0], -4, 1);
    // An already real point and an existing marker are left as they were.
    EXPECT_EQ(r->EntTen[1].att.nPenStyle, 1);
    EXPECT_EQ(r->EntTen[1].bKariten, 0u);
    EXPECT_EQ(Code(r->EntTen[2]), -3);
    EXPECT_EQ(r->EntTen[2].dBairitsu, 2.0);
    EXPECT_EQ(r->EntTen[2].radKaitenKaku, 0.5);
    ASSERT_EQ(r->EntSunpoN, 1);
    expectMarker(r->EntSunpo[0].Te1, 6, 4);
    expectMarker(r->EntSunpo[0].Te2, 6, 5);
    expectMarker(r->EntSunpo[0].Kt1, -4, 6);
    expectMarker(r->EntSunpo[0].Kt2, -4, 7);
    ASSERT_EQ(r->EntBlockDefN, 1);
    const TEntJwwBlockDef& def = r->EntBlockDef[0];
    ASSERT_EQ(def.mTenN, 1);
    expectMarker(def.mTen[0], -4, 8);
    ASSERT_EQ(def.mSunpoN, 1);
    expectMarker(def.mSunpo[0].Te1, 6, 10);
    expectMarker(def.mSunpo[0].Kt2, -4, 13);
}

TEST(FileConvertTest, ToRealWithoutMarkersGivesPlainPoints) {
    TempDir dir;
    WriteFile(dir.path() / "a.jws", EveryPlaceFigure(600, true));
    TJwsData jws;
    ASSERT_TRUE(JwsToReal(jws, dir.file("a.jws"), dir.file("out.jws"), TConvertOptions{}));
    auto r = ReadJws(dir.file("out.jws"));
    DrawingInfo info = CollectDrawingInfo(*r);
    EXPECT_EQ(info.points, (PointCounts{0, 2, 1}));
    EXPECT_EQ(info.dimensionPoints, (PointCounts{0, 4, 0}));
    EXPECT_EQ(info.blockPoints, (PointCounts{0, 1, 0}));
    EXPECT_EQ(info.blockDimensionPoints, (PointCounts{0, 4, 0}));
    EXPECT_EQ(Code(r->EntTen[0]), 0);
    EXPECT_EQ(r->EntTen[0].dBairitsu, 1.0);
}

TEST(FileConvertTest, MarkersNeedVersion300) {
    struct Case {
        std::int32_t version;
        std::int32_t written;  // version in the output header
        bool markers;
    };
    // A figure read as 300 is written as 351 (the JWS writer's rule) and gets markers.
    for (const Case& c : {Case{250, 250, false}, Case{300, 351, true}, Case{351, 351, true}}) {
        SCOPED_TRACE(c.version);
        TempDir dir;
        BodyBuilder body(c.version);
        body.Add(Temp(1, 2)).Add(Temp(3, 4));
        WriteFile(dir.path() / "a.jws", BuildJws(c.version, body.Build()));
        TConvertOptions o;
        o.MakeMarker = 1;
        o.MarkerIndex = 6;
        TJwsData jws;
        ASSERT_TRUE(JwsToReal(jws, dir.file("a.jws"), dir.file("b.jws"), o));
        EXPECT_EQ(I32At(ReadFile(dir.path() / "b.jws"), 200), c.written);
        auto r = ReadJws(dir.file("b.jws"));
        ASSERT_EQ(r->EntTenN, 2);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(r->EntTen[i].bKariten, 0u);
            EXPECT_EQ(r->EntTen[i].att.nPenStyle == 100, c.markers);
            EXPECT_EQ(Code(r->EntTen[i]), c.markers ? -7 : 0);
            EXPECT_EQ(r->EntTen[i].dBairitsu, 1.0);
        }
    }
}

TEST(FileConvertTest, Version250DrawingKeepsItsVersionAndGetsPlainPoints) {
    TempDir dir;
    BodyBuilder body(250);
    body.Add(Temp(1, 2)).Add(LineSpec{0, 0, 1, 1}).Add(Temp(5, 6));
    WriteFile(dir.path() / "a.jww", BuildJww(250, body.Build()));
    TConvertOptions o;
    o.MakeMarker = 1;
    TJwwData jww;
    ASSERT_TRUE(jww.FileCheck(dir.file("a.jww")));
    ASSERT_TRUE(JwwToReal(jww, dir.file("a.jww"), dir.file("b.jww"), o));
    EXPECT_EQ(I32At(ReadFile(dir.path() / "b.jww"), 8), 250);
    auto r = ReadJww(dir.file("b.jww"));
    EXPECT_EQ(r->Enthd.jwVer, 250);
    ASSERT_EQ(r->EntTenN, 2);
    EXPECT_EQ(r->EntLineN, 1);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(r->EntTen[i].bKariten, 0u);
        EXPECT_NE(r->EntTen[i].att.nPenStyle, 100);
        EXPECT_EQ(Code(r->EntTen[i]), 0);
        EXPECT_EQ(r->EntTen[i].dBairitsu, 1.0);
        EXPECT_EQ(r->EntTen[i].radKaitenKaku, 0.0);
    }
}

TEST(FileConvertTest, Version400DimensionsCarryNoPointsToConvert) {
    // Before 420 a dimension stores no sub-points; converting both ways gives
    // exactly the bytes of a plain re-save once the only point is back.
    TempDir dir;
    BodyBuilder body(400);
    body.Add(Real(1, 1)).Add(DimensionSpec{Temp(1, 1), Temp(2, 2), Temp(3, 3), Temp(4, 4)});
    WriteFile(dir.path() / "a.jww", BuildJww(400, body.Build()));
    TJwwData jww;
    ASSERT_TRUE(JwwToTemporary(jww, dir.file("a.jww"), dir.file("t.jww")));
    ASSERT_TRUE(JwwToReal(jww, dir.file("t.jww"), dir.file("r.jww")));
    auto t = ReadJww(dir.file("t.jww"));
    EXPECT_EQ(t->Enthd.jwVer, 400);
    EXPECT_EQ(CollectDrawingInfo(*t).points, (PointCounts{1, 0, 0}));
    EXPECT_EQ(CollectDrawingInfo(*t).dimensionPoints, (PointCounts{}));

    TJwwData resave;
    ASSERT_TRUE(resave.FileIn(dir.file("a.jww")));
    ASSERT_TRUE(resave.FileOut(dir.file("s.jww"), 400));
    EXPECT_EQ(ReadFile(dir.path() / "r.jww"), ReadFile(dir.path() / "s.jww"));
}

TEST(FileConvertTest, ToTemporaryMarkerFilters) {
    struct Case {
        const char* what;
        std::int32_t markers, ends;
        bool negative, positive;  // converted?
    };
    const Case cases[] = {
        {"both filters off", 0, 0, false, false},
        {"marker ends only", 0, 1, false, true},
        {"markers only", 1, 0, true, false},
        {"both", 1, 1, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        BodyBuilder body(700);
        body.Add(Marker(1, 1, -2)).Add(Marker(2, 2, 5)).Add(Marker(3, 3, 0)).Add(Real(4, 4));
        WriteFile(dir.path() / "a.jws", BuildJws(700, body.Build()));
        TConvertOptions o;
        o.Direction = 1;
        o.ConvertMarkers = c.markers;
        o.ConvertMarkerEnds = c.ends;
        TJwsData jws;
        ASSERT_TRUE(JwsToTemporary(jws, dir.file("a.jws"), dir.file("b.jws"), o));
        auto r = ReadJws(dir.file("b.jws"));
        ASSERT_EQ(r->EntTenN, 4);
        auto check = [](const TEntJwwTen& t, bool converted, std::int32_t code) {
            EXPECT_EQ(t.bKariten, converted ? 1u : 0u);
            EXPECT_EQ(t.att.nPenStyle, 100);  // a converted marker keeps its style
            EXPECT_EQ(Code(t), converted ? 0 : code);
            EXPECT_EQ(t.dBairitsu, converted ? 0.0 : 2.0);
            EXPECT_EQ(t.radKaitenKaku, converted ? 0.0 : 0.5);
        };
        check(r->EntTen[0], c.negative, -2);
        check(r->EntTen[1], c.positive, 5);
        check(r->EntTen[2], true, 0);  // code 0 is always converted
        EXPECT_EQ(r->EntTen[3].bKariten, 1u);
        EXPECT_NE(r->EntTen[3].att.nPenStyle, 100);
    }
}

TEST(FileConvertTest, BlockContentsOffLeavesDefinitionsAlone) {
    for (std::int32_t blocks : {0, 1}) {
        SCOPED_TRACE(blocks);
        TempDir dir;
        BodyBuilder body(700);
        body.Add(Temp(1, 1)).Add(InsertSpec{5, 5, 3});
        body.Def({3, "b", {Temp(1, 1)}});
        WriteFile(dir.path() / "a.jww", BuildJww(700, body.Build()));
        TConvertOptions o;
        o.BlockContents = blocks;
        TJwwData jww;
        jww.BindImageFolder = dir.u16() + u"/";
        jww.BindImageExp = jww.BindImageExr = true;
        ASSERT_TRUE(JwwToReal(jww, dir.file("a.jww"), dir.file("b.jww"), o));
        DrawingInfo info = CollectDrawingInfo(*ReadJww(dir.file("b.jww")));
        EXPECT_EQ(info.points, (PointCounts{0, 1, 0}));
        EXPECT_EQ(info.blockPoints, blocks ? (PointCounts{0, 1, 0}) : (PointCounts{1, 0, 0}));
        EXPECT_EQ(info.referencedBlockDefinitions, 1);
    }
}

TEST(FileConvertTest, FigureWithoutPointsIsWrittenAsAReSave) {
    TempDir dir;
    BodyBuilder body(600);
    body.Add(LineSpec{0, 0, 3, 4}).Add(TextSpec{"abc"});
    WriteFile(dir.path() / "a.jws", BuildJws(600, body.Build()));
    TJwsData jws;
    ASSERT_TRUE(JwsToTemporary(jws, dir.file("a.jws"), dir.file("b.jws")));
    TJwsData resave;
    ASSERT_TRUE(resave.FileIn(dir.file("a.jws")));
    ASSERT_TRUE(resave.FileOut(dir.file("s.jws"), 600));
    EXPECT_EQ(ReadFile(dir.path() / "b.jws"), ReadFile(dir.path() / "s.jws"));
}

TEST(FileConvertTest, UnicodeStringsStayUnicode) {
    for (bool unicode : {false, true}) {
        SCOPED_TRACE(unicode);
        TempDir dir;
        BodyBuilder body(700);
        body.Add(Temp(1, 1)).Add(TextSpec{"note", unicode});
        WriteFile(dir.path() / "a.jws", BuildJws(700, body.Build()));
        TJwsData jws;
        ASSERT_TRUE(JwsToReal(jws, dir.file("a.jws"), dir.file("b.jws")));
        EXPECT_FALSE(jws.MojiEncode) << "emptied";
        EXPECT_EQ(jws.FileOutOpt, 0);
        auto r = ReadJws(dir.file("b.jws"));
        EXPECT_EQ(r->MojiEncode, unicode);
        ASSERT_EQ(r->EntMojiN, 1);
        EXPECT_EQ(r->EntMoji[0].str, u"note");
    }
}

TEST(FileConvertTest, ReadFailureWritesNothingAndEmptiesTheContainer) {
    TempDir dir;
    BodyBuilder body(700);
    body.Add(Temp(1, 1)).Add(InsertSpec{0, 0, 1}).Def({1, "b", {Temp(2, 2)}});
    Bytes whole = BuildJws(700, body.Build());
    // Cut inside the block definition header: the header passes FileCheck,
    // reading fails.
    Bytes cut(whole.begin(), whole.end() - 30);
    WriteFile(dir.path() / "a.jws", cut);
    WriteFile(dir.path() / "b.jws", {1, 2, 3});
    TJwsData jws;
    ASSERT_TRUE(jws.FileCheck(dir.file("a.jws")));
    ConvertReport report;
    EXPECT_FALSE(JwsToReal(jws, dir.file("a.jws"), dir.file("b.jws"), TConvertOptions{}, &report));
    EXPECT_EQ(report.failure, ConvertFailure::ReadFailed);
    EXPECT_FALSE(report.detail.empty());
    EXPECT_EQ(ReadFile(dir.path() / "b.jws"), (Bytes{1, 2, 3})) << "an existing target stays untouched";
    EXPECT_EQ(jws.EntTenN, 0);
    EXPECT_EQ(jws.EntBlockDefN, 0);
    EXPECT_TRUE(jws.EntBlockDef.empty());

    TJwwData jww;
    WriteFile(dir.path() / "c.jww", BuildJww(600));
    Bytes jwwBytes = ReadFile(dir.path() / "c.jww");
    WriteFile(dir.path() / "c.jww", Bytes(jwwBytes.begin(), jwwBytes.end() - 3));
    EXPECT_FALSE(JwwToTemporary(jww, dir.file("c.jww"), dir.file("d.jww"), TConvertOptions{}, &report));
    EXPECT_EQ(report.failure, ConvertFailure::ReadFailed);
    EXPECT_FALSE(FileFound(dir.file("d.jww")));
    EXPECT_EQ(jww.Enthd.jwVer, 0);
}

TEST(FileConvertTest, WriteFailureLeavesNoFile) {
    TempDir dir;
    BodyBuilder body(700);
    body.Add(Temp(1, 1));
    WriteFile(dir.path() / "a.jws", BuildJws(700, body.Build()));
    TJwsData jws;
    ConvertReport report;
    const std::u16string target = dir.file("missing/b.jws");
    EXPECT_FALSE(JwsToReal(jws, dir.file("a.jws"), target, TConvertOptions{}, &report));
    EXPECT_EQ(report.failure, ConvertFailure::WriteFailed);
    EXPECT_FALSE(FileFound(target));
    EXPECT_EQ(jws.EntTenN, 0);
}

// A version-700 drawing with one bound image that a text refers to.
Bytes DrawingWithImage(const Bytes& image) {
    BodyBuilder body(700);
    body.Add(Temp(1, 1)).Add(TextSpec{"^@BM%temp%pic.bmp,100,100,0,0,1,0"});
    ByteBuilder images;
    images.u32(1);
    ImageEntry(images, "pic.bmp", image);
    return BuildJww(700, body.Build(), images.data());
}

TEST(FileConvertTest, BoundImagesAreKeptAndTheWorkFolderEmptied) {
    TempDir dir;
    fs::create_directory(dir.path() / "work");
    Bytes image(5000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
    WriteFile(dir.path() / "a.jww", DrawingWithImage(image));
    TJwwData jww;
    jww.BindImageFolder = dir.file("work") + u"/";
    jww.BindImageExp = jww.BindImageExr = true;
    ASSERT_TRUE(JwwToReal(jww, dir.file("a.jww"), dir.file("b.jww")));
    EXPECT_TRUE(fs::is_empty(dir.path() / "work")) << "the copied-out image is deleted afterwards";
    EXPECT_EQ(jww.BindImageN, 0);

    auto r = ReadJww(dir.file("b.jww"));
    ASSERT_EQ(r->BindImageN, 1);
    EXPECT_EQ(r->BindImage[0].Fname, u"pic.bmp");
    EXPECT_EQ(r->BindImage[0].Fsize, 5000);
    Bytes out = ReadFile(dir.path() / "b.jww");
    EXPECT_TRUE(std::equal(image.begin(), image.end(), out.end() - static_cast<std::ptrdiff_t>(image.size())));
}

TEST(FileConvertTest, ImageThatCannotBeCopiedOutStopsTheConversion) {
    // Writing without the image would silently drop it from the drawing.
    TempDir dir;
    WriteFile(dir.path() / "a.jww", DrawingWithImage(Bytes(100, 0x42)));
    TJwwData jww;
    jww.BindImageFolder = dir.file("no-such-folder") + u"/";
    jww.BindImageExp = jww.BindImageExr = true;
    ConvertReport report;
    EXPECT_FALSE(JwwToReal(jww, dir.file("a.jww"), dir.file("b.jww"), TConvertOptions{}, &report));
    EXPECT_EQ(report.failure, ConvertFailure::ImagesNotExtracted);
    EXPECT_FALSE(FileFound(dir.file("b.jww")));
}

TEST(FileConvertTest, ImageFilesAreOnlyDeletedWhenCopiedOut) {
    // A container that reads images without copying them out must not delete
    // files of those names that belong to someone else.
    TempDir dir;
    WriteFile(dir.path() / "a.jww", DrawingWithImage(Bytes(10, 1)));
    WriteFile(dir.path() / "pic.bmp", Bytes(3, 9));
    TJwwData jww;
    jww.BindImageFolder = dir.u16() + u"/";
    jww.BindImageExp = false;
    jww.BindImageExr = true;
    ASSERT_TRUE(jww.FileIn(dir.file("a.jww")));
    ASSERT_EQ(jww.BindImageN, 1);
    JwwDataFree(jww);
    EXPECT_TRUE(FileFound(dir.file("pic.bmp")));
    EXPECT_EQ(jww.BindImageN, 0);
    EXPECT_EQ(jww.EntTenN, 0);
}

// ---- Corpus ---------------------------------------------------------------

// Clears the fields the point rules may write, in every place a point lives,
// so that two models can be compared for everything else.
void MaskPointFields(DrawingBody& body) {
    auto mask = [](TEntJwwTen& t) {
        t.att.nPenStyle = 0;
        t.bKariten = 0;
        t.nCode = 0;
        t.radKaitenKaku = 0;
        t.dBairitsu = 0;
    };
    auto maskDim = [&](TEntJwwSunpo& s) {
        for (TEntJwwTen* t : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) mask(*t);
    };
    for (auto& t : body.EntTen) mask(t);
    for (auto& s : body.EntSunpo) maskDim(s);
    for (auto& d : body.EntBlockDef) {
        for (auto& t : d.mTen) mask(t);
        for (auto& s : d.mSunpo) maskDim(s);
    }
}

void ExpectSameBody(const DrawingBody& a, const DrawingBody& b) {
    EXPECT_EQ(a.EntNo, b.EntNo);
    EXPECT_EQ(a.EntLgrp, b.EntLgrp);
    EXPECT_TRUE(a.EntLine == b.EntLine);
    EXPECT_TRUE(a.EntEnko == b.EntEnko);
    EXPECT_TRUE(a.EntTen == b.EntTen);
    EXPECT_TRUE(a.EntMoji == b.EntMoji);
    EXPECT_TRUE(a.EntSunpo == b.EntSunpo);
    EXPECT_TRUE(a.EntSolid == b.EntSolid);
    EXPECT_TRUE(a.EntBlock == b.EntBlock);
    EXPECT_TRUE(a.EntBlockDef == b.EntBlockDef);
    EXPECT_EQ(a.BindImage, b.BindImage);
    EXPECT_EQ(a.MojiEncode, b.MojiEncode);
}

// Every point of a body in a fixed order: the point list, then the dimension
// sub-points (from version 420), then per definition its points and dimensions.
std::vector<TEntJwwTen> AllPoints(const DrawingBody& body, std::int32_t ver) {
    std::vector<TEntJwwTen> out(body.EntTen.begin(), body.EntTen.end());
    auto dims = [&](const std::vector<TEntJwwSunpo>& list) {
        if (ver < 420) return;
        for (const auto& s : list) out.insert(out.end(), {s.Te1, s.Te2, s.Kt1, s.Kt2});
    };
    dims(body.EntSunpo);
    for (const auto& d : body.EntBlockDef) {
        out.insert(out.end(), d.mTen.begin(), d.mTen.end());
        dims(d.mSunpo);
    }
    return out;
}


// Reads, converts to temporary and back, and checks each step against a
// plain re-save of the source (which carries the writer's own normalisations).
template <typename Container>
void RoundTripOne(const fs::path& source, const TempDir& dir,
                  const std::function<bool(Container&, const std::u16string&, const std::u16string&)>& toTemporary,
                  const std::function<bool(Container&, const std::u16string&, const std::u16string&)>& toReal,
                  const std::string& ext) {
    const std::u16string src = U16(source.string());
    const std::u16string resaved = dir.file("s" + ext), temp = dir.file("t" + ext), back = dir.file("r" + ext);
    Container c;
    c.BindImageFolder = dir.u16() + u"/";
    c.BindImageExp = c.BindImageExr = std::is_same_v<Container, TJwwData>;
    ASSERT_TRUE(c.FileCheck(src));
    ASSERT_TRUE(c.FileIn(src)) << c.LastError();
    const std::int32_t ver = c.Enthd.jwVer;
    c.SetFileOutOption(c.MojiEncode ? 32 : 0);
    ASSERT_TRUE(c.FileOut(resaved, ver));
    c.DataFree();
    ASSERT_TRUE(toTemporary(c, src, temp));
    ASSERT_TRUE(toReal(c, temp, back));

    Container s, t, r;
    for (auto [model, path] : {std::pair{&s, resaved}, std::pair{&t, temp}, std::pair{&r, back}}) {
        model->BindImageExp = false;
        model->BindImageExr = true;
        ASSERT_TRUE(model->FileIn(path));
        EXPECT_EQ(model->Enthd.jwVer, ver);
    }
    // Point by point: to temporary, every real point that is not a marker
    // with a non-zero code becomes temporary; back, every temporary point is real.
    std::vector<TEntJwwTen> ps = AllPoints(s, ver), pt = AllPoints(t, ver), pr = AllPoints(r, ver);
    ASSERT_EQ(ps.size(), pt.size());
    ASSERT_EQ(ps.size(), pr.size());
    PointCounts expectT, expectR;
    for (std::size_t i = 0; i < ps.size(); ++i) {
        const bool markerKept = ps[i].bKariten == 0 && ps[i].att.nPenStyle == 100 && ps[i].nCode != 0;
        EXPECT_EQ(pt[i].bKariten != 0, !markerKept) << "point " << i;
        EXPECT_EQ(pr[i].bKariten, 0u) << "point " << i;
        if (markerKept) {
            EXPECT_EQ(pt[i], ps[i]);
            EXPECT_EQ(pr[i], ps[i]);
        }
        markerKept ? ++expectT.marker : ++expectT.temporary;
        markerKept ? ++expectR.marker : ++expectR.real;
    }
    EXPECT_EQ(CollectDrawingInfo(t).AllPoints(), expectT);
    EXPECT_EQ(CollectDrawingInfo(r).AllPoints(), expectR);
    EXPECT_EQ(CollectDrawingInfo(s).AllPoints().Total(), static_cast<std::int64_t>(ps.size()));

    // Nothing but the point fields changes.
    EXPECT_TRUE(s.Enthd == t.Enthd);
    EXPECT_TRUE(s.Enthd == r.Enthd);
    MaskPointFields(s);
    MaskPointFields(t);
    MaskPointFields(r);
    ExpectSameBody(s, t);
    ExpectSameBody(s, r);
    if constexpr (std::is_same_v<Container, TJwwData>) {
        EXPECT_TRUE(s.EntLay == t.EntLay && s.EntCol == t.EntCol && s.EntColS == t.EntColS && s.EntLtpS == t.EntLtpS);
        EXPECT_TRUE(s.EntMoj == r.EntMoj);
    }
}

TEST(FileConvertCorpusTest, EveryFileToTemporaryAndBack) {
    TERVALO_REQUIRE_CORPUS();
    std::vector<fs::path> figures;
    for (const auto& e : fs::recursive_directory_iterator(CorpusDir())) {
        std::string ext = e.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) { return std::tolower(ch); });
        if (e.is_regular_file() && ext == ".jws") figures.push_back(e.path());
    }
    std::sort(figures.begin(), figures.end());
    EXPECT_EQ(figures.size(), 150u);

    TempDir dir;
    {
        SCOPED_TRACE("sample.jww");
        RoundTripOne<TJwwData>(
            CorpusDir() / "sample.jww", dir,
            [](TJwwData& c, const auto& a, const auto& b) { return JwwToTemporary(c, a, b, TConvertOptions{}); },
            [](TJwwData& c, const auto& a, const auto& b) { return JwwToReal(c, a, b, TConvertOptions{}); }, ".jww");
    }
    for (const fs::path& f : figures) {
        SCOPED_TRACE(f.string());
        RoundTripOne<TJwsData>(
            f, dir, [](TJwsData& c, const auto& a, const auto& b) { return JwsToTemporary(c, a, b, TConvertOptions{}); },
            [](TJwsData& c, const auto& a, const auto& b) { return JwsToReal(c, a, b, TConvertOptions{}); }, ".jws");
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace tervalo
