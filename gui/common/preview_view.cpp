#include "preview_view.h"

#include <algorithm>
#include <cmath>

namespace tervalo::gui {

void PreviewView::SetSize(double width, double height) {
    w_ = std::max(1.0, width);
    h_ = std::max(1.0, height);
}

void PreviewView::Set(double scale, double centreX, double centreY) {
    scale_ = std::isfinite(scale) ? std::clamp(scale, kMinScale, kMaxScale) : 1;
    cx_ = std::isfinite(centreX) ? centreX : 0;
    cy_ = std::isfinite(centreY) ? centreY : 0;
}

void PreviewView::Fit(const render::Extent& e, double bottomBand) {
    if (e.empty) {
        scale_ = 1;
        cx_ = cy_ = 0;
        return;
    }
    const double band = std::isfinite(bottomBand) ? std::max(0.0, bottomBand) : 0.0;
    const double dx = std::max(e.maxX - e.minX, 1e-9), dy = std::max(e.maxY - e.minY, 1e-9);
    const double w = std::max(1.0, w_ - 2 * kMargin), h = std::max(1.0, h_ - 2 * kMargin - band);
    const double s = std::min(w / dx, h / dy);
    scale_ = std::isfinite(s) ? std::clamp(s, kMinScale, kMaxScale) : 1;
    cx_ = (e.minX + e.maxX) / 2;
    // Centred in the part above the band.
    cy_ = (e.minY + e.maxY) / 2 - band / 2 / scale_;
    if (!std::isfinite(cx_) || !std::isfinite(cy_)) cx_ = cy_ = 0;
}

void PreviewView::ZoomAt(double px, double py, double factor) {
    if (!std::isfinite(factor) || factor <= 0) return;
    const double x = cx_ + (px - w_ / 2) / scale_;
    const double y = cy_ - (py - h_ / 2) / scale_;
    scale_ = std::clamp(scale_ * factor, kMinScale, kMaxScale);
    cx_ = x - (px - w_ / 2) / scale_;
    cy_ = y + (py - h_ / 2) / scale_;
}

void PreviewView::Wheel(double px, double py, int delta) {
    if (delta != 0) ZoomAt(px, py, std::pow(1.25, delta / 120.0));
}

void PreviewView::Pan(double dx, double dy) {
    cx_ -= dx / scale_;
    cy_ += dy / scale_;
}

bool PreviewView::Outside(double x0, double y0, double x1, double y1) const {
    const double mx = (w_ / 2 + 8) / scale_, my = (h_ / 2 + 8) / scale_;
    return std::max(x0, x1) < cx_ - mx || std::min(x0, x1) > cx_ + mx || std::max(y0, y1) < cy_ - my ||
           std::min(y0, y1) > cy_ + my;
}

bool ClipSegment(double& ax, double& ay, double& bx, double& by, double x0, double y0, double x1, double y1) {
    double t0 = 0, t1 = 1;
    const double dx = bx - ax, dy = by - ay;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {ax - x0, x1 - ax, ay - y0, y1 - ay};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) t0 = std::max(t0, t);
        else t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    const double sx = ax, sy = ay;
    ax = sx + t0 * dx;
    ay = sy + t0 * dy;
    bx = sx + t1 * dx;
    by = sy + t1 * dy;
    return std::isfinite(ax + ay + bx + by);
}

}  // namespace tervalo::gui
