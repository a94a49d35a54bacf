// Compares a drawing read from a file with the same drawing read again after
// it was written back, record by record. Every difference must be one that a
// write rule explains (attribute codes validated, strings cleaned, text sizes
// clamped, block numbers renumbered, unused block definitions left out); those
// are tallied by rule, anything else is listed as unexplained.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "model/drawing_body.h"

namespace tervalo::test {

struct ModelDiff {
    std::map<std::string, int> explained;  // rule -> number of values it changed
    std::vector<std::string> unexplained;  // first differences nothing explains
    void Unexplained(const std::string& what) {
        if (unexplained.size() < 20) unexplained.push_back(what);
    }
    std::string Summary() const;
};

// Which point fields may differ (the conversion writes exactly these).
enum class PointFields { kAll, kIgnoreConvertedFields };

// `before` was read in version sourceVer and written with that same version;
// `after` is what reading the written file gave.
ModelDiff CompareBodies(const DrawingBody& before, std::int32_t n1Before, std::int32_t n2Before,
                        const DrawingBody& after, std::int32_t n1After, std::int32_t n2After,
                        std::int32_t sourceVer, PointFields points = PointFields::kAll);

}  // namespace tervalo::test
