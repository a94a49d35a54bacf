// Turns a drawing container into a flat list of drawing primitives in drawing
// coordinates: lines, arcs and ellipses, points and point markers, texts and
// solids, with block inserts drawn through their definitions (position,
// scale, rotation, nested) and dimensions as their line, text and points.
// Only what is drawn is read; texts refer to the container's strings, so a
// render is valid while the container is unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/drawing_body.h"

namespace tervalo {

class TJwwData;
class TJwsData;

namespace render {

// An affine map (x, y) -> (tx + a·x + b·y, ty + c·x + d·y).
struct Transform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    void Apply(double x, double y, double& ox, double& oy) const {
        ox = tx + a * x + b * y;
        oy = ty + c * x + d * y;
    }
    // This map after `inner`: first `inner`, then this.
    Transform Then(const Transform& inner) const;
    // The placement of a block insert at (x, y), scales sx, sy, rotation r.
    static Transform Insert(double x, double y, double sx, double sy, double r);
};

// The pen of a primitive: its line type (pen style), pen colour number and
// the colour that number has in the drawing, as 0xRRGGBB.
struct Pen {
    std::uint32_t rgb = 0;
    std::uint16_t color = 0;
    std::uint16_t width = 0;
    std::uint8_t style = 0;
};

struct LinePrim {
    Pen pen;
    double x1, y1, x2, y2;
    bool inBlock;
};

// An arc, circle, ellipse or elliptic arc: the points c + u·cos t + v·sin t
// for t from `start` over `sweep` (radians, negative sweeps run backwards).
// u and v are the two half-axes after every transform; a circle of radius r
// untransformed has u = (r, 0), v = (0, r).
struct ArcPrim {
    Pen pen;
    double cx, cy, ux, uy, vx, vy;
    double start, sweep;
    bool full;
    bool inBlock;
};

enum class PointState : std::uint8_t { Temporary, Real, Marker };

// The glyph of a point marker, found from its code.
enum class MarkerGlyph : std::uint8_t { None, Star, Circle, Dot, Plus, Square, Triangle, Cross, Unknown };

struct PointPrim {
    Pen pen;
    double x, y;
    double angle;  // marker rotation in radians, the insert's rotation added
    double scale;  // marker display scale
    PointState state;
    MarkerGlyph glyph;
    bool inBlock;
    bool inDimension;
};

struct TextPrim {
    Pen pen;
    double x, y;          // start of the base line
    double sizeX, sizeY;  // character width and height, scaled by inserts
    double spacing;
    double angle;  // degrees
    const std::u16string* font;
    const std::u16string* text;
    bool inBlock;
};

// A filled quadrilateral, corners in the order of the record.
struct SolidPrim {
    Pen pen;  // rgb is the solid's own colour where it has one
    double x[4], y[4];
    bool inBlock;
};

struct Extent {
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    bool empty = true;
    void Add(double x, double y);
};

// Colours of the pen numbers: 0..9 standard pens, 100..356 extended colours
// (index n - 100), as 0xRRGGBB for white paper.
struct Palette {
    std::uint32_t standard[10];
    std::uint32_t extended[257];
    std::uint32_t Of(std::uint16_t penColor) const;
    static Palette Default();
};

// Bounds against hostile or merely huge nesting: inserts deeper than
// kMaxDepth are not expanded, a definition is never expanded inside itself,
// and inserts make at most about kMaxPrimitives primitives beside those of
// the drawing's own entities (always drawn): when a list's
// inserts would make more, the smallest are drawn first and those that do
// not fit are drawn as the outline of their definition's box. Expansion
// also stops after kMaxInserts inserts. `truncated` says when any of this
// left something out.
inline constexpr int kMaxDepth = 32;
inline constexpr std::size_t kMaxPrimitives = 1'000'000;
inline constexpr std::size_t kMaxInserts = 2'000'000;

// A line type as dash lengths in pixels, on and off in turn, starting with
// a dash; empty for a solid line.
using Dash = std::vector<float>;

// The dashes of a line type's dot pattern: the first `dots` bits of `bits`
// from the highest, a set bit drawn, each `pitch` pixels long. A pattern of
// all set or all clear bits is solid.
Dash DashOfPattern(std::uint32_t bits, std::int32_t dots, std::int32_t pitch);

struct Scene {
    std::vector<LinePrim> lines;
    std::vector<ArcPrim> arcs;
    std::vector<PointPrim> points;
    std::vector<TextPrim> texts;
    std::vector<SolidPrim> solids;
    Extent extent;
    // The part of the extent worth showing: the extent of everything but a
    // few elements far away from all the rest (settings texts parked far
    // off the paper, say). Fitting a picture to it keeps the drawing large.
    Extent fit;
    // Dashes by pen style (line type number); styles beyond are solid.
    std::vector<Dash> dashes;
    const Dash* DashOf(std::uint8_t style) const {
        return style < dashes.size() && !dashes[style].empty() ? &dashes[style] : nullptr;
    }
    bool truncated = false;
    std::size_t Size() const { return lines.size() + arcs.size() + points.size() + texts.size() + solids.size(); }
};

// The glyph of a point marker code: the codes the conversion gives new
// markers (-1..-7, and 7, 3, 4, 6, 2, 1, 9 on dimension end points) name the
// seven marker glyphs; other codes give Unknown.
MarkerGlyph GlyphOfCode(std::int32_t code);

PointState StateOf(const TEntJwwTen& ten);

// The standard line types 2 to 9 (JWS figures carry no tables).
std::vector<Dash> StandardDashes();
// The line types of a JWW drawing's tables: styles 2 to 9 and the extended
// styles 31 to 62.
std::vector<Dash> DashesOf(const TJwwData& jww);

// Renders a drawing body read in version `jwVer` with the given colours and
// line types (indexed by pen style).
Scene RenderBody(const DrawingBody& body, std::int32_t jwVer, const Palette& palette,
                 std::vector<Dash> dashes = StandardDashes());
// A JWW drawing with the colours of its pen tables, a JWS figure with the
// default colours.
Scene Render(const TJwwData& jww);
Scene Render(const TJwsData& jws);

// The extent worth showing of a rendered scene (see Scene::fit).
Extent FitExtent(const Scene& scene);

// The colours of a JWW drawing's pen tables (print colours, which are meant
// for paper); entries that are missing or too light for white paper keep
// the default.
Palette PaletteOf(const TJwwData& jww);

}  // namespace render
}  // namespace tervalo
