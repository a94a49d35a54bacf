// The fit of a drawing's extent into a picture of w x h pixels.
#pragma once

#include <algorithm>
#include <cmath>

#include "render/render.h"

namespace tervalo::render {

// Drawing coordinates (y up) to picture pixels (y down), fitted with a margin.
struct View {
    double scale = 1, minX = 0, maxY = 0, offX = 0, offY = 0;
    View(const Extent& e, int w, int h) {
        const double margin = 16;
        if (e.empty) return;
        const double dx = std::max(e.maxX - e.minX, 1e-9), dy = std::max(e.maxY - e.minY, 1e-9);
        scale = std::min((w - 2 * margin) / dx, (h - 2 * margin) / dy);
        if (!std::isfinite(scale) || scale <= 0) scale = 1;
        minX = e.minX;
        maxY = e.maxY;
        offX = (w - dx * scale) / 2;
        offY = (h - dy * scale) / 2;
    }
    double X(double x) const { return offX + (x - minX) * scale; }
    double Y(double y) const { return offY + (maxY - y) * scale; }
};

}  // namespace tervalo::render
