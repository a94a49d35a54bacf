// The default text-type table shared by the drawing units: ten text types,
// each a pen number, a character width, height and spacing (in mm).
#pragma once

#include <array>
#include <cstdint>

namespace tervalo {

struct DefaultMojiType {
    std::int32_t penNo;
    double width;
    double height;
    double spacing;
};

// Fixed for the life of the program.
extern const std::array<DefaultMojiType, 10> DefaultMojiTypes;

}  // namespace tervalo
