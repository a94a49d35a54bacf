// A deterministic generator of drawings and figures of any size, for
// benchmarks and scale tests: a realistic mix of every entity kind, block
// definitions nested inside each other, texts with Japanese strings and,
// for drawings of version 700, bound images. The same options always give
// the same bytes.
#pragma once

#include <cstdint>
#include <string>

namespace tervalo {

class TJwwData;
class TJwsData;

struct GeneratorOptions {
    std::int32_t version = 700;
    // Entities of the drawing's own list; when 0, as many as make a file of
    // about `targetBytes`.
    std::uint64_t entities = 0;
    std::uint64_t targetBytes = 0;
    std::uint64_t seed = 1;
    // Strings in the Unicode forms, some with characters code page 932 lacks.
    bool unicode = false;
    // Bound images (drawings of version 700 only).
    std::int32_t images = 0;
};

// Fills the container (emptied first) and sets its output options; write it
// with FileOut(path, options.version). False with a reason for options it
// cannot honour (a version out of range, images in a figure or an old drawing,
// no size given).
bool GenerateDrawing(const GeneratorOptions& options, TJwwData& jww, std::string& error);
bool GenerateDrawing(const GeneratorOptions& options, TJwsData& jws, std::string& error);

}  // namespace tervalo
