#include "convert/point_rules.h"

#include <algorithm>
#include <vector>

namespace tervalo {

namespace {

// Entries 0 .. n-1 of a list, never beyond what the list holds.
template <typename T>
std::size_t UsedEntries(const std::vector<T>& list, std::int32_t n) {
    if (n <= 0) return 0;
    return std::min(list.size(), static_cast<std::size_t>(n));
}

// Shared part of both real rules. `code` is the marker code to write when
// markers are on.
void MakeReal(bool markersOn, TEntJwwTen& ten, std::int32_t code, const TConvertOptions& options) {
    if (ten.bKariten == 0) return;  // already real: even markers-on leaves it as it is
    ten.bKariten = 0;
    ten.radKaitenKaku = 0.0;
    if (markersOn) {
        ten.att.nPenStyle = kMarkerPenStyle;
        ten.dBairitsu = options.MarkerScale;
        ten.nCode = static_cast<std::uint32_t>(code);
    } else {
        ten.att.nPenStyle = 0;
        ten.nCode = 0;
        ten.dBairitsu = 1.0;
    }
}

// The walk shared by both directions: `point` is applied to every point
// record, `dimension` to every dimension whose sub-points are to be reached.
template <typename PointFn, typename DimensionFn>
void WalkPoints(DrawingBody& body, std::int32_t jwVer, const TConvertOptions& options, PointFn point,
                DimensionFn dimension) {
    const bool dimensions = options.SxfDimensions != 0 && jwVer >= kFirstSxfVersion;
    for (std::size_t i = 0; i < UsedEntries(body.EntTen, body.EntTenN); ++i) point(body.EntTen[i]);
    if (dimensions)
        for (std::size_t i = 0; i < UsedEntries(body.EntSunpo, body.EntSunpoN); ++i) dimension(body.EntSunpo[i]);
    if (options.BlockContents == 0) return;
    // Every definition, referenced or not; inserts themselves are not points.
    for (std::size_t d = 0; d < UsedEntries(body.EntBlockDef, body.EntBlockDefN); ++d) {
        TEntJwwBlockDef& def = body.EntBlockDef[d];
        for (std::size_t i = 0; i < UsedEntries(def.mTen, def.mTenN); ++i) point(def.mTen[i]);
        if (dimensions)
            for (std::size_t i = 0; i < UsedEntries(def.mSunpo, def.mSunpoN); ++i) dimension(def.mSunpo[i]);
    }
}

}  // namespace

void MakeRealPoint(bool markersOn, TEntJwwTen& ten, const TConvertOptions& options) {
    MakeReal(markersOn, ten, MarkerCode(options.MarkerIndex), options);
}

void MakeRealEndPoint(bool markersOn, TEntJwwTen& ten, const TConvertOptions& options) {
    MakeReal(markersOn, ten, MarkerEndCode(options.MarkerIndex), options);
}

void MakeTemporaryPoint(TEntJwwTen& ten, const TConvertOptions& options) {
    if (ten.bKariten != 0) return;  // already temporary
    if (ten.att.nPenStyle == kMarkerPenStyle) {
        const auto code = static_cast<std::int32_t>(ten.nCode);
        if (code < 0 && options.ConvertMarkers == 0) return;
        if (code > 0 && options.ConvertMarkerEnds == 0) return;
    }
    ten.bKariten = 1;
    ten.nCode = 0;
    ten.radKaitenKaku = 0.0;
    ten.dBairitsu = 0.0;
    // The pen style stays: a converted marker keeps style 100.
}

std::int64_t ConvertPointsToReal(DrawingBody& body, std::int32_t jwVer, const TConvertOptions& options) {
    const bool markersOn = options.MakeMarker != 0 && jwVer >= kFirstMarkerVersion;
    std::int64_t changed = 0;
    // A rule changes a point exactly when it flips the temporary flag.
    auto counted = [&](TEntJwwTen& ten, auto rule) {
        const std::uint32_t before = ten.bKariten;
        rule(ten);
        changed += before != ten.bKariten;
    };
    WalkPoints(
        body, jwVer, options, [&](TEntJwwTen& ten) { counted(ten, [&](TEntJwwTen& t) { MakeRealPoint(markersOn, t, options); }); },
        [&](TEntJwwSunpo& sunpo) {
            for (TEntJwwTen* t : {&sunpo.Te1, &sunpo.Te2})
                counted(*t, [&](TEntJwwTen& x) { MakeRealEndPoint(markersOn, x, options); });
            for (TEntJwwTen* t : {&sunpo.Kt1, &sunpo.Kt2})
                counted(*t, [&](TEntJwwTen& x) { MakeRealPoint(markersOn, x, options); });
        });
    return changed;
}

std::int64_t ConvertPointsToTemporary(DrawingBody& body, std::int32_t jwVer, const TConvertOptions& options) {
    std::int64_t changed = 0;
    auto rule = [&](TEntJwwTen& ten) {
        const std::uint32_t before = ten.bKariten;
        MakeTemporaryPoint(ten, options);
        changed += before != ten.bKariten;
    };
    WalkPoints(body, jwVer, options, rule, [&](TEntJwwSunpo& sunpo) {
        for (TEntJwwTen* t : {&sunpo.Te1, &sunpo.Te2, &sunpo.Kt1, &sunpo.Kt2}) rule(*t);
    });
    return changed;
}

}  // namespace tervalo
