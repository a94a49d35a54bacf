// Point markers as the drawings store them: the codes of the marker glyphs
// and the file versions that carry markers and the point sub-records of
// dimensions. The conversion writes these codes and the renderer reads them.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tervalo {

// Number of marker glyphs the user can choose from (MarkerIndex 0..6).
inline constexpr std::int32_t kMarkerGlyphCount = 7;

// The glyphs of MarkerIndex 0..6, as the settings dialog offers them.
inline constexpr std::array<std::u16string_view, kMarkerGlyphCount> kMarkerGlyphs = {
    u"＊", u"○", u"・", u"＋", u"□", u"△", u"×"};

// Point markers exist from this file version on; older files get plain real points.
inline constexpr std::int32_t kFirstMarkerVersion = 300;
// Dimensions carry their point sub-records from this file version on.
inline constexpr std::int32_t kFirstSxfVersion = 420;

// Code of a point marker of glyph `markerIndex` on a plain point, a
// block-definition point and the base points Kt1, Kt2 of a dimension:
// -(index + 1), for any index.
constexpr std::int32_t MarkerCode(std::int32_t markerIndex) {
    // Computed in 64 bits so that no index can overflow.
    return static_cast<std::int32_t>(-(static_cast<std::int64_t>(markerIndex) + 1));
}

// Code of a point marker on the end points Te1, Te2 of a dimension:
// 7, 3, 4, 6, 2, 1, 9 for 0..6; 0 for any other index.
constexpr std::int32_t MarkerEndCode(std::int32_t markerIndex) {
    constexpr std::array<std::int32_t, kMarkerGlyphCount> kEndCodes = {7, 3, 4, 6, 2, 1, 9};
    if (markerIndex < 0 || markerIndex >= kMarkerGlyphCount) return 0;
    return kEndCodes[static_cast<std::size_t>(markerIndex)];
}

}  // namespace tervalo
