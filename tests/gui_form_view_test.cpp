// The settings dialog's logic and the preview's view, as every front end
// uses them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "preview_view.h"
#include "settings_form.h"

namespace tervalo::gui {
namespace {

TEST(SettingsForm, ScaleTextsAcceptedAndRefused) {
    const struct {
        const char16_t* text;
        bool accepted;
    } cases[] = {
        {u"0.00000001", true}, {u"100000000", true}, {u"2.5", true},  {u"1", true},
        {u"0", false},         {u"-1", false},       {u"100000001", false}, {u"1e9", false},
        {u"abc", false},       {u"", false},         {u"2,5", false},
    };
    for (const auto& c : cases) {
        TConvertOptions current;
        SettingsForm f = OpenSettingsForm(current);
        f.scaleText = c.text;
        const auto result = AcceptSettingsForm(f, current);
        EXPECT_EQ(result.has_value(), c.accepted) << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    }
}

TEST(SettingsForm, OpenRepairsStoredValuesAndOkTakesEveryControl) {
    TConvertOptions o;
    o.MarkerIndex = 9;
    o.MarkerScale = 0;
    o.Direction = 1;
    o.MakeMarker = 1;
    SettingsForm f = OpenSettingsForm(o);
    EXPECT_EQ(o.MarkerIndex, 6);
    EXPECT_EQ(o.MarkerScale, 1.0);
    EXPECT_EQ(f.markerIndex, 6);
    EXPECT_EQ(f.scaleText, u"1");
    EXPECT_TRUE(f.realToTemporary);
    // The direction does not reset the other direction's options.
    f.realToTemporary = false;
    f.convertMarkers = f.convertMarkerEnds = true;
    f.sxfDimensions = false;
    f.scaleText = u"2.5";
    const auto r = AcceptSettingsForm(f, o);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Direction, 0);
    EXPECT_EQ(r->MakeMarker, 1);
    EXPECT_EQ(r->ConvertMarkers, 1);
    EXPECT_EQ(r->ConvertMarkerEnds, 1);
    EXPECT_EQ(r->SxfDimensions, 0);
    EXPECT_EQ(r->BlockContents, 1);
    EXPECT_EQ(r->MarkerIndex, 6);
    EXPECT_EQ(r->MarkerScale, 2.5);
}

TEST(PreviewView, FitZoomAndPanKeepTheDrawingWhereTheyShould) {
    PreviewView v;
    v.SetSize(432, 232);
    render::Extent e;
    e.Add(0, 0);
    e.Add(400, 100);
    v.Fit(e);
    EXPECT_DOUBLE_EQ(v.Scale(), 1.0);  // (432 - 32) / 400 and (232 - 32) / 100
    EXPECT_DOUBLE_EQ(v.X(200), 216);
    EXPECT_DOUBLE_EQ(v.Y(50), 116);
    EXPECT_DOUBLE_EQ(v.Y(100), 66) << "y grows upwards in the drawing";
    // The drawing point under the mouse stays there while zooming.
    const double px = 100, py = 40;
    const double dx = v.CentreX() + (px - 216) / v.Scale(), dy = v.CentreY() - (py - 116) / v.Scale();
    v.Wheel(px, py, 240);
    EXPECT_NEAR(v.Scale(), 1.5625, 1e-12);
    EXPECT_NEAR(v.X(dx), px, 1e-9);
    EXPECT_NEAR(v.Y(dy), py, 1e-9);
    v.Pan(10, -5);
    EXPECT_NEAR(v.X(dx), px + 10, 1e-9);
    EXPECT_NEAR(v.Y(dy), py - 5, 1e-9);
    v.ZoomAt(0, 0, std::nan(""));  // ignored
    EXPECT_NEAR(v.Scale(), 1.5625, 1e-12);
    v.Fit(render::Extent{});
    EXPECT_EQ(v.Scale(), 1);
}

TEST(PreviewView, SegmentsAreCutToTheView) {
    double ax = -100, ay = 50, bx = 300, by = 50;
    ASSERT_TRUE(ClipSegment(ax, ay, bx, by, 0, 0, 200, 100));
    EXPECT_DOUBLE_EQ(ax, 0);
    EXPECT_DOUBLE_EQ(bx, 200);
    double cx = -10, cy = -10, dx = -5, dy = 500;
    EXPECT_FALSE(ClipSegment(cx, cy, dx, dy, 0, 0, 200, 100));
    double ex = 1e308, ey = 50, fx = -1e308, fy = 50;
    EXPECT_FALSE(ClipSegment(ex, ey, fx, fy, 0, 0, 200, 100)) << "a length that overflows gives no line";
}

}  // namespace
}  // namespace tervalo::gui
