// The per-point conversion rules (temporary <-> real) and their walk over the
// points of one drawing: the plain point list, the four point sub-records of
// dimensions (files of version 420 and later) and the contents of block
// definitions.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "convert/convert_options.h"
#include "model/drawing_body.h"
#include "model/records.h"

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

// Code of a new point marker on a plain point, a block-definition point and
// the base points Kt1, Kt2 of a dimension: -(index + 1), for any index.
std::int32_t MarkerCode(std::int32_t markerIndex);
// Code of a new point marker on the end points Te1, Te2 of a dimension:
// 7, 3, 4, 6, 2, 1, 9 for 0..6; 0 for any other index.
std::int32_t MarkerEndCode(std::int32_t markerIndex);

// Temporary -> real for one point. An already real point is left alone.
void MakeRealPoint(bool markersOn, TEntJwwTen& ten, const TConvertOptions& options = ConvertOptions);
// The same rule for the end points of a dimension (the end-point code column).
void MakeRealEndPoint(bool markersOn, TEntJwwTen& ten, const TConvertOptions& options = ConvertOptions);
// Real -> temporary for one point; point markers only when the options allow.
void MakeTemporaryPoint(TEntJwwTen& ten, const TConvertOptions& options = ConvertOptions);

// Applies the temporary -> real rules to every point of a drawing read in
// version `jwVer`, in the fixed order: point list, dimensions, block
// definitions (each definition's points, then its dimensions). Returns the
// number of points changed.
std::int64_t ConvertPointsToReal(DrawingBody& body, std::int32_t jwVer,
                                 const TConvertOptions& options = ConvertOptions);
// Applies the real -> temporary rule in the same order.
std::int64_t ConvertPointsToTemporary(DrawingBody& body, std::int32_t jwVer,
                                      const TConvertOptions& options = ConvertOptions);

}  // namespace tervalo
