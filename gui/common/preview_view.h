// The preview's view of a drawing, without a toolkit: how many pixels a
// drawing unit takes and which drawing point is at the centre, fitted to the
// drawing, zoomed around a pixel and panned by pixels; drawing coordinates
// (y up) to pixels (y down); and lines cut to the visible rectangle before
// they go to a painter, so nothing far outside is stroked or dashed.
#pragma once

#include "render/render.h"

namespace tervalo::gui {

class PreviewView {
public:
    static constexpr double kMargin = 16;  // pixels around a fitted drawing
    static constexpr double kMinScale = 1e-12, kMaxScale = 1e12;

    double Scale() const { return scale_; }
    double CentreX() const { return cx_; }
    double CentreY() const { return cy_; }

    // The pane's size in pixels.
    void SetSize(double width, double height);
    double Width() const { return w_; }
    double Height() const { return h_; }

    // A view saved before (its scale and centre).
    void Set(double scale, double centreX, double centreY);
    // The whole part of the drawing worth showing (its fit extent) in view,
    // above a band of `bottomBand` pixels left free (for a legend); an empty
    // extent gives scale 1 around the origin.
    void Fit(const render::Extent& fit, double bottomBand = 0);
    // Zooms by `factor` keeping the drawing point under the pixel in place.
    void ZoomAt(double px, double py, double factor);
    // The wheel: one notch (120) zooms by 1.25.
    void Wheel(double px, double py, int delta);
    // Moves the drawing by pixels.
    void Pan(double dx, double dy);

    double X(double x) const { return w_ / 2 + (x - cx_) * scale_; }
    double Y(double y) const { return h_ / 2 - (y - cy_) * scale_; }
    // Whether a box of drawing coordinates lies wholly outside the view
    // (with a few pixels to spare).
    bool Outside(double x0, double y0, double x1, double y1) const;

private:
    double scale_ = 1, cx_ = 0, cy_ = 0;
    double w_ = 1, h_ = 1;
};

// Cuts the segment (pixels) to [x0, x1] x [y0, y1]; false when nothing of it
// is inside or an end is not a finite number.
bool ClipSegment(double& ax, double& ay, double& bx, double& by, double x0, double y0, double x1, double y1);

}  // namespace tervalo::gui
