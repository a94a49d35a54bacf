// The layout of a JWW header section: every field with its offset and length,
// found by walking the bytes in file order. The byte-difference report of the
// corpus test uses it to name what differs between a source and its rewrite.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "text/encoding.h"

namespace tervalo::test {

struct LayoutField {
    std::string name;
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Fields of the header section from the signature to the last text setting;
// the entity list starts at the end of the last field.
std::vector<LayoutField> JwwHeaderLayout(const Bytes& file);

}  // namespace tervalo::test
