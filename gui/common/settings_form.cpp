#include "settings_form.h"

#include "convert/settings_file.h"
#include "text/func.h"

namespace tervalo::gui {

namespace {
constexpr double kMinMarkerScale = 0.00000001;  // 1e-8
}

const char16_t* const kMarkerGlyphs[kMarkerGlyphCount] = {u"＊", u"○", u"・", u"＋", u"□", u"△", u"×"};

SettingsForm OpenSettingsForm(TConvertOptions& o) {
    if (o.MarkerIndex < 0) o.MarkerIndex = 0;
    if (o.MarkerIndex > 6) o.MarkerIndex = 6;
    if (!(o.MarkerScale > 0.0)) o.MarkerScale = 1.0;
    if (o.MarkerScale >= kMaxMarkerScale) o.MarkerScale = kMaxMarkerScale;
    SettingsForm f;
    f.realToTemporary = o.Direction != 0;
    f.makeMarker = o.MakeMarker != 0;
    f.markerIndex = o.MarkerIndex;
    f.scaleText = FloatToText(o.MarkerScale);
    f.sxfDimensions = o.SxfDimensions != 0;
    f.blockContents = o.BlockContents != 0;
    f.convertMarkers = o.ConvertMarkers != 0;
    f.convertMarkerEnds = o.ConvertMarkerEnds != 0;
    return f;
}

std::optional<TConvertOptions> AcceptSettingsForm(const SettingsForm& f, const TConvertOptions& current) {
    const double scale = StrToFloatOrZero(f.scaleText);
    if (!(scale >= kMinMarkerScale && scale <= kMaxMarkerScale)) return std::nullopt;
    TConvertOptions o = current;
    o.MakeMarker = f.makeMarker ? 1 : 0;
    o.SxfDimensions = f.sxfDimensions ? 1 : 0;
    o.BlockContents = f.blockContents ? 1 : 0;
    o.ConvertMarkers = f.convertMarkers ? 1 : 0;
    o.ConvertMarkerEnds = f.convertMarkerEnds ? 1 : 0;
    o.MarkerIndex = f.markerIndex < 0 ? 0 : f.markerIndex > 6 ? 6 : f.markerIndex;
    o.MarkerScale = scale;
    o.Direction = f.realToTemporary ? 1 : 0;
    return o;
}

}  // namespace tervalo::gui
