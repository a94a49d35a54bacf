// The renderer's geometry (arcs and ellipses, insert transforms, nesting,
// marker glyphs), its bounds against hostile nesting, and the point classes
// of the SVG counted against the drawing's point counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <regex>
#include <string>

#include <zlib.h>

#include "convert/drawing_info.h"
#include "convert/point_rules.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "render/raster.h"
#include "render/render.h"
#include "render/svg.h"
#include "test_support.h"

namespace tervalo {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kEps = 1e-9;

TEntJwwTen Point(double x, double y, bool temporary, bool marker = false, std::int32_t code = 0) {
    TEntJwwTen t;
    t.start_x = x;
    t.start_y = y;
    t.bKariten = temporary ? 1 : 0;
    if (marker) {
        t.att.nPenStyle = kMarkerPenStyle;
        t.nCode = static_cast<std::uint32_t>(code);
        t.dBairitsu = 1;
    }
    return t;
}

TEntJwwBlock Insert(std::uint32_t number, double x, double y, double sx, double sy, double r) {
    TEntJwwBlock b;
    b.nNumber = number;
    b.DPKijunTen_x = x;
    b.DPKijunTen_y = y;
    b.dBairitsuX = sx;
    b.dBairitsuY = sy;
    b.radKaitenKaku = r;
    return b;
}

TEntJwwBlockDef& AddDef(DrawingBody& body, std::uint32_t number) {
    body.EntBlockDef.emplace_back();
    body.EntBlockDefN = static_cast<std::int32_t>(body.EntBlockDef.size());
    body.EntBlockDef.back().nNumber = number;
    return body.EntBlockDef.back();
}

void AddTen(TEntJwwBlockDef& d, const TEntJwwTen& t) {
    d.mTen.push_back(t);
    d.mTenN = static_cast<std::int32_t>(d.mTen.size());
}

void AddBlock(TEntJwwBlockDef& d, const TEntJwwBlock& b) {
    d.mBlock.push_back(b);
    d.mBlockN = static_cast<std::int32_t>(d.mBlock.size());
}

TEST(Render, ArcsAndEllipses) {
    struct Case {
        const char* name;
        double cx, cy, r, start, sweep, tilt, flat;
        std::uint32_t full;
        TEntJwwBlock insert;  // nNumber 0: drawn directly
        double ecx, ecy, ux, uy, vx, vy;
        double minX, minY, maxX, maxY;
    };
    const Case cases[] = {
        {"circle", 1, 1, 2, 0, 2 * kPi, 0, 1, 1, {}, 1, 1, 2, 0, 0, 2, -1, -1, 3, 3},
        {"quarter arc", 0, 0, 1, 0, kPi / 2, 0, 1, 0, {}, 0, 0, 1, 0, 0, 1, 0, 0, 1, 1},
        // From 45 degrees over half a turn: through the top and the left extremes.
        {"half arc", 0, 0, 1, kPi / 4, kPi, 0, 1, 0, {}, 0, 0, 1, 0, 0, 1, -1, -std::sqrt(0.5), std::sqrt(0.5), 1},
        {"backwards arc", 0, 0, 1, kPi / 2, -kPi / 2, 0, 1, 0, {}, 0, 0, 1, 0, 0, 1, 0, 0, 1, 1},
        // Radius 4 along the tilt of 90 degrees, flattened to 2 across it.
        {"tilted ellipse", 0, 0, 4, 0, 0, kPi / 2, 0.5, 1, {}, 0, 0, 0, 4, -2, 0, -2, -4, 2, 4},
        {"circle through uneven insert", 1, 0, 1, 0, 0, 0, 1, 1, Insert(1, 10, 0, 2, 1, 0), 12, 0, 2, 0, 0, 1, 10, -1,
         14, 1},
        {"circle through turned insert", 1, 0, 1, 0, 0, 0, 1, 1, Insert(1, 0, 0, 1, 1, kPi / 2), 0, 1, 0, 1, -1, 0, -1,
         0, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TJwsData jws;
        TEntJwwEnko e;
        e.start_x = c.cx;
        e.start_y = c.cy;
        e.dHankei = c.r;
        e.radKaishiKaku = c.start;
        e.radEnkoKaku = c.sweep;
        e.radKatamukiKaku = c.tilt;
        e.dHenpeiRitsu = c.flat;
        e.bZenEnFlg = c.full;
        if (c.insert.nNumber == 0) {
            jws.EntEnko.push_back(e);
            jws.EntEnkoN = 1;
        } else {
            TEntJwwBlockDef& d = AddDef(jws, c.insert.nNumber);
            d.mEnko.push_back(e);
            d.mEnkoN = 1;
            jws.EntBlock.push_back(c.insert);
            jws.EntBlockN = 1;
        }
        const render::Scene s = render::Render(jws);
        ASSERT_EQ(s.arcs.size(), 1u);
        const render::ArcPrim& a = s.arcs[0];
        EXPECT_NEAR(a.cx, c.ecx, kEps);
        EXPECT_NEAR(a.cy, c.ecy, kEps);
        EXPECT_NEAR(a.ux, c.ux, kEps);
        EXPECT_NEAR(a.uy, c.uy, kEps);
        EXPECT_NEAR(a.vx, c.vx, kEps);
        EXPECT_NEAR(a.vy, c.vy, kEps);
        EXPECT_EQ(a.full, c.full != 0);
        EXPECT_EQ(a.inBlock, c.insert.nNumber != 0);
        EXPECT_NEAR(s.extent.minX, c.minX, kEps);
        EXPECT_NEAR(s.extent.minY, c.minY, kEps);
        EXPECT_NEAR(s.extent.maxX, c.maxX, kEps);
        EXPECT_NEAR(s.extent.maxY, c.maxY, kEps);
    }
}

// An insert at (10, 20), scales 2, holding a point at (1, 0), a text and a
// nested insert at (1, 0) turned by 90 degrees whose definition holds a
// marker at (1, 0): the point lands at (12, 20), the nested marker at (12, 22)
// turned by 90 degrees more.
TEST(Render, NestedInsertTransforms) {
    TJwsData jws;
    TEntJwwBlockDef& outer = AddDef(jws, 5);
    AddTen(outer, Point(1, 0, false));
    TEntJwwMoji text;
    text.start_x = 1;
    text.end_x = 3;
    text.dSizeX = 3;
    text.dSizeY = 4;
    text.degKakudo = 10;
    text.str = u"A";
    outer.mMoji.push_back(text);
    outer.mMojiN = 1;
    AddBlock(outer, Insert(9, 1, 0, 1, 1, kPi / 2));
    TEntJwwBlockDef& inner = AddDef(jws, 9);
    AddTen(inner, Point(1, 0, false, true, -2));
    jws.EntBlock.push_back(Insert(5, 10, 20, 2, 2, 0));
    jws.EntBlock.push_back(Insert(77, 0, 0, 1, 1, 0));  // no such definition: nothing drawn
    jws.EntBlockN = 2;
    jws.EntTen.push_back(Point(0, 0, true));
    jws.EntTenN = 1;

    const render::Scene s = render::Render(jws);
    struct Expected {
        double x, y, angle;
        render::PointState state;
        render::MarkerGlyph glyph;
        bool inBlock;
    };
    const Expected expected[] = {
        {0, 0, 0, render::PointState::Temporary, render::MarkerGlyph::None, false},
        {12, 20, 0, render::PointState::Real, render::MarkerGlyph::None, true},
        {12, 22, kPi / 2, render::PointState::Marker, render::MarkerGlyph::Circle, true},
    };
    ASSERT_EQ(s.points.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(s.points[i].x, expected[i].x, kEps);
        EXPECT_NEAR(s.points[i].y, expected[i].y, kEps);
        EXPECT_NEAR(s.points[i].angle, expected[i].angle, kEps);
        EXPECT_EQ(s.points[i].state, expected[i].state);
        EXPECT_EQ(s.points[i].glyph, expected[i].glyph);
        EXPECT_EQ(s.points[i].inBlock, expected[i].inBlock);
    }
    ASSERT_EQ(s.texts.size(), 1u);
    EXPECT_NEAR(s.texts[0].x, 12, kEps);
    EXPECT_NEAR(s.texts[0].sizeX, 6, kEps);
    EXPECT_NEAR(s.texts[0].sizeY, 8, kEps);
    EXPECT_NEAR(s.texts[0].angle, 10, kEps);
    EXPECT_EQ(*s.texts[0].text, u"A");
    EXPECT_FALSE(s.truncated);
    EXPECT_NEAR(s.extent.maxX, 16, kEps);  // the text's end at (3, 0) of the definition
}

TEST(Render, MarkerGlyphByCode) {
    using G = render::MarkerGlyph;
    const struct {
        std::int32_t code;
        G glyph;
    } cases[] = {{-1, G::Star},   {-2, G::Circle}, {-3, G::Dot},     {-4, G::Plus},    {-5, G::Square},
                 {-6, G::Triangle}, {-7, G::Cross}, {7, G::Star},    {3, G::Circle},   {4, G::Dot},
                 {6, G::Plus},    {2, G::Square},  {1, G::Triangle}, {9, G::Cross},    {0, G::Unknown},
                 {-8, G::Unknown}, {5, G::Unknown}, {8, G::Unknown}, {1000, G::Unknown}};
    for (const auto& c : cases) EXPECT_EQ(render::GlyphOfCode(c.code), c.glyph) << c.code;
}

// A definition that inserts itself, and a chain of definitions each inserting
// the next twice, 40 deep: both end, bounded, and say so.
TEST(Render, HostileNestingIsBounded) {
    TJwsData self;
    TEntJwwBlockDef& d = AddDef(self, 1);
    AddTen(d, Point(0, 0, false));
    AddBlock(d, Insert(1, 1, 0, 1, 1, 0));
    self.EntBlock.push_back(Insert(1, 0, 0, 1, 1, 0));
    self.EntBlockN = 1;
    render::Scene s = render::Render(self);
    EXPECT_EQ(s.points.size(), 1u);
    EXPECT_TRUE(s.truncated);

    TJwsData chain;
    for (std::uint32_t n = 0; n < 40; ++n) {
        TEntJwwBlockDef& def = AddDef(chain, n);
        AddBlock(def, Insert(n + 1, 0, 0, 1, 1, 0));
        AddBlock(def, Insert(n + 1, 1, 0, 1, 1, 0));
    }
    chain.EntBlock.push_back(Insert(0, 0, 0, 1, 1, 0));
    chain.EntBlockN = 1;
    s = render::Render(chain);
    EXPECT_TRUE(s.truncated);
    EXPECT_EQ(s.Size(), 0u);
}

// More inserts than the primitive budget holds: the small ones are drawn
// first, whole; the big ones while they fit, then as the outline of their
// definition's box (transformed like the insert).
TEST(Render, InsertsBeyondTheBudgetBecomeOutlines) {
    TJwsData jws;
    auto line = [](double x1, double y1, double x2, double y2) {
        TEntJwwLine l;
        l.start_x = x1, l.start_y = y1, l.end_x = x2, l.end_y = y2;
        return l;
    };
    TEntJwwBlockDef& big = AddDef(jws, 1);
    for (int i = 0; i < 1000; ++i) big.mLine.push_back(line(0, 0, 1, 2));
    big.mLineN = 1000;
    TEntJwwBlockDef& small = AddDef(jws, 2);
    for (int i = 0; i < 10; ++i) small.mLine.push_back(line(0, 0, 1, 1));
    small.mLineN = 10;
    const std::size_t bigInserts = render::kMaxPrimitives / 1000 + 100;
    for (std::size_t i = 0; i < bigInserts; ++i) jws.EntBlock.push_back(Insert(1, 10, 0, 2, 1, 0));
    for (int i = 0; i < 5; ++i) jws.EntBlock.push_back(Insert(2, 0, 0, 1, 1, 0));
    jws.EntLine.push_back(line(-5, -5, -4, -4));  // the drawing's own: always drawn
    jws.EntLineN = 1;
    jws.EntBlockN = static_cast<std::int32_t>(jws.EntBlock.size());
    const render::Scene s = render::Render(jws);
    EXPECT_TRUE(s.truncated);
    const std::size_t whole = (render::kMaxPrimitives - 50) / 1000;
    const std::size_t outlines = bigInserts - whole;
    EXPECT_EQ(s.lines.size(), 1 + 50 + whole * 1000 + outlines * 4);
    const render::LinePrim& last = s.lines.back();  // the box (0,0)-(1,2) placed at (10,0), twice as wide
    EXPECT_EQ(last.x1, 10);
    EXPECT_EQ(last.y1, 2);
    EXPECT_EQ(last.x2, 10);
    EXPECT_EQ(last.y2, 0);
}

TEST(Render, LineTypeDashes) {
    // Patterns read from the highest bit, started at a dash that follows a
    // gap; one dot is 1.5 pixels at pitch 1.
    const struct {
        std::uint32_t bits;
        std::int32_t dots, pitch;
        render::Dash dash;
    } cases[] = {
        {0x99999999u, 4, 1, {3, 3}},             // 1001: the wrapped dash is one
        {0xFFF99FFFu, 32, 1, {3, 3, 39, 3}},     // long dash, short dash
        {0xC3C3C3C3u, 8, 2, {12, 12}},           // pitch scales every run
        {0xFFFFFFFFu, 32, 1, {}},                // solid
        {0x00000000u, 32, 1, {}},                // nothing drawn is taken as solid
        {0x80000000u, 0, 1, {}},                 // one dot used: solid
        {0x22222222u, 99, 1, {1.5, 4.5, 1.5, 4.5, 1.5, 4.5, 1.5, 4.5, 1.5, 4.5, 1.5, 4.5, 1.5, 4.5, 1.5, 4.5}},
    };
    for (const auto& c : cases) EXPECT_EQ(render::DashOfPattern(c.bits, c.dots, c.pitch), c.dash) << std::hex << c.bits;

    // A drawing's tables give its styles; a figure has the standard ones.
    TJwwData jww;
    jww.EntLtp1.assign(8, TEntJwwLineTypeNo{-1, 32, 1, 1});
    jww.EntLtp1[1] = {static_cast<std::int32_t>(0xF0F0F0F0u), 8, 1, 1};
    jww.EntLtpS.assign(33, {});
    jww.EntLtpS[2].alLType = static_cast<std::int32_t>(0xFE3FFE3Fu);
    jww.EntLtpS[2].anTokushuSenUintDot = 16;
    jww.EntLtpS[2].anTokushuSenPich = 1;
    const std::vector<render::Dash> d = render::DashesOf(jww);
    EXPECT_TRUE(d[2].empty());
    EXPECT_EQ(d[3], (render::Dash{6, 6}));
    EXPECT_EQ(d[32], (render::Dash{19.5, 4.5}));  // extended style 32 from entry 2
    EXPECT_EQ(d.size(), 63u);
    EXPECT_EQ(render::StandardDashes()[2], (render::Dash{3, 3}));
}

TEST(Render, FitLeavesOutElementsFarFromTheRest) {
    TJwsData jws;
    jws.Enthd.jwVer = 600;
    // A frame of 400 x 300 with 200 lines inside, and a few texts parked far
    // below it: the fit is the frame; the extent takes in everything.
    auto line = [](double x1, double y1, double x2, double y2) {
        TEntJwwLine l;
        l.start_x = x1, l.start_y = y1, l.end_x = x2, l.end_y = y2;
        return l;
    };
    jws.EntLine = {line(-200, -150, 200, -150), line(200, -150, 200, 150), line(200, 150, -200, 150),
                   line(-200, 150, -200, -150)};
    for (int i = 0; i < 200; ++i) jws.EntLine.push_back(line(-50 + i % 10, -40 + i / 10, -40 + i % 10, -30 + i / 10));
    jws.EntLineN = static_cast<std::int32_t>(jws.EntLine.size());
    for (int i = 0; i < 3; ++i) {
        TEntJwwMoji t;
        t.start_x = t.end_x = 0;
        t.start_y = t.end_y = -5000;
        jws.EntMoji.push_back(t);
    }
    jws.EntMojiN = 3;
    const render::Scene s = render::Render(jws);
    EXPECT_EQ(s.extent.minY, -5000);
    EXPECT_EQ(s.fit.minX, -200);
    EXPECT_EQ(s.fit.maxX, 200);
    EXPECT_EQ(s.fit.minY, -150);
    EXPECT_EQ(s.fit.maxY, 150);
    // Small scenes are fitted whole.
    jws.EntLineN = 4;
    EXPECT_EQ(render::Render(jws).fit.minY, -5000);
}

std::size_t CountClass(const std::string& svg, const std::string& cls) {
    const std::regex re("<use class=\"point " + cls + "[ \"]");
    return static_cast<std::size_t>(std::distance(std::sregex_iterator(svg.begin(), svg.end(), re), std::sregex_iterator()));
}

std::size_t CountWord(const std::string& svg, const std::string& word) {
    const std::regex re("<use class=\"point [^\"]*\\b" + word + "\\b");
    return static_cast<std::size_t>(std::distance(std::sregex_iterator(svg.begin(), svg.end(), re), std::sregex_iterator()));
}

// Points of every state in the drawing, in a dimension and in a definition
// inserted twice; after the conversion to real points every temporary one
// is marked changed.
TEST(RenderSvg, PointClassesMatchTheDrawingsCounts) {
    TJwsData jws;
    jws.Enthd.jwVer = 600;
    jws.EntTen = {Point(0, 0, true), Point(1, 0, false), Point(2, 0, false, true, -1), Point(3, 0, true)};
    jws.EntTenN = 4;
    TEntJwwSunpo dim;
    dim.Te1 = Point(0, 5, false, true, 7);
    dim.Te2 = Point(1, 5, false);
    dim.Kt1 = Point(0, 6, true);
    dim.Kt2 = Point(1, 6, true);
    jws.EntSunpo.push_back(dim);
    jws.EntSunpoN = 1;
    TEntJwwBlockDef& d = AddDef(jws, 3);
    AddTen(d, Point(0, 1, true));
    AddTen(d, Point(0, 2, false, true, -4));
    jws.EntBlock = {Insert(3, 10, 0, 1, 1, 0), Insert(3, 20, 0, 1, 1, 0)};
    jws.EntBlockN = 2;

    const DrawingInfo info = CollectDrawingInfo(jws);
    const render::Scene before = render::Render(jws);
    const std::string svg = render::WriteSvg(before, {});
    const std::int64_t inserts = 2;
    EXPECT_EQ(CountClass(svg, "temporary"),
              info.points.temporary + info.dimensionPoints.temporary + inserts * info.blockPoints.temporary);
    EXPECT_EQ(CountClass(svg, "real"), info.points.real + info.dimensionPoints.real + inserts * info.blockPoints.real);
    EXPECT_EQ(CountClass(svg, "marker"),
              info.points.marker + info.dimensionPoints.marker + inserts * info.blockPoints.marker);
    EXPECT_EQ(CountWord(svg, "in-block"), inserts * info.blockPoints.Total());
    EXPECT_EQ(CountWord(svg, "changed"), 0u);

    TConvertOptions options;
    options.MakeMarker = 1;
    options.MarkerIndex = 5;
    ConvertPointsToReal(jws, jws.Enthd.jwVer, options);
    const render::Scene after = render::Render(jws);
    const std::vector<bool> changed = render::ChangedPoints(before, after);
    render::SvgOptions o;
    o.changed = &changed;
    const std::string svgAfter = render::WriteSvg(after, o);
    EXPECT_EQ(CountClass(svgAfter, "temporary"), 0u);
    EXPECT_EQ(CountWord(svgAfter, "changed"),
              info.points.temporary + info.dimensionPoints.temporary + inserts * info.blockPoints.temporary);
    EXPECT_NE(svgAfter.find("changed by the conversion (6)"), std::string::npos);
}

TEST(RenderSvg, CorpusDrawingPointsAndExtent) {
    if (!test::CorpusAvailable()) GTEST_SKIP() << "corpus not found";
    TJwwData jww;
    jww.BindImageExp = false;
    jww.BindImageExr = true;
    ASSERT_TRUE(jww.FileIn(Utf8ToUtf16((test::CorpusDir() / "sample.jww").string())));
    const DrawingInfo info = CollectDrawingInfo(jww);
    const render::Scene s = render::Render(jww);
    EXPECT_FALSE(s.truncated);
    EXPECT_FALSE(s.extent.empty);
    const std::string svg = render::WriteSvg(s, {});
    std::size_t top = 0;
    for (const render::PointPrim& p : s.points) top += p.inBlock ? 0 : 1;
    EXPECT_EQ(static_cast<std::int64_t>(top), info.points.Total());
    EXPECT_EQ(CountClass(svg, "real") + CountClass(svg, "temporary") + CountClass(svg, "marker"), s.points.size());
    EXPECT_EQ(CountWord(svg, "in-block"), s.points.size() - top);
    EXPECT_GT(s.points.size() - top, 0u);  // its definitions hold points and are inserted
}

}  // namespace
}  // namespace tervalo

namespace tervalo {
namespace {

// Reads back a PNG with zlib: checks every chunk's CRC, inflates the joined
// image data (zlib checks its own sum) and the row filters, and returns the
// pixels.
bool DecodePng(const std::vector<std::uint8_t>& png, int& w, int& h, std::vector<std::uint8_t>& rgb) {
    auto be32 = [&](std::size_t p) {
        return std::uint32_t{png[p]} << 24 | std::uint32_t{png[p + 1]} << 16 | std::uint32_t{png[p + 2]} << 8 | png[p + 3];
    };
    if (png.size() < 8 || png[1] != 'P' || png[2] != 'N' || png[3] != 'G') return false;
    std::vector<std::uint8_t> z;
    for (std::size_t p = 8; p + 12 <= png.size();) {
        const std::uint32_t n = be32(p);
        const std::string type(png.begin() + static_cast<std::ptrdiff_t>(p + 4), png.begin() + static_cast<std::ptrdiff_t>(p + 8));
        if (p + 12 + n > png.size()) return false;
        if (crc32(0, &png[p + 4], n + 4) != be32(p + 8 + n)) return false;
        if (type == "IHDR") w = static_cast<int>(be32(p + 8)), h = static_cast<int>(be32(p + 12));
        if (type == "IDAT") z.insert(z.end(), png.begin() + static_cast<std::ptrdiff_t>(p + 8), png.begin() + static_cast<std::ptrdiff_t>(p + 8 + n));
        p += 12 + n;
    }
    const std::size_t row = static_cast<std::size_t>(w) * 3;
    std::vector<std::uint8_t> raw((row + 1) * static_cast<std::size_t>(h) + 1);  // one byte more: no data may follow
    uLongf got = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &got, z.data(), static_cast<uLong>(z.size())) != Z_OK || got != raw.size() - 1) return false;
    for (int y = 0; y < h; ++y) {
        if (raw[static_cast<std::size_t>(y) * (row + 1)] != 0) return false;
        const auto start = raw.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * (row + 1) + 1);
        rgb.insert(rgb.end(), start, start + static_cast<std::ptrdiff_t>(row));
    }
    return true;
}

// A square of lines from (0, 0) to (10, 10) with a real point in its middle,
// in 200 x 120 pixels: white paper, dark lines, the point's colour at the
// centre, and the mostly white picture compressed to a small part of its
// pixels.
TEST(RenderPng, DecodesToTheDrawing) {
    TJwsData jws;
    for (const auto& [x1, y1, x2, y2] : {std::array{0., 0., 10., 0.}, {10., 0., 10., 10.}, {10., 10., 0., 10.}, {0., 10., 0., 0.}}) {
        TEntJwwLine l;
        l.start_x = x1, l.start_y = y1, l.end_x = x2, l.end_y = y2;
        l.att.nPenColor = 2;
        jws.EntLine.push_back(l);
    }
    jws.EntLineN = 4;
    jws.EntTen.push_back(Point(5, 5, false));
    jws.EntTenN = 1;
    const std::vector<std::uint8_t> png = render::EncodePng(render::Rasterize(render::Render(jws), 200, 120));
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgb;
    ASSERT_TRUE(DecodePng(png, w, h, rgb));
    EXPECT_LT(png.size(), 200u * 120 * 3 / 20);
    ASSERT_EQ(w, 200);
    ASSERT_EQ(h, 120);
    auto px = [&](int x, int y) {
        const std::size_t i = (static_cast<std::size_t>(y) * 200 + static_cast<std::size_t>(x)) * 3;
        return std::uint32_t{rgb[i]} << 16 | std::uint32_t{rgb[i + 1]} << 8 | rgb[i + 2];
    };
    EXPECT_EQ(px(2, 2), 0xFFFFFFu);                 // paper outside the fitted square
    EXPECT_EQ(px(100, 60), 0x0040FFu);              // the real point at the centre
    EXPECT_EQ(px(100, 16), render::Palette::Default().Of(2));  // the top edge after the 16-pixel margin
}

// Lines through the picture from ends so far out that their distance, or
// the clipping's products, overflow a double. With nothing to fit the view
// maps (x, y) to pixel (x, -y), so each line's pixels are known exactly.
TEST(RenderPng, FarLinesAreClippedWithoutOverflow) {
    const double k = 1.5e307, m = std::numeric_limits<double>::max();
    const struct {
        double x1, y1, x2, y2;
        int onX, onY, offX, offY;
    } cases[] = {
        {-1e299, 1e299, 1e299, -1e299, 60, 60, 60, 30},  // products overflow
        {-k, k, k, -k, 60, 60, 60, 30},                  // so does the distance
        {-m, m, m, -m, 60, 60, 60, 30},
        {-2 * k, k, 2 * k, -k, 60, 30, 60, 60},          // half as steep
        {60, -60, k, -k, 100, 100, 60, 30},              // one end in the picture
        {-k, -500, k, -500, 0, 0, 60, 60},               // below the picture: nothing
    };
    for (const auto& c : cases) {
        render::Scene scene;
        scene.lines.push_back({render::Pen{}, c.x1, c.y1, c.x2, c.y2, false});
        const render::Image im = render::Rasterize(scene, 120, 120);
        auto px = [&](int x, int y) { return im.rgb[(static_cast<std::size_t>(y) * 120 + static_cast<std::size_t>(x)) * 3]; };
        if (c.onX || c.onY) EXPECT_EQ(px(c.onX, c.onY), 0) << c.x1 << " " << c.y1 << " to " << c.x2 << " " << c.y2;
        else EXPECT_EQ(std::count(im.rgb.begin(), im.rgb.end(), 0), 0) << c.y1;
        EXPECT_EQ(px(c.offX, c.offY), 0xFF) << c.x1 << " " << c.y1 << " to " << c.x2 << " " << c.y2;
    }
}

}  // namespace
}  // namespace tervalo
