// What a drawing holds, counted from a container filled by reading: entities
// by kind, points by state, block definitions and bound images. The command
// line's `info` prints it; tests use it to check conversions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "model/drawing_body.h"

namespace tervalo {

class TJwwData;
class TJwsData;

struct KindCounts {
    std::int64_t line = 0, arc = 0, point = 0, text = 0, dimension = 0, solid = 0, block = 0;
    bool operator==(const KindCounts&) const = default;
};

// Points by state: temporary (bKariten != 0), point markers (real with pen
// style 100) and the other real points.
struct PointCounts {
    std::int64_t temporary = 0, real = 0, marker = 0;
    std::int64_t Total() const { return temporary + real + marker; }
    bool operator==(const PointCounts&) const = default;
};

struct ImageInfo {
    std::u16string name;
    std::int32_t size = 0;
};

struct DrawingInfo {
    std::int32_t version = 0;
    std::u16string memo;
    KindCounts entities;        // the drawing's own lists
    KindCounts blockEntities;   // summed over every block definition
    PointCounts points;
    PointCounts dimensionPoints;       // Te1, Te2, Kt1, Kt2 of dimensions (version 420 and later)
    PointCounts blockPoints;
    PointCounts blockDimensionPoints;
    std::int64_t blockDefinitions = 0;
    std::int64_t referencedBlockDefinitions = 0;
    std::vector<ImageInfo> images;
    bool unicode = false;  // some string was stored in the Unicode form

    // Every point a conversion may change: the drawing's, its dimensions',
    // and those of its block definitions.
    PointCounts AllPoints() const;
};

// Adds one point to the counts.
void CountPoint(const TEntJwwTen& ten, PointCounts& counts);

// The counts of a drawing body read in version `jwVer`.
DrawingInfo CollectBodyInfo(const DrawingBody& body, std::int32_t jwVer);
// The counts of a whole JWW drawing (with its memo and images) or JWS figure.
DrawingInfo CollectDrawingInfo(const TJwwData& jww);
DrawingInfo CollectDrawingInfo(const TJwsData& jws);

// Reads a JWW drawing or JWS figure by name for its counts only: the records
// of its own list are counted as they are read and not kept, so memory does
// not grow with them. The counts equal CollectDrawingInfo's after a whole
// read. False when the file cannot be read (LastError() of the container
// says why); the container is left empty of the drawing's own records.
bool ReadDrawingInfo(TJwwData& jww, const std::filesystem::path& path, DrawingInfo& info);
bool ReadDrawingInfo(TJwsData& jws, const std::filesystem::path& path, DrawingInfo& info);

}  // namespace tervalo
