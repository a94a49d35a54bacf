#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "convert/point_rules.h"
#include "model/jws_data.h"

namespace tervalo {
namespace {

constexpr std::uint32_t U(std::int32_t v) { return static_cast<std::uint32_t>(v); }

TEntJwwTen MakeTen(std::uint32_t kariten, std::uint8_t style, std::int32_t code, double rot, double scale) {
    TEntJwwTen t;
    t.att = {77, style, 5, 3, 2, 4, 9};  // every attribute field recognisable
    t.start_x = 12.5;
    t.start_y = -3.25;
    t.bKariten = kariten;
    t.nCode = U(code);
    t.radKaitenKaku = rot;
    t.dBairitsu = scale;
    return t;
}

// Only the five fields of the rules may change; everything else stays.
void ExpectUntouchedFields(const TEntJwwTen& before, const TEntJwwTen& after) {
    EXPECT_EQ(after.start_x, before.start_x);
    EXPECT_EQ(after.start_y, before.start_y);
    EXPECT_EQ(after.att.lGroup, before.att.lGroup);
    EXPECT_EQ(after.att.nPenColor, before.att.nPenColor);
    EXPECT_EQ(after.att.nPenWidth, before.att.nPenWidth);
    EXPECT_EQ(after.att.nLayer, before.att.nLayer);
    EXPECT_EQ(after.att.nGLayer, before.att.nGLayer);
    EXPECT_EQ(after.att.sFlg, before.att.sFlg);
}

TEST(PointRulesTest, MarkerCodeColumns) {
    struct Row { std::int32_t index, plain, end; };
    const Row rows[] = {
        {0, -1, 7}, {1, -2, 3}, {2, -3, 4}, {3, -4, 6}, {4, -5, 2}, {5, -6, 1}, {6, -7, 9},
        // Outside 0..6 the plain column still follows -(index + 1); the end table gives 0.
        {7, -8, 0}, {-1, 0, 0}, {100, -101, 0},
        {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min(), 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.index);
        EXPECT_EQ(MarkerCode(r.index), r.plain);
        EXPECT_EQ(MarkerEndCode(r.index), r.end);
    }
}

TEST(PointRulesTest, MakeRealRules) {
    struct Case {
        const char* what;
        bool endPoint;
        bool markersOn;
        std::int32_t index;
        double scale;
        TEntJwwTen in;
        std::uint8_t style;
        std::int32_t code;
        double rot, bairitsu;
        std::uint32_t kariten;
    };
    const Case cases[] = {
        {"plain real point", false, false, 3, 2.5, MakeTen(1, 1, 5, 0.7, 0.0), 0, 0, 0.0, 1.0, 0},
        {"marker on plain list", false, true, 3, 2.5, MakeTen(1, 1, 5, 0.7, 0.0), 100, -4, 0.0, 2.5, 0},
        {"marker on end point", true, true, 3, 2.5, MakeTen(1, 1, 5, 0.7, 0.0), 100, 6, 0.0, 2.5, 0},
        {"end point, index outside the table", true, true, 9, 1.0, MakeTen(1, 1, 0, 0, 0), 100, 0, 0.0, 1.0, 0},
        {"end point without markers", true, false, 3, 2.5, MakeTen(1, 100, -2, 1.0, 4.0), 0, 0, 0.0, 1.0, 0},
        {"temporary flag other than 1", false, false, 0, 1.0, MakeTen(7, 1, 0, 0, 0), 0, 0, 0.0, 1.0, 0},
        // Already real: nothing changes, also with markers on.
        {"already real", false, true, 0, 3.0, MakeTen(0, 5, 11, 0.3, 0.25), 5, 11, 0.3, 0.25, 0},
        {"already real marker", true, true, 0, 3.0, MakeTen(0, 100, -3, 0.3, 0.25), 100, -3, 0.3, 0.25, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TConvertOptions o;
        o.MarkerIndex = c.index;
        o.MarkerScale = c.scale;
        TEntJwwTen t = c.in;
        if (c.endPoint)
            MakeRealEndPoint(c.markersOn, t, o);
        else
            MakeRealPoint(c.markersOn, t, o);
        EXPECT_EQ(t.bKariten, c.kariten);
        EXPECT_EQ(t.att.nPenStyle, c.style);
        EXPECT_EQ(static_cast<std::int32_t>(t.nCode), c.code);
        EXPECT_EQ(t.radKaitenKaku, c.rot);
        EXPECT_EQ(t.dBairitsu, c.bairitsu);
        ExpectUntouchedFields(c.in, t);
    }
}

TEST(PointRulesTest, MakeTemporaryFilters) {
    struct Case {
        const char* what;
        TEntJwwTen in;
        std::int32_t convertMarkers, convertMarkerEnds;
        bool converted;
    };
    const Case cases[] = {
        {"plain real point", MakeTen(0, 5, 0, 0.0, 1.0), 0, 0, true},
        {"plain point keeps its code rule", MakeTen(0, 1, -3, 0.5, 2.0), 0, 0, true},
        {"marker, negative code, filters off", MakeTen(0, 100, -2, 0.5, 2.0), 0, 0, false},
        {"marker, positive code, filters off", MakeTen(0, 100, 5, 0.5, 2.0), 0, 0, false},
        {"marker, code 0 always", MakeTen(0, 100, 0, 0.5, 2.0), 0, 0, true},
        {"marker, negative code, markers on", MakeTen(0, 100, -2, 0.5, 2.0), 1, 0, true},
        {"marker, positive code, markers on only", MakeTen(0, 100, 5, 0.5, 2.0), 1, 0, false},
        {"marker, positive code, ends on", MakeTen(0, 100, 5, 0.5, 2.0), 0, 1, true},
        {"marker, negative code, ends on only", MakeTen(0, 100, -2, 0.5, 2.0), 0, 1, false},
        {"flags tested as non-zero", MakeTen(0, 100, -2, 0.5, 2.0), 5, 0, true},
        {"most negative code is negative", MakeTen(0, 100, std::numeric_limits<std::int32_t>::min(), 0, 1), 0, 1,
         false},
        {"already temporary", MakeTen(1, 100, -2, 0.5, 2.0), 1, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TConvertOptions o;
        o.ConvertMarkers = c.convertMarkers;
        o.ConvertMarkerEnds = c.convertMarkerEnds;
        TEntJwwTen t = c.in;
        MakeTemporaryPoint(t, o);
        if (c.converted) {
            EXPECT_EQ(t.bKariten, 1u);
            EXPECT_EQ(t.nCode, 0u);
            EXPECT_EQ(t.radKaitenKaku, 0.0);
            EXPECT_EQ(t.dBairitsu, 0.0);  // zero, not 1.0
        } else {
            EXPECT_EQ(t, c.in);
        }
        EXPECT_EQ(t.att.nPenStyle, c.in.att.nPenStyle);  // a converted marker keeps style 100
        ExpectUntouchedFields(c.in, t);
    }
}

TEST(PointRulesTest, DefaultArgumentReadsTheProgramOptions) {
    ResetConvertOptions();
    ConvertOptions.MarkerIndex = 5;
    ConvertOptions.MarkerScale = 4.0;
    TEntJwwTen t = MakeTen(1, 1, 0, 0, 0);
    MakeRealEndPoint(true, t);
    EXPECT_EQ(t.nCode, 1u);
    EXPECT_EQ(t.dBairitsu, 4.0);
    ResetConvertOptions();
    EXPECT_EQ(ConvertOptions.MarkerIndex, 0);
    EXPECT_EQ(ConvertOptions.MarkerScale, 1.0);
    EXPECT_EQ(ConvertOptions.SxfDimensions, 1);
    EXPECT_EQ(ConvertOptions.BlockContents, 1);
}

// A figure held in memory: two plain points (a third entry lies beyond the
// count), one dimension, and two block definitions of which none is referenced.
struct Figure {
    TJwsData jws;
    Figure(std::uint32_t kariten) {
        TEntJwwTen p = MakeTen(kariten, 1, 0, 0, 0);
        jws.EntTen = {p, p, p};
        jws.EntTenN = 2;
        TEntJwwSunpo s;
        s.Te1 = s.Te2 = s.Kt1 = s.Kt2 = p;
        jws.EntSunpo = {s};
        jws.EntSunpoN = 1;
        for (int d = 0; d < 2; ++d) {
            TEntJwwBlockDef def;
            def.mTen = {p};
            def.mTenN = 1;
            def.mSunpo = {s};
            def.mSunpoN = 1;
            def.ref_flag = false;
            jws.EntBlockDef.push_back(def);
        }
        jws.EntBlockDefN = 2;
    }
};

TEST(PointRulesTest, WalkToRealReachesEveryPlace) {
    struct Case {
        const char* what;
        std::int32_t version, sxf, blocks, makeMarker;
        bool dimsReached, blocksReached, markers;
    };
    const Case cases[] = {
        {"version 700, everything", 700, 1, 1, 1, true, true, true},
        {"version 420 is the first with dimension points", 420, 1, 1, 1, true, true, true},
        {"version 419 leaves dimension points", 419, 1, 1, 1, false, true, true},
        {"version 300 makes markers", 300, 1, 1, 1, false, true, true},
        {"version 299 makes plain points", 299, 1, 1, 1, false, true, false},
        {"version 250 makes plain points", 250, 1, 1, 1, false, true, false},
        {"dimensions off", 700, 0, 1, 1, false, true, true},
        {"block contents off", 700, 1, 0, 0, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Figure f(1);
        TConvertOptions o;
        o.SxfDimensions = c.sxf;
        o.BlockContents = c.blocks;
        o.MakeMarker = c.makeMarker;
        o.MarkerIndex = 1;
        ConvertPointsToReal(f.jws, c.version, o);

        const std::int32_t plain = c.markers ? -2 : 0, end = c.markers ? 3 : 0;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(f.jws.EntTen[i].bKariten, 0u);
            EXPECT_EQ(static_cast<std::int32_t>(f.jws.EntTen[i].nCode), plain);
        }
        EXPECT_EQ(f.jws.EntTen[2].bKariten, 1u) << "entry beyond the count";
        auto checkDim = [&](const TEntJwwSunpo& s) {
            EXPECT_EQ(s.Te1.bKariten == 0, c.dimsReached);
            EXPECT_EQ(s.Kt2.bKariten == 0, c.dimsReached);
            if (c.dimsReached) {
                EXPECT_EQ(static_cast<std::int32_t>(s.Te1.nCode), end);
                EXPECT_EQ(static_cast<std::int32_t>(s.Te2.nCode), end);
                EXPECT_EQ(static_cast<std::int32_t>(s.Kt1.nCode), plain);
                EXPECT_EQ(static_cast<std::int32_t>(s.Kt2.nCode), plain);
            }
        };
        checkDim(f.jws.EntSunpo[0]);
        for (const TEntJwwBlockDef& def : f.jws.EntBlockDef) {
            EXPECT_EQ(def.mTen[0].bKariten == 0, c.blocksReached);
            if (c.blocksReached) {
                checkDim(def.mSunpo[0]);
            } else {
                EXPECT_EQ(def.mSunpo[0].Te1.bKariten, 1u);
            }
        }
    }
}

TEST(PointRulesTest, WalkToTemporaryUsesOneRuleEverywhere) {
    struct Case {
        const char* what;
        std::int32_t version, sxf, blocks;
        bool dimsReached, blocksReached;
    };
    const Case cases[] = {
        {"version 700", 700, 1, 1, true, true},
        // No version test for markers in this direction, but the one for dimensions holds.
        {"version 250", 250, 1, 1, false, true},
        {"version 419", 419, 1, 1, false, true},
        {"dimensions off", 700, 0, 1, false, true},
        {"blocks off", 700, 1, 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Figure f(0);
        // End points with a positive code and base points with a negative one:
        // with both filters on, every marker is converted.
        f.jws.EntSunpo[0].Te1 = MakeTen(0, 100, 7, 0.5, 2.0);
        f.jws.EntSunpo[0].Kt1 = MakeTen(0, 100, -1, 0.5, 2.0);
        TConvertOptions o;
        o.SxfDimensions = c.sxf;
        o.BlockContents = c.blocks;
        o.ConvertMarkers = 1;
        o.ConvertMarkerEnds = 1;
        ConvertPointsToTemporary(f.jws, c.version, o);
        EXPECT_EQ(f.jws.EntTen[0].bKariten, 1u);
        EXPECT_EQ(f.jws.EntTen[1].bKariten, 1u);
        EXPECT_EQ(f.jws.EntTen[2].bKariten, 0u) << "entry beyond the count";
        const TEntJwwSunpo& s = f.jws.EntSunpo[0];
        for (const TEntJwwTen* t : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) EXPECT_EQ(t->bKariten == 1, c.dimsReached);
        if (c.dimsReached) {
            EXPECT_EQ(s.Te1.att.nPenStyle, 100);
        }
        for (const TEntJwwBlockDef& def : f.jws.EntBlockDef) {
            EXPECT_EQ(def.mTen[0].bKariten == 1, c.blocksReached);
            EXPECT_EQ(def.mSunpo[0].Te2.bKariten == 1, c.blocksReached && c.dimsReached);
        }
    }
}

TEST(PointRulesTest, WalkIgnoresCountsBeyondTheLists) {
    // A count larger than its list (never made by the reader) must not be
    // followed outside the list.
    TJwsData jws;
    jws.EntTen = {MakeTen(1, 1, 0, 0, 0)};
    jws.EntTenN = 5;
    jws.EntBlockDefN = 3;
    ConvertPointsToReal(jws, 700, TConvertOptions{});
    EXPECT_EQ(jws.EntTen[0].bKariten, 0u);
    jws.EntTenN = -1;
    ConvertPointsToTemporary(jws, 700, TConvertOptions{});
    EXPECT_EQ(jws.EntTen[0].bKariten, 0u);
}

}  // namespace
}  // namespace tervalo
