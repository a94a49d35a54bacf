// Draws a rendered drawing into an RGB image and encodes it as PNG (through
// zlib): lines and flattened arcs one pixel wide, filled solids,
// points as their symbols (temporary, real, marker, changed as in the SVG),
// texts as the outline of their base line box.
#pragma once

#include <cstdint>
#include <vector>

#include "render/render.h"

namespace tervalo::render {

struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3, rows top down
};

Image Rasterize(const Scene& scene, int width, int height, const std::vector<bool>* changed = nullptr);

// PNG of 8-bit RGB, the image data compressed by zlib (level 6).
std::vector<std::uint8_t> EncodePng(const Image& image);

}  // namespace tervalo::render
