// The conversion options: one record read by the conversion, edited by the
// settings dialog and stored in the settings file.
#pragma once

#include <cstdint>

namespace tervalo {

struct TConvertOptions {
    std::int32_t Direction = 0;          // 0: temporary -> real; otherwise real -> temporary
    std::int32_t MakeMarker = 0;         // temporary -> real: make point markers
    std::int32_t MarkerIndex = 0;        // marker glyph 0..6
    double MarkerScale = 1.0;            // display scale of new point markers
    std::int32_t SxfDimensions = 1;      // also the point sub-records of dimensions
    std::int32_t BlockContents = 1;      // also points inside block definitions
    std::int32_t ConvertMarkers = 0;     // real -> temporary: markers with a negative code
    std::int32_t ConvertMarkerEnds = 0;  // real -> temporary: markers with a positive code
};

// The program's one options record.
extern TConvertOptions ConvertOptions;

// Sets every field of ConvertOptions to its default.
void ResetConvertOptions();

}  // namespace tervalo
