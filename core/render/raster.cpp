#include "render/raster.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <new>
#include <vector>

#include <zlib.h>

#include "render/view.h"

namespace tervalo::render {

namespace {

constexpr std::uint32_t kTemporary = 0xE07000, kReal = 0x0040FF, kMarker = 0xC0007A, kHalo = 0xFFE000;

class Canvas {
public:
    explicit Canvas(Image& im) : im_(im) {}

    void Plot(int x, int y, std::uint32_t rgb) {
        if (x < 0 || y < 0 || x >= im_.width || y >= im_.height) return;
        std::uint8_t* p = &im_.rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(im_.width) + static_cast<std::size_t>(x)) * 3];
        p[0] = static_cast<std::uint8_t>(rgb >> 16);
        p[1] = static_cast<std::uint8_t>(rgb >> 8);
        p[2] = static_cast<std::uint8_t>(rgb);
    }

    // A line clipped to a margin around the picture, stepped pixel by pixel.
    // With a dash, only the pixels on its dashes are set; `phase` is the
    // length drawn before this line (the segments of one arc continue it)
    // and grows by this line's length.
    void Line(double x1, double y1, double x2, double y2, std::uint32_t rgb, const Dash* dash = nullptr,
              double* phase = nullptr) {
        if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2)) return;
        double own = 0;
        if (!phase) phase = &own;
        auto far = [this](double x1, double y1, double x2, double y2) {
            return std::max({std::fabs(x1), std::fabs(y1), std::fabs(x2), std::fabs(y2)}) > far_;
        };
        if (!far(x1, y1, x2, y2)) return Near(x1, y1, x2, y2, rgb, dash, *phase);
        // Far ends are brought near by halving, in order along the line, and
        // halves wholly off the picture are dropped. The midpoint a/2 + b/2
        // is exact to its own size, where a point found from a far end
        // would only be exact to the far end's size, and it never overflows.
        struct Piece {
            double x1, y1, x2, y2;
        };
        std::vector<Piece> todo{{x1, y1, x2, y2}};
        while (!todo.empty()) {
            const Piece p = todo.back();
            todo.pop_back();
            if (!far(p.x1, p.y1, p.x2, p.y2)) {
                Near(p.x1, p.y1, p.x2, p.y2, rgb, dash, *phase);
            } else if (std::max(p.x1, p.x2) < -2 || std::min(p.x1, p.x2) > im_.width + 2 || std::max(p.y1, p.y2) < -2 ||
                       std::min(p.y1, p.y2) > im_.height + 2) {
                *phase += std::hypot(p.x2 - p.x1, p.y2 - p.y1);
            } else {
                const double mx = p.x1 / 2 + p.x2 / 2, my = p.y1 / 2 + p.y2 / 2;
                todo.push_back({mx, my, p.x2, p.y2});
                todo.push_back({p.x1, p.y1, mx, my});
            }
        }
    }

    static bool OnDash(const Dash& dash, double at) {
        for (std::size_t k = 0; k < dash.size(); ++k) {
            if (at < dash[k]) return k % 2 == 0;
            at -= dash[k];
        }
        return false;
    }

    // Capital letters of a 5 x 7 pixel font, top left at (x, y).
    void Text(int x, int y, const char* text, std::uint32_t rgb) {
        for (; *text; ++text, x += 6) {
            const std::uint8_t* rows = Glyph(*text);
            for (int r = 0; rows && r < 7; ++r)
                for (int k = 0; k < 5; ++k)
                    if (rows[r] & (0x10 >> k)) Plot(x + k, y + r, rgb);
        }
    }

    static const std::uint8_t* Glyph(char ch) {
        static const struct {
            char ch;
            std::uint8_t rows[7];
        } kFont[] = {
            {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
            {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
            {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
            {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
            {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
            {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
            {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
            {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
        };
        for (const auto& g : kFont)
            if (g.ch == ch) return g.rows;
        return nullptr;
    }

    // A convex or simple polygon filled by scan lines (even-odd rule).
    void Fill(const double* xs, const double* ys, int n, std::uint32_t rgb) {
        double lo = ys[0], hi = ys[0];
        for (int i = 1; i < n; ++i) lo = std::min(lo, ys[i]), hi = std::max(hi, ys[i]);
        if (!std::isfinite(lo) || !std::isfinite(hi)) return;
        // Bounds taken to the picture as doubles first: a far corner's pixel
        // position need not fit an int.
        const int y0 = static_cast<int>(std::floor(std::clamp(lo, 0.0, im_.height - 1.0)));
        const int y1 = static_cast<int>(std::ceil(std::clamp(hi, -1.0, im_.height - 1.0)));
        for (int y = y0; y <= y1; ++y) {
            const double sy = y + 0.5;
            std::array<double, 8> cross{};
            int k = 0;
            for (int i = 0; i < n && k < 8; ++i) {
                const int j = (i + 1) % n;
                if ((ys[i] <= sy) != (ys[j] <= sy)) cross[static_cast<std::size_t>(k++)] = xs[i] + (sy - ys[i]) / (ys[j] - ys[i]) * (xs[j] - xs[i]);
            }
            std::sort(cross.begin(), cross.begin() + k);
            for (int i = 0; i + 1 < k; i += 2) {
                const double from = cross[static_cast<std::size_t>(i)] - 0.5, to = cross[static_cast<std::size_t>(i + 1)] - 0.5;
                if (!(to >= 0 && from <= im_.width - 1.0)) continue;  // off the picture, or not a number
                const int a = static_cast<int>(std::ceil(std::max(from, 0.0)));
                const int b = static_cast<int>(std::floor(std::min(to, im_.width - 1.0)));
                for (int x = a; x <= b; ++x) Plot(x, y, rgb);
            }
        }
    }

    void Disc(double cx, double cy, double r, std::uint32_t rgb) {
        for (int y = static_cast<int>(cy - r); y <= static_cast<int>(cy + r) + 1; ++y)
            for (int x = static_cast<int>(cx - r); x <= static_cast<int>(cx + r) + 1; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) Plot(x, y, rgb);
    }

private:
    // A line with every end within far_ of the picture's corner.
    void Near(double x1, double y1, double x2, double y2, std::uint32_t rgb, const Dash* dash, double& phase) {
        const double sx = x1, sy = y1;
        double start = phase;
        phase += std::hypot(x2 - x1, y2 - y1);
        if (!Clip(x1, y1, x2, y2)) return;
        start += std::hypot(x1 - sx, y1 - sy);
        const double dx = x2 - x1, dy = y2 - y1;
        const int n = static_cast<int>(std::max(std::fabs(dx), std::fabs(dy))) + 1;
        const double period = dash ? std::accumulate(dash->begin(), dash->end(), 0.0) : 0;
        const double step = std::hypot(dx, dy) / n;
        for (int i = 0; i <= n; ++i) {
            if (period > 0 && !OnDash(*dash, std::fmod(start + step * i, period))) continue;
            Plot(static_cast<int>(std::lround(x1 + dx * i / n)), static_cast<int>(std::lround(y1 + dy * i / n)), rgb);
        }
    }

    // Cohen-Sutherland clipping against the picture grown by 2 pixels.
    bool Clip(double& x1, double& y1, double& x2, double& y2) const {
        const double xmin = -2, ymin = -2, xmax = im_.width + 2, ymax = im_.height + 2;
        auto code = [&](double x, double y) {
            return (x < xmin ? 1 : 0) | (x > xmax ? 2 : 0) | (y < ymin ? 4 : 0) | (y > ymax ? 8 : 0);
        };
        int c1 = code(x1, y1), c2 = code(x2, y2);
        while (true) {
            if (!(c1 | c2)) return true;
            if (c1 & c2) return false;
            const int c = c1 ? c1 : c2;
            double x, y;
            if (c & 8) x = x1 + (x2 - x1) * (ymax - y1) / (y2 - y1), y = ymax;
            else if (c & 4) x = x1 + (x2 - x1) * (ymin - y1) / (y2 - y1), y = ymin;
            else if (c & 2) y = y1 + (y2 - y1) * (xmax - x1) / (x2 - x1), x = xmax;
            else y = y1 + (y2 - y1) * (xmin - x1) / (x2 - x1), x = xmin;
            if (c == c1) x1 = x, y1 = y, c1 = code(x1, y1);
            else x2 = x, y2 = y, c2 = code(x2, y2);
        }
    }

    Image& im_;
    // Lines with an end further than this from the picture's corner are
    // halved before they are clipped: at 2^24 pixels beyond the picture the
    // clipping's rounding is still far below a pixel.
    const double far_ = 16777216.0 + std::max(im_.width, im_.height);
};

void Be32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

void Chunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
    Be32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    // The CRC covers the type and the data.
    Be32(out, static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), &out[start], static_cast<uInt>(out.size() - start))));
}

}  // namespace

Image Rasterize(const Scene& scene, int width, int height, const std::vector<bool>* changed) {
    Image im;
    im.width = std::max(width, 16);
    im.height = std::max(height, 16);
    im.rgb.assign(static_cast<std::size_t>(im.width) * static_cast<std::size_t>(im.height) * 3, 0xFF);
    const View v(scene.fit, im.width, im.height);
    Canvas c(im);
    for (const SolidPrim& s : scene.solids) {
        double xs[4], ys[4];
        for (int i = 0; i < 4; ++i) xs[i] = v.X(s.x[i]), ys[i] = v.Y(s.y[i]);
        c.Fill(xs, ys, 4, s.pen.rgb);
    }
    for (const LinePrim& l : scene.lines) {
        double phase = 0;
        c.Line(v.X(l.x1), v.Y(l.y1), v.X(l.x2), v.Y(l.y2), l.pen.rgb, scene.DashOf(l.pen.style), &phase);
    }
    for (const ArcPrim& a : scene.arcs) {
        // Segments of at most about 3 pixels, at most 720 of them.
        const double r = std::max(std::hypot(a.ux, a.uy), std::hypot(a.vx, a.vy)) * v.scale;
        const double len = std::fabs(a.sweep) * r;
        const int n = len / 3 < 720 ? std::max(4, static_cast<int>(len / 3)) : 720;  // NaN gives 720
        double px = 0, py = 0, phase = 0;
        const Dash* dash = scene.DashOf(a.pen.style);
        for (int i = 0; i <= n; ++i) {
            const double t = a.start + a.sweep * i / n;
            const double x = v.X(a.cx + a.ux * std::cos(t) + a.vx * std::sin(t));
            const double y = v.Y(a.cy + a.uy * std::cos(t) + a.vy * std::sin(t));
            if (i) c.Line(px, py, x, y, a.pen.rgb, dash, &phase);
            px = x, py = y;
        }
    }
    for (const TextPrim& t : scene.texts) {
        // The box of the text's first character, turned by its angle.
        const double size = t.sizeY * v.scale, w = t.sizeX * v.scale;
        if (!(size >= 1) || !std::isfinite(size) || !std::isfinite(w)) continue;
        const double ang = t.angle * 3.14159265358979323846 / 180, ca = std::cos(ang), sa = std::sin(ang);
        const double x0 = v.X(t.x), y0 = v.Y(t.y);
        const double bx[4] = {0, w, w, 0}, by[4] = {0, 0, size, size};
        for (int i = 0; i < 4; ++i) {
            const int j = (i + 1) % 4;
            c.Line(x0 + bx[i] * ca - by[i] * sa, y0 - (bx[i] * sa + by[i] * ca), x0 + bx[j] * ca - by[j] * sa,
                   y0 - (bx[j] * sa + by[j] * ca), t.pen.rgb);
        }
    }
    auto symbol = [&](PointState state, double x, double y) {
        switch (state) {
            case PointState::Temporary:
                for (int k = -2; k <= 2; ++k) {
                    c.Plot(static_cast<int>(x) + k, static_cast<int>(y) - 2, kTemporary);
                    c.Plot(static_cast<int>(x) + k, static_cast<int>(y) + 2, kTemporary);
                    c.Plot(static_cast<int>(x) - 2, static_cast<int>(y) + k, kTemporary);
                    c.Plot(static_cast<int>(x) + 2, static_cast<int>(y) + k, kTemporary);
                }
                break;
            case PointState::Real: c.Disc(x, y, 2.2, kReal); break;
            case PointState::Marker:
                c.Line(x - 5, y, x + 5, y, kMarker);
                c.Line(x, y - 5, x, y + 5, kMarker);
                c.Line(x - 3.5, y - 3.5, x + 3.5, y + 3.5, kMarker);
                c.Line(x - 3.5, y + 3.5, x + 3.5, y - 3.5, kMarker);
                break;
        }
    };
    for (std::size_t i = 0; i < scene.points.size(); ++i) {
        const PointPrim& p = scene.points[i];
        const double x = v.X(p.x), y = v.Y(p.y);
        // Off the picture (or not a number): nothing to draw, and its pixel
        // position might not even fit an int.
        if (!(x > -16 && x < im.width + 16 && y > -16 && y < im.height + 16)) continue;
        if (changed && i < changed->size() && (*changed)[i]) c.Disc(x, y, 6, kHalo);
        symbol(p.state, x, y);
    }

    // The legend in the bottom left corner, as in the SVG: each symbol with
    // its word.
    const bool withChanged = changed && std::find(changed->begin(), changed->end(), true) != changed->end();
    const char* words[4] = {"TEMPORARY", "REAL", "MARKER", "CHANGED"};
    const int rows = withChanged ? 4 : 3, lineH = 14;
    if (im.width >= 140 && im.height >= rows * lineH + 20) {
        const double top = im.height - 8.0 - 4 - rows * lineH;
        const double bx[4] = {8, 112, 112, 8}, by[4] = {top, top, top + 4 + rows * lineH, top + 4 + rows * lineH};
        c.Fill(bx, by, 4, 0xFFFFFF);
        for (int i = 0; i < 4; ++i) c.Line(bx[i], by[i], bx[(i + 1) % 4], by[(i + 1) % 4], 0x808080);
        for (int r = 0; r < rows; ++r) {
            const double y = top + 2 + r * lineH + lineH / 2.0;
            if (r == 3) c.Disc(20, y, 6, kHalo);
            else symbol(static_cast<PointState>(r), 20, y);
            c.Text(34, static_cast<int>(y) - 3, words[r], 0x000000);
        }
    }
    return im;
}

std::vector<std::uint8_t> EncodePng(const Image& im) {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> hdr;
    Be32(hdr, static_cast<std::uint32_t>(im.width));
    Be32(hdr, static_cast<std::uint32_t>(im.height));
    hdr.insert(hdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    Chunk(out, "IHDR", hdr);

    // The rows, each behind filter byte 0 (none), compressed row by row into
    // one zlib stream, so the filtered copy of the picture is never built.
    const std::size_t row = static_cast<std::size_t>(im.width) * 3;
    z_stream zs{};
    if (deflateInit(&zs, 6) != Z_OK) throw std::bad_alloc();
    std::vector<std::uint8_t> z(4096);
    auto pump = [&](const std::uint8_t* data, std::size_t n, int flush) {
        zs.next_in = const_cast<Bytef*>(data);
        zs.avail_in = static_cast<uInt>(n);
        for (;;) {
            if (zs.total_out == z.size()) z.resize(z.size() * 2);
            zs.next_out = z.data() + zs.total_out;
            zs.avail_out = static_cast<uInt>(z.size() - zs.total_out);
            const int rc = deflate(&zs, flush);
            if (rc == Z_STREAM_END || (flush == Z_NO_FLUSH && zs.avail_in == 0 && zs.avail_out != 0)) return;
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                deflateEnd(&zs);
                throw std::bad_alloc();  // deflate fails only when out of memory
            }
        }
    };
    const std::uint8_t filter = 0;
    for (int y = 0; y < im.height; ++y) {
        pump(&filter, 1, Z_NO_FLUSH);
        pump(&im.rgb[static_cast<std::size_t>(y) * row], row, Z_NO_FLUSH);
    }
    pump(nullptr, 0, Z_FINISH);
    z.resize(zs.total_out);
    deflateEnd(&zs);
    Chunk(out, "IDAT", z);
    Chunk(out, "IEND", {});
    return out;
}

}  // namespace tervalo::render
