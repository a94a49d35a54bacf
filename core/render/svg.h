// Writes a rendered drawing as an SVG picture: white paper, the drawing
// fitted to its extent, points told apart by state with a legend. Every
// point element carries the class "point" and one of "temporary", "real" or
// "marker", "in-block" when drawn through an insert and "changed" when the
// caller marks it so.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "render/render.h"

namespace tervalo::render {

struct SvgOptions {
    int width = 1600;
    int height = 1200;
    // Indexes into scene.points that a conversion changed; empty for none.
    const std::vector<bool>* changed = nullptr;
    std::u16string title;
};

// Writes the picture in pieces of about 1 MiB to `sink`, in order, so that a
// large picture never stands whole in memory.
using SvgSink = std::function<void(std::string_view)>;
void WriteSvg(const Scene& scene, const SvgOptions& options, const SvgSink& sink);
// The whole picture as one string.
std::string WriteSvg(const Scene& scene, const SvgOptions& options);

// The points whose state differs between two renders of the same drawing
// (before and after a conversion, which changes no positions).
std::vector<bool> ChangedPoints(const Scene& before, const Scene& after);

}  // namespace tervalo::render
