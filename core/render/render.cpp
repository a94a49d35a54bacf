#include "render/render.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_map>

#include "model/jws_data.h"
#include "model/entity_lists.h"
#include "model/jww_data.h"
#include "model/point_markers.h"

namespace tervalo::render {

namespace {

constexpr double kPi = std::numbers::pi;

template <typename T>
std::size_t Used(const std::vector<T>& list, std::int32_t n) {
    if (n <= 0) return 0;
    return std::min(list.size(), static_cast<std::size_t>(n));
}

// COLORREF (0x00BBGGRR) as 0xRRGGBB.
std::uint32_t FromColorRef(std::uint32_t c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

// The exact bounding box of an arc: the end points and the axis extremes
// that lie within the swept range.
void AddArcBounds(const ArcPrim& p, Extent& e) {
    auto at = [&](double t) {
        e.Add(p.cx + p.ux * std::cos(t) + p.vx * std::sin(t), p.cy + p.uy * std::cos(t) + p.vy * std::sin(t));
    };
    const double lo = p.sweep >= 0 ? p.start : p.start + p.sweep;
    const double span = std::fabs(p.sweep);
    at(lo);
    at(lo + span);
    if (!std::isfinite(lo) || !std::isfinite(span)) return;
    for (double t0 : {std::atan2(p.vx, p.ux), std::atan2(p.vy, p.uy)}) {
        for (int k = 0; k < 2; ++k) {
            double t = t0 + k * kPi;
            // Bring t into [lo, lo + 2π).
            t = lo + std::fmod(std::fmod(t - lo, 2 * kPi) + 2 * kPi, 2 * kPi);
            if (t - lo <= span) at(t);
        }
    }
}

// Calls f(x, y, addBounds) for every primitive of the scene: (x, y) a point
// on the primitive standing for where it lies, addBounds(Extent&) adding
// its bounding box.
template <typename F>
void ForEachPrimitive(const Scene& s, F&& f) {
    for (const LinePrim& l : s.lines)
        f((l.x1 + l.x2) / 2, (l.y1 + l.y2) / 2, [&](Extent& e) {
            e.Add(l.x1, l.y1);
            e.Add(l.x2, l.y2);
        });
    for (const ArcPrim& a : s.arcs) {
        const double t = a.start + a.sweep / 2;
        f(a.cx + a.ux * std::cos(t) + a.vx * std::sin(t), a.cy + a.uy * std::cos(t) + a.vy * std::sin(t),
          [&](Extent& e) { AddArcBounds(a, e); });
    }
    for (const PointPrim& p : s.points) f(p.x, p.y, [&](Extent& e) { e.Add(p.x, p.y); });
    for (const TextPrim& t : s.texts) f(t.x, t.y, [&](Extent& e) { e.Add(t.x, t.y); });
    for (const SolidPrim& p : s.solids)
        f(p.x[0], p.y[0], [&](Extent& e) {
            for (int i = 0; i < 4; ++i) e.Add(p.x[i], p.y[i]);
        });
}

bool TooLight(std::uint32_t rgb) {
    const unsigned r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    return (r * 299 + g * 587 + b * 114) / 1000 > 225;
}

// What one entity list holds: the drawing's own lists or a definition's.
using Lists = ConstEntityLists;

class Renderer {
public:
    Renderer(const DrawingBody& body, std::int32_t jwVer, const Palette& palette, std::vector<Dash> dashes)
        : body_(body), sxf_(jwVer >= kFirstSxfVersion), palette_(palette), dashes_(std::move(dashes)) {
        const std::size_t defs = Used(body.EntBlockDef, body.EntBlockDefN);
        defIndex_.reserve(defs);
        // The first definition with a number is the one its inserts draw.
        for (std::size_t i = 0; i < defs; ++i) defIndex_.emplace(body.EntBlockDef[i].nNumber, i);
        onPath_.assign(defs, false);
        size_.assign(defs, kUnknown);
        sizing_.assign(defs, false);
        bounds_.assign(defs, Extent{});
        boundsKnown_.assign(defs, false);
    }

    Scene Run() {
        const Lists top = ListsOf(body_);
        scene_.lines.reserve(top.line.used());
        scene_.arcs.reserve(top.enko.used());
        scene_.points.reserve(top.ten.used());
        scene_.texts.reserve(top.moji.used());
        scene_.solids.reserve(top.solid.used());
        Draw(top, Transform{}, false, 0);
        scene_.fit = FitExtent(scene_);
        scene_.dashes = std::move(dashes_);
        return std::move(scene_);
    }

private:
    Pen PenOf(const TEntJwwAttr& att) const {
        return Pen{palette_.Of(att.nPenColor), att.nPenColor, att.nPenWidth, att.nPenStyle};
    }

    // Whether the budget of primitives drawn through inserts is spent (the
    // drawing's own entities are always drawn: the file bounds them).
    bool Full() {
        if (!expanding_) return false;
        if (scene_.Size() - base_ < kMaxPrimitives && expanded_ < kMaxInserts) return false;
        scene_.truncated = true;
        return true;
    }

    void AddLine(const TEntJwwLine& l, const Transform& m, bool inBlock) {
        LinePrim p{PenOf(l.att), 0, 0, 0, 0, inBlock};
        m.Apply(l.start_x, l.start_y, p.x1, p.y1);
        m.Apply(l.end_x, l.end_y, p.x2, p.y2);
        scene_.extent.Add(p.x1, p.y1);
        scene_.extent.Add(p.x2, p.y2);
        scene_.lines.push_back(p);
    }

    // The arc of a record through a transform: the record's half-axes (the
    // radius along the tilt, the flattened radius across it) through the
    // linear part, the centre through the whole map.
    ArcPrim ArcOf(const TEntJwwEnko& e, const Transform& m, bool inBlock) const {
        const double ct = std::cos(e.radKatamukiKaku), st = std::sin(e.radKatamukiKaku);
        const double r = e.dHankei, f = e.dHenpeiRitsu * e.dHankei;
        const double lux = r * ct, luy = r * st, lvx = -f * st, lvy = f * ct;
        ArcPrim p{PenOf(e.att), 0, 0,
                  m.a * lux + m.b * luy, m.c * lux + m.d * luy,
                  m.a * lvx + m.b * lvy, m.c * lvx + m.d * lvy,
                  e.radKaishiKaku, e.radEnkoKaku, false, inBlock};
        m.Apply(e.start_x, e.start_y, p.cx, p.cy);
        p.full = e.bZenEnFlg != 0 || std::fabs(p.sweep) >= 2 * kPi;
        if (p.full) {
            p.start = 0;
            p.sweep = 2 * kPi;
        }
        return p;
    }

    void AddArc(const TEntJwwEnko& e, const Transform& m, bool inBlock) {
        const ArcPrim p = ArcOf(e, m, inBlock);
        AddArcBounds(p, scene_.extent);
        scene_.arcs.push_back(p);
    }

    void AddPoint(const TEntJwwTen& t, const Transform& m, bool inBlock, bool inDimension) {
        PointPrim p{PenOf(t.att), 0, 0, 0, 1, StateOf(t), MarkerGlyph::None, inBlock, inDimension};
        m.Apply(t.start_x, t.start_y, p.x, p.y);
        if (p.state == PointState::Marker) {
            p.glyph = GlyphOfCode(static_cast<std::int32_t>(t.nCode));
            p.angle = t.radKaitenKaku + std::atan2(m.c, m.a);
            p.scale = t.dBairitsu;
        }
        scene_.extent.Add(p.x, p.y);
        scene_.points.push_back(p);
    }

    void AddText(const TEntJwwMoji& t, const Transform& m, bool inBlock) {
        const double sx = std::hypot(m.a, m.c), sy = std::hypot(m.b, m.d);
        TextPrim p{PenOf(t.att), 0, 0, t.dSizeX * sx, t.dSizeY * sy, t.dKankaku * sx,
                   t.degKakudo + std::atan2(m.c, m.a) * 180 / kPi, &t.strFontName, &t.str, inBlock};
        m.Apply(t.start_x, t.start_y, p.x, p.y);
        double ex, ey;
        m.Apply(t.end_x, t.end_y, ex, ey);
        scene_.extent.Add(p.x, p.y);
        scene_.extent.Add(ex, ey);
        scene_.texts.push_back(p);
    }

    void AddSolid(const TEntJwwSolid& s, const Transform& m, bool inBlock) {
        SolidPrim p{PenOf(s.att), {}, {}, inBlock};
        if (s.att.nPenColor == 10) p.pen.rgb = FromColorRef(s.Color);
        const double xs[4] = {s.start_x, s.end_x, s.DPoint2_x, s.DPoint3_x};
        const double ys[4] = {s.start_y, s.end_y, s.DPoint2_y, s.DPoint3_y};
        for (int i = 0; i < 4; ++i) {
            m.Apply(xs[i], ys[i], p.x[i], p.y[i]);
            scene_.extent.Add(p.x[i], p.y[i]);
        }
        scene_.solids.push_back(p);
    }

    static bool Degenerate(const TEntJwwLine& l) {
        return l.start_x == l.end_x && l.start_y == l.end_y;
    }

    void AddDimension(const TEntJwwSunpo& s, const Transform& m, bool inBlock) {
        AddLine(s.Sen, m, inBlock);
        AddText(s.Moji, m, inBlock);
        if (!sxf_) return;  // older files hold no sub-records
        if (!Degenerate(s.Ho1)) AddLine(s.Ho1, m, inBlock);
        if (!Degenerate(s.Ho2)) AddLine(s.Ho2, m, inBlock);
        for (const TEntJwwTen* t : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) AddPoint(*t, m, inBlock, true);
    }

    void Draw(const Lists& l, const Transform& m, bool inBlock, int depth) {
        for (std::size_t i = 0; i < l.solid.used() && !Full(); ++i) AddSolid(l.solid.items[i], m, inBlock);
        for (std::size_t i = 0; i < l.line.used() && !Full(); ++i) AddLine(l.line.items[i], m, inBlock);
        for (std::size_t i = 0; i < l.enko.used() && !Full(); ++i) AddArc(l.enko.items[i], m, inBlock);
        for (std::size_t i = 0; i < l.sunpo.used() && !Full(); ++i) AddDimension(l.sunpo.items[i], m, inBlock);
        for (std::size_t i = 0; i < l.moji.used() && !Full(); ++i) AddText(l.moji.items[i], m, inBlock);
        for (std::size_t i = 0; i < l.ten.used() && !Full(); ++i) AddPoint(l.ten.items[i], m, inBlock, false);
        if (depth >= kMaxDepth) {
            if (l.block.used() > 0) scene_.truncated = true;
            return;
        }
        if (depth == 0) {
            base_ = scene_.Size();
            expanding_ = true;
        }
        // The inserts, in their order when all of them fit in what is left
        // of the primitive budget; otherwise the smallest first, and those
        // that do not fit as the outline of their definition.
        std::size_t need = 0;
        for (std::size_t i = 0; i < l.block.used(); ++i) need = SatAdd(need, SizeOfInsert(l.block.items[i], depth + 1));
        if (need <= Room()) {
            for (std::size_t i = 0; i < l.block.used() && !Full(); ++i) Expand(l.block.items[i], m, depth);
            return;
        }
        std::vector<std::pair<std::size_t, std::size_t>> order;  // size, index
        order.reserve(l.block.used());
        for (std::size_t i = 0; i < l.block.used(); ++i) order.emplace_back(SizeOfInsert(l.block.items[i], depth + 1), i);
        std::stable_sort(order.begin(), order.end());
        for (const auto& [size, i] : order) {
            if (Full()) break;
            const TEntJwwBlock& b = l.block.items[i];
            const auto found = defIndex_.find(b.nNumber);
            if (found == defIndex_.end()) continue;
            if (size <= Room() || OwnSize(ListsOf(body_.EntBlockDef[found->second])) < Room()) {
                Expand(b, m, depth);
            } else {
                AddOutline(b, found->second, m);
                scene_.truncated = true;
            }
        }
    }

    void Expand(const TEntJwwBlock& b, const Transform& m, int depth) {
        const auto found = defIndex_.find(b.nNumber);
        if (found == defIndex_.end()) return;
        const std::size_t d = found->second;
        if (onPath_[d]) {  // a definition reached through its own contents
            scene_.truncated = true;
            return;
        }
        onPath_[d] = true;
        ++expanded_;  // inserts of empty definitions count too
        Draw(ListsOf(body_.EntBlockDef[d]), m.Then(PlacementOf(b)), true, depth + 1);
        onPath_[d] = false;
    }

    static Transform PlacementOf(const TEntJwwBlock& b) {
        return Transform::Insert(b.DPKijunTen_x, b.DPKijunTen_y, b.dBairitsuX, b.dBairitsuY, b.radKaitenKaku);
    }

    // What is left of the primitive budget.
    std::size_t Room() const {
        const std::size_t used = scene_.Size() - base_;
        return used < kMaxPrimitives ? kMaxPrimitives - used : 0;
    }

    static std::size_t SatAdd(std::size_t a, std::size_t b) { return a > kMaxPrimitives - std::min(b, kMaxPrimitives) ? kMaxPrimitives + 1 : a + b; }

    // The primitives of a list's own entities (a dimension makes at most
    // eight).
    static std::size_t OwnSize(const Lists& l) {
        return l.line.used() + l.enko.used() + l.ten.used() + l.moji.used() + l.solid.used() + 8 * l.sunpo.used();
    }

    std::size_t SizeOfInsert(const TEntJwwBlock& b, int depth) {
        const auto found = defIndex_.find(b.nNumber);
        return found == defIndex_.end() ? 0 : SizeOf(found->second, depth);
    }

    // The primitives a definition makes when inserted: its own and those of
    // its inserts, at most the budget and one more; a definition reached
    // through itself counts nothing again.
    std::size_t SizeOf(std::size_t d, int depth) {
        if (size_[d] != kUnknown) return size_[d];
        const Lists l = ListsOf(body_.EntBlockDef[d]);
        std::size_t n = OwnSize(l);
        if (depth < kMaxDepth && !sizing_[d]) {
            sizing_[d] = true;
            for (std::size_t i = 0; i < l.block.used() && n <= kMaxPrimitives; ++i)
                n = SatAdd(n, SizeOfInsert(l.block.items[i], depth + 1));
            sizing_[d] = false;
        }
        return size_[d] = std::min(n, kMaxPrimitives + 1);
    }

    // The bounding box of a definition's contents in its own coordinates.
    const Extent& BoundsOf(std::size_t d, int depth) {
        if (boundsKnown_[d]) return bounds_[d];
        Extent e;
        const Lists l = ListsOf(body_.EntBlockDef[d]);
        for (std::size_t i = 0; i < l.line.used(); ++i) {
            const TEntJwwLine& x = l.line.items[i];
            e.Add(x.start_x, x.start_y);
            e.Add(x.end_x, x.end_y);
        }
        for (std::size_t i = 0; i < l.enko.used(); ++i) AddArcBounds(ArcOf(l.enko.items[i], Transform{}, true), e);
        for (std::size_t i = 0; i < l.ten.used(); ++i) e.Add(l.ten.items[i].start_x, l.ten.items[i].start_y);
        for (std::size_t i = 0; i < l.moji.used(); ++i) {
            e.Add(l.moji.items[i].start_x, l.moji.items[i].start_y);
            e.Add(l.moji.items[i].end_x, l.moji.items[i].end_y);
        }
        for (std::size_t i = 0; i < l.solid.used(); ++i) {
            const TEntJwwSolid& x = l.solid.items[i];
            e.Add(x.start_x, x.start_y);
            e.Add(x.end_x, x.end_y);
            e.Add(x.DPoint2_x, x.DPoint2_y);
            e.Add(x.DPoint3_x, x.DPoint3_y);
        }
        for (std::size_t i = 0; i < l.sunpo.used(); ++i) {
            const TEntJwwSunpo& x = l.sunpo.items[i];
            e.Add(x.Sen.start_x, x.Sen.start_y);
            e.Add(x.Sen.end_x, x.Sen.end_y);
        }
        boundsKnown_[d] = true;  // also guards against a definition inside itself
        bounds_[d] = e;
        for (std::size_t i = 0; depth < kMaxDepth && i < l.block.used(); ++i) {
            const TEntJwwBlock& b = l.block.items[i];
            const auto found = defIndex_.find(b.nNumber);
            if (found == defIndex_.end()) continue;
            const Extent inner = BoundsOf(found->second, depth + 1);
            if (inner.empty) continue;
            const Transform t = PlacementOf(b);
            for (const auto& [x, y] : {std::pair{inner.minX, inner.minY}, {inner.maxX, inner.minY},
                                       {inner.maxX, inner.maxY}, {inner.minX, inner.maxY}}) {
                double ox, oy;
                t.Apply(x, y, ox, oy);
                e.Add(ox, oy);
            }
        }
        bounds_[d] = e;
        return bounds_[d];
    }

    // An insert too large to draw: the outline of its definition's box.
    void AddOutline(const TEntJwwBlock& b, std::size_t d, const Transform& m) {
        const Extent box = BoundsOf(d, 0);
        if (box.empty) return;
        const Transform t = m.Then(PlacementOf(b));
        double x[4], y[4];
        t.Apply(box.minX, box.minY, x[0], y[0]);
        t.Apply(box.maxX, box.minY, x[1], y[1]);
        t.Apply(box.maxX, box.maxY, x[2], y[2]);
        t.Apply(box.minX, box.maxY, x[3], y[3]);
        for (int i = 0; i < 4; ++i) {
            const int j = (i + 1) % 4;
            LinePrim p{PenOf(b.att), x[i], y[i], x[j], y[j], true};
            scene_.extent.Add(x[i], y[i]);
            scene_.lines.push_back(p);
        }
    }

    static constexpr std::size_t kUnknown = ~std::size_t{0};
    const DrawingBody& body_;
    bool sxf_;
    const Palette& palette_;
    std::vector<Dash> dashes_;
    std::unordered_map<std::uint32_t, std::size_t> defIndex_;
    std::vector<bool> onPath_;
    std::vector<std::size_t> size_;  // SizeOf, kUnknown until known
    std::vector<bool> sizing_;
    std::vector<Extent> bounds_;
    std::vector<bool> boundsKnown_;
    std::size_t expanded_ = 0;
    std::size_t base_ = 0;  // the primitives of the drawing's own entities
    bool expanding_ = false;
    Scene scene_;
};

}  // namespace

Transform Transform::Then(const Transform& in) const {
    Transform r;
    r.a = a * in.a + b * in.c;
    r.b = a * in.b + b * in.d;
    r.c = c * in.a + d * in.c;
    r.d = c * in.b + d * in.d;
    r.tx = tx + a * in.tx + b * in.ty;
    r.ty = ty + c * in.tx + d * in.ty;
    return r;
}

Transform Transform::Insert(double x, double y, double sx, double sy, double r) {
    const double c = std::cos(r), s = std::sin(r);
    return Transform{c * sx, -s * sy, s * sx, c * sy, x, y};
}

void Extent::Add(double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return;  // never let one bad value swallow the view
    if (empty) {
        minX = maxX = x;
        minY = maxY = y;
        empty = false;
        return;
    }
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
}

std::uint32_t Palette::Of(std::uint16_t penColor) const {
    if (penColor < 10) return standard[penColor];
    if (penColor >= 100 && penColor <= 356) return extended[penColor - 100];
    return standard[2];
}

Palette Palette::Default() {
    Palette p{};
    const std::uint32_t standard[10] = {0x000000, 0x007878, 0x000000, 0x008000, 0x9A7000,
                                        0xB000B0, 0x0000C0, 0x006060, 0xC00000, 0x707070};
    std::copy(std::begin(standard), std::end(standard), p.standard);
    std::fill(std::begin(p.extended), std::end(p.extended), 0x404040u);
    return p;
}

Palette PaletteOf(const TJwwData& jww) {
    Palette p = Palette::Default();
    for (std::size_t i = 1; i < std::min<std::size_t>(jww.EntCol.size(), 10); ++i) {
        const std::uint32_t rgb = FromColorRef(static_cast<std::uint32_t>(jww.EntCol[i].aPrtPenColor));
        if (!TooLight(rgb)) p.standard[i] = rgb;
    }
    for (std::size_t i = 1; i < std::min<std::size_t>(jww.EntColS.size(), 257); ++i) {
        const std::uint32_t rgb = FromColorRef(static_cast<std::uint32_t>(jww.EntColS[i].aPrtPenColor));
        if (!TooLight(rgb)) p.extended[i] = rgb;
    }
    return p;
}

MarkerGlyph GlyphOfCode(std::int32_t code) {
    static constexpr MarkerGlyph kByIndex[kMarkerGlyphCount] = {
        MarkerGlyph::Star,   MarkerGlyph::Circle,   MarkerGlyph::Dot,  MarkerGlyph::Plus,
        MarkerGlyph::Square, MarkerGlyph::Triangle, MarkerGlyph::Cross};
    for (std::int32_t i = 0; i < kMarkerGlyphCount; ++i)
        if (code == MarkerCode(i) || code == MarkerEndCode(i)) return kByIndex[i];
    return MarkerGlyph::Unknown;
}

PointState StateOf(const TEntJwwTen& ten) {
    if (ten.bKariten != 0) return PointState::Temporary;
    return ten.att.nPenStyle == kMarkerPenStyle ? PointState::Marker : PointState::Real;
}

Scene RenderBody(const DrawingBody& body, std::int32_t jwVer, const Palette& palette, std::vector<Dash> dashes) {
    return Renderer(body, jwVer, palette, std::move(dashes)).Run();
}

Scene Render(const TJwwData& jww) { return RenderBody(jww, jww.Enthd.jwVer, PaletteOf(jww), DashesOf(jww)); }

Scene Render(const TJwsData& jws) { return RenderBody(jws, jws.Enthd.jwVer, Palette::Default()); }

Dash DashOfPattern(std::uint32_t bits, std::int32_t dots, std::int32_t pitch) {
    const int n = std::clamp(dots, 1, 32);
    const std::uint32_t used = n == 32 ? ~0u : ((1u << n) - 1) << (32 - n);
    if ((bits & used) == used || (bits & used) == 0) return {};
    auto on = [&](int i) { return (bits >> (31 - (i % n))) & 1u; };
    // Start at a dash that follows a gap, so that runs never wrap.
    int first = 0;
    while (!(on(first) && !on(first + n - 1))) ++first;
    Dash runs;
    const float unit = static_cast<float>(std::clamp(pitch, 1, 16)) * 1.5f;
    for (int i = 0; i < n;) {
        const std::uint32_t state = on(first + i);
        int len = 0;
        while (i < n && on(first + i) == state) ++len, ++i;
        runs.push_back(static_cast<float>(len) * unit);
    }
    return runs;
}

std::vector<Dash> StandardDashes() {
    static const std::pair<std::uint32_t, std::int32_t> kStandard[8] = {
        {0x99999999u, 4},  {0xC3C3C3C3u, 8},  {0xE7E7E7E7u, 8}, {0xF99FF99Fu, 16},
        {0xFFF99FFFu, 32}, {0xF24FF24Fu, 16}, {0xFFF24FFFu, 32}, {0x22222222u, 4}};
    std::vector<Dash> d(10);
    for (int i = 0; i < 8; ++i) d[2 + i] = DashOfPattern(kStandard[i].first, kStandard[i].second, 1);
    return d;
}

std::vector<Dash> DashesOf(const TJwwData& jww) {
    std::vector<Dash> d = StandardDashes();
    for (std::size_t i = 0; i < std::min<std::size_t>(jww.EntLtp1.size(), 8); ++i) {
        const TEntJwwLineTypeNo& t = jww.EntLtp1[i];
        d[2 + i] = DashOfPattern(static_cast<std::uint32_t>(t.alLType), t.anTokushuSenUintDot, t.anTokushuSenPich);
    }
    const std::size_t ext = std::min<std::size_t>(jww.EntLtpS.size(), 33);
    if (ext > 1) d.resize(31 + ext - 1);
    for (std::size_t i = 1; i < ext; ++i) {
        const TEntJwwLineTypeExNo& t = jww.EntLtpS[i];
        d[30 + i] = DashOfPattern(static_cast<std::uint32_t>(t.alLType), t.anTokushuSenUintDot, t.anTokushuSenPich);
    }
    return d;
}

// The range of the sorted values left once a few values (at most one in
// twenty) lying farther from the others than the others span are dropped
// from either end.
std::pair<double, double> CoreRange(std::vector<double>& v) {
    const std::size_t n = v.size(), most = std::max<std::size_t>(1, n / 20);
    // Only the values at either end are looked at in order: sort those.
    const auto low = v.begin() + static_cast<std::ptrdiff_t>(most + 1);
    const auto high = v.end() - static_cast<std::ptrdiff_t>(most + 1);
    std::nth_element(v.begin(), low - 1, v.end());
    std::sort(v.begin(), low);
    std::nth_element(low, high, v.end());
    std::sort(high, v.end());
    std::size_t lo = 0, hi = n - 1;
    for (int round = 0; round < 4; ++round) {
        bool cut = false;
        for (std::size_t i = lo; i < most && i + 1 < hi; ++i) {
            if (v[i + 1] - v[i] > v[hi] - v[i + 1]) {
                lo = i + 1;
                cut = true;
            }
        }
        for (std::size_t i = hi; i + most > n - 1 && i > lo + 1; --i) {
            if (v[i] - v[i - 1] > v[i - 1] - v[lo]) {
                hi = i - 1;
                cut = true;
            }
        }
        if (!cut) break;
    }
    return {v[lo], v[hi]};
}

Extent FitExtent(const Scene& s) {
    const std::size_t n = s.Size();
    if (n < 50 || s.extent.empty) return s.extent;
    // Where the elements lie, from a sample on large scenes.
    const std::size_t stride = std::max<std::size_t>(1, n / 200'000);
    std::vector<double> xs, ys;
    xs.reserve(n / stride + 1);
    ys.reserve(n / stride + 1);
    std::size_t k = 0;
    ForEachPrimitive(s, [&](double x, double y, auto&&) {
        if (k++ % stride == 0 && std::isfinite(x) && std::isfinite(y)) {
            xs.push_back(x);
            ys.push_back(y);
        }
    });
    if (xs.size() < 50) return s.extent;
    // Plain names, not a structured binding: lambdas below use them.
    const std::pair<double, double> xr = CoreRange(xs), yr = CoreRange(ys);
    const double x0 = xr.first, x1 = xr.second, y0 = yr.first, y1 = yr.second;
    const Extent& e = s.extent;
    if (e.minX >= x0 && e.maxX <= x1 && e.minY >= y0 && e.maxY <= y1) return e;
    Extent fit;
    ForEachPrimitive(s, [&](double x, double y, auto&& addBounds) {
        if (x >= x0 && x <= x1 && y >= y0 && y <= y1) addBounds(fit);
    });
    return fit.empty ? e : fit;
}

}  // namespace tervalo::render
