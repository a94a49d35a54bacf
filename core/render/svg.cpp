#include "render/svg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

#include "render/view.h"
#include "text/encoding.h"

namespace tervalo::render {

namespace {

constexpr double kPi = std::numbers::pi;

void Num(std::string& out, double v) {
    if (!std::isfinite(v)) v = 0;
    v = std::clamp(v, -1e12, 1e12);  // far off the picture either way; keeps the digits within the buffer
    char buf[32];
    const double r = std::round(v * 100) / 100;
    const auto res = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::fixed, 2);
    std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));
    while (s.size() > 1 && s.back() == '0') s.remove_suffix(1);
    if (s.back() == '.') s.remove_suffix(1);
    if (s == "-0") s = "0";
    out += s;
}

void Color(std::string& out, std::uint32_t rgb) {
    static const char hex[] = "0123456789abcdef";
    out += '#';
    for (int shift = 20; shift >= 0; shift -= 4) out += hex[(rgb >> shift) & 0xF];
}

void Escape(std::string& out, const std::string& text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else if (c == '"') out += "&quot;";
        else if (c < 0x20) out += ' ';  // control characters are not allowed in XML
        else out += ch;
    }
}

void Stroke(std::string& out, const Pen& pen, const Scene& scene) {
    out += " stroke=\"";
    Color(out, pen.rgb);
    out += '"';
    if (const Dash* dash = scene.DashOf(pen.style)) {
        out += " stroke-dasharray=\"";
        for (std::size_t i = 0; i < dash->size(); ++i) {
            if (i) out += ' ';
            Num(out, (*dash)[i]);
        }
        out += '"';
    }
}

const char* GlyphId(MarkerGlyph g) {
    switch (g) {
        case MarkerGlyph::Star: return "#m-star";
        case MarkerGlyph::Circle: return "#m-circle";
        case MarkerGlyph::Dot: return "#m-dot";
        case MarkerGlyph::Plus: return "#m-plus";
        case MarkerGlyph::Square: return "#m-square";
        case MarkerGlyph::Triangle: return "#m-triangle";
        case MarkerGlyph::Cross: return "#m-cross";
        default: return "#m-unknown";
    }
}

const char* StateClass(PointState s) {
    switch (s) {
        case PointState::Temporary: return "temporary";
        case PointState::Real: return "real";
        default: return "marker";
    }
}

void Arc(std::string& out, const ArcPrim& a, const View& v, const Scene& scene) {
    // Half-axes in picture space (y down).
    const double ux = a.ux * v.scale, uy = -a.uy * v.scale, vx = a.vx * v.scale, vy = -a.vy * v.scale;
    const double cx = v.X(a.cx), cy = v.Y(a.cy);
    const double ru = std::hypot(ux, uy), rv = std::hypot(vx, vy);
    const bool orthogonal = std::fabs(ux * vx + uy * vy) <= 1e-9 * std::max(1.0, ru * rv);
    auto at = [&](double t, double& x, double& y) {
        x = cx + ux * std::cos(t) + vx * std::sin(t);
        y = cy + uy * std::cos(t) + vy * std::sin(t);
    };
    out += "<path d=\"M";
    double x, y;
    if (!orthogonal) {
        // A sheared ellipse (uneven scales with a rotation inside): a polyline.
        const int n = 72;
        for (int i = 0; i <= n; ++i) {
            at(a.start + a.sweep * i / n, x, y);
            if (i) out += 'L';
            Num(out, x);
            out += ' ';
            Num(out, y);
        }
    } else {
        const double rot = std::atan2(uy, ux) * 180 / kPi;
        const bool positive = (ux * vy - uy * vx > 0) == (a.sweep > 0);
        // A full ellipse is two half arcs; a partial one, one arc.
        const int parts = a.full ? 2 : 1;
        const double step = a.sweep / parts;
        at(a.start, x, y);
        Num(out, x);
        out += ' ';
        Num(out, y);
        for (int i = 1; i <= parts; ++i) {
            at(a.start + step * i, x, y);
            out += "A";
            Num(out, ru);
            out += ' ';
            Num(out, rv);
            out += ' ';
            Num(out, rot);
            out += std::fabs(step) > kPi ? " 1" : " 0";
            out += positive ? " 1 " : " 0 ";
            Num(out, x);
            out += ' ';
            Num(out, y);
        }
    }
    out += '"';
    Stroke(out, a.pen, scene);
    out += "/>\n";
}

}  // namespace

std::vector<bool> ChangedPoints(const Scene& before, const Scene& after) {
    std::vector<bool> changed(after.points.size(), false);
    const std::size_t n = std::min(before.points.size(), after.points.size());
    for (std::size_t i = 0; i < n; ++i) {
        const PointPrim& b = before.points[i];
        const PointPrim& a = after.points[i];
        changed[i] = b.state != a.state || b.glyph != a.glyph || b.scale != a.scale;
    }
    return changed;
}

std::string WriteSvg(const Scene& scene, const SvgOptions& options) {
    std::string all;
    all.reserve(256 + scene.Size() * 96);
    WriteSvg(scene, options, [&all](std::string_view piece) { all += piece; });
    return all;
}

void WriteSvg(const Scene& scene, const SvgOptions& options, const SvgSink& sink) {
    const int w = std::max(options.width, 64), h = std::max(options.height, 64);
    const View v(scene.fit, w, h);
    constexpr std::size_t kPiece = 1 << 20;
    std::string out;
    out.reserve(kPiece + 4096);
    // Hands the text written so far to the sink once it fills a piece; called
    // between elements.
    const auto spill = [&] {
        if (out.size() < kPiece) return;
        sink(out);
        out.clear();
    };
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
           "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"";
    out += std::to_string(w) + "\" height=\"" + std::to_string(h) + "\" viewBox=\"0 0 " + std::to_string(w) + " " +
           std::to_string(h) + "\">\n";
    if (!options.title.empty()) {
        out += "<title>";
        Escape(out, Utf16ToUtf8(options.title));
        out += "</title>\n";
    }
    // Marker glyphs and the three point symbols, drawn in pixels around 0,0.
    out += "<defs>\n"
           "<g id=\"m-star\"><path d=\"M-5 0H5M0-5V5M-3.5-3.5L3.5 3.5M-3.5 3.5L3.5-3.5\"/></g>\n"
           "<g id=\"m-circle\"><circle r=\"4.5\" fill=\"none\"/></g>\n"
           "<g id=\"m-dot\"><circle r=\"2\"/></g>\n"
           "<g id=\"m-plus\"><path d=\"M-5 0H5M0-5V5\"/></g>\n"
           "<g id=\"m-square\"><rect x=\"-4\" y=\"-4\" width=\"8\" height=\"8\" fill=\"none\"/></g>\n"
           "<g id=\"m-triangle\"><path d=\"M0-5L4.5 3.5H-4.5Z\" fill=\"none\"/></g>\n"
           "<g id=\"m-cross\"><path d=\"M-4-4L4 4M-4 4L4-4\"/></g>\n"
           "<g id=\"m-unknown\"><path d=\"M0-5L5 0L0 5L-5 0Z\" fill=\"none\"/></g>\n"
           "<g id=\"p-temporary\"><rect x=\"-2.5\" y=\"-2.5\" width=\"5\" height=\"5\" fill=\"none\"/></g>\n"
           "<g id=\"p-real\"><circle r=\"2.2\"/></g>\n"
           "</defs>\n"
           "<style>\n"
           ".point.temporary{stroke:#e07000;fill:#e07000;stroke-width:1.2}\n"
           ".point.real{stroke:#0040ff;fill:#0040ff;stroke-width:1}\n"
           ".point.marker{stroke:#c0007a;fill:#c0007a;stroke-width:1.3}\n"
           ".halo{fill:#ffe000;fill-opacity:.75;stroke:#ff0000;stroke-width:1}\n"
           "</style>\n"
           "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

    out += "<g stroke=\"none\">\n";
    for (const SolidPrim& s : scene.solids) {
        out += "<polygon points=\"";
        for (int i = 0; i < 4; ++i) {
            if (i) out += ' ';
            Num(out, v.X(s.x[i]));
            out += ',';
            Num(out, v.Y(s.y[i]));
        }
        out += "\" fill=\"";
        Color(out, s.pen.rgb);
        out += "\"/>\n";
        spill();
    }
    out += "</g>\n<g fill=\"none\" stroke-width=\"0.8\" stroke-linecap=\"round\">\n";
    for (const LinePrim& l : scene.lines) {
        out += "<line x1=\"";
        Num(out, v.X(l.x1));
        out += "\" y1=\"";
        Num(out, v.Y(l.y1));
        out += "\" x2=\"";
        Num(out, v.X(l.x2));
        out += "\" y2=\"";
        Num(out, v.Y(l.y2));
        out += '"';
        Stroke(out, l.pen, scene);
        out += "/>\n";
        spill();
    }
    for (const ArcPrim& a : scene.arcs) {
        Arc(out, a, v, scene);
        spill();
    }
    out += "</g>\n<g stroke=\"none\">\n";
    for (const TextPrim& t : scene.texts) {
        const double size = t.sizeY * v.scale;
        if (!(size >= 0.5) || !t.text || t.text->empty()) continue;  // too small to read
        out += "<text x=\"";
        Num(out, v.X(t.x));
        out += "\" y=\"";
        Num(out, v.Y(t.y));
        out += "\" font-size=\"";
        Num(out, size);
        out += "\" fill=\"";
        Color(out, t.pen.rgb);
        out += '"';
        if (t.font && !t.font->empty()) {
            out += " font-family=\"";
            Escape(out, Utf16ToUtf8(*t.font));
            out += '"';
        }
        if (t.angle != 0 && std::isfinite(t.angle)) {
            out += " transform=\"rotate(";
            Num(out, -t.angle);
            out += ' ';
            Num(out, v.X(t.x));
            out += ' ';
            Num(out, v.Y(t.y));
            out += ")\"";
        }
        out += '>';
        Escape(out, Utf16ToUtf8(*t.text));
        out += "</text>\n";
        spill();
    }
    out += "</g>\n<g>\n";
    std::size_t counts[3] = {0, 0, 0};
    std::size_t changedCount = 0;
    for (std::size_t i = 0; i < scene.points.size(); ++i) {
        const PointPrim& p = scene.points[i];
        const bool changed = options.changed && i < options.changed->size() && (*options.changed)[i];
        ++counts[static_cast<int>(p.state)];
        const double x = v.X(p.x), y = v.Y(p.y);
        if (changed) {
            ++changedCount;
            out += "<circle class=\"halo\" r=\"6\" cx=\"";
            Num(out, x);
            out += "\" cy=\"";
            Num(out, y);
            out += "\"/>\n";
        }
        out += "<use class=\"point ";
        out += StateClass(p.state);
        if (p.inBlock) out += " in-block";
        if (p.inDimension) out += " in-dimension";
        if (changed) out += " changed";
        out += "\" xlink:href=\"";
        out += p.state == PointState::Marker ? GlyphId(p.glyph)
               : p.state == PointState::Real ? "#p-real"
                                             : "#p-temporary";
        out += "\" transform=\"translate(";
        Num(out, x);
        out += ' ';
        Num(out, y);
        out += ')';
        if (p.state == PointState::Marker) {
            if (p.angle != 0 && std::isfinite(p.angle)) {
                out += " rotate(";
                Num(out, -p.angle * 180 / kPi);
                out += ')';
            }
            // Markers keep a readable size on screen whatever their scale.
            const double k = std::isfinite(p.scale) && p.scale > 0 ? std::clamp(p.scale, 0.5, 3.0) : 1.0;
            if (k != 1.0) {
                out += " scale(";
                Num(out, k);
                out += ')';
            }
        }
        out += "\"/>\n";
        spill();
    }
    out += "</g>\n";

    // Legend in the lower left corner.
    const bool after = options.changed != nullptr;
    const int rows = after ? 4 : 3;
    const int lh = 18, lw = 230, lx = 8, ly = h - 8 - rows * lh - 8;
    out += "<g font-family=\"sans-serif\" font-size=\"12\">\n<rect x=\"" + std::to_string(lx) + "\" y=\"" +
           std::to_string(ly) + "\" width=\"" + std::to_string(lw) + "\" height=\"" + std::to_string(rows * lh + 8) +
           "\" fill=\"#ffffff\" fill-opacity=\"0.9\" stroke=\"#808080\"/>\n";
    const char* labels[3] = {"temporary point", "real point", "point marker"};
    const char* symbols[3] = {"#p-temporary", "#p-real", "#m-star"};
    const char* classes[3] = {"temporary", "real", "marker"};
    for (int i = 0; i < 3; ++i) {
        const int y = ly + 4 + lh * i + lh / 2;
        out += "<use class=\"legend " + std::string(classes[i]) + "\" xlink:href=\"" + symbols[i] +
               "\" transform=\"translate(" + std::to_string(lx + 14) + " " + std::to_string(y) + ")\" style=\"" +
               (i == 0 ? "stroke:#e07000;fill:#e07000" : i == 1 ? "stroke:#0040ff;fill:#0040ff" : "stroke:#c0007a;fill:#c0007a") +
               "\"/>\n<text x=\"" + std::to_string(lx + 28) + "\" y=\"" + std::to_string(y + 4) + "\">" + labels[i] +
               " (" + std::to_string(counts[i]) + ")</text>\n";
    }
    if (after) {
        const int y = ly + 4 + lh * 3 + lh / 2;
        out += "<circle class=\"halo\" r=\"6\" cx=\"" + std::to_string(lx + 14) + "\" cy=\"" + std::to_string(y) +
               "\"/>\n<text x=\"" + std::to_string(lx + 28) + "\" y=\"" + std::to_string(y + 4) +
               "\">changed by the conversion (" + std::to_string(changedCount) + ")</text>\n";
    }
    out += "</g>\n</svg>\n";
    sink(out);
}

}  // namespace tervalo::render
