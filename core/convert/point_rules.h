// The per-point conversion rules (temporary <-> real) and their walk over the
// points of one drawing: the plain point list, the four point sub-records of
// dimensions (files of version 420 and later) and the contents of block
// definitions.
#pragma once

#include <cstdint>

#include "convert/convert_options.h"
#include "model/drawing_body.h"
#include "model/point_markers.h"
#include "model/records.h"

namespace tervalo {

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
