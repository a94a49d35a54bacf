// The settings dialog's logic, without a toolkit: what its controls show
// when it opens (the stored options repaired first) and the options an OK
// gives, or a refusal when the scale is not a number in (0, 1e8].
#pragma once

#include <optional>
#include <string>

#include "convert/convert_options.h"

namespace tervalo::gui {

inline constexpr char16_t kSettingsTitle[] = u"変換設定";
inline constexpr int kMarkerGlyphCount = 7;
// The marker selector's items, by MarkerIndex.
extern const char16_t* const kMarkerGlyphs[kMarkerGlyphCount];
inline constexpr char16_t kScaleRefusedText[] =
    u"表示倍率には0より大きく100000000以下の数値を、小数点に「.」を使って入力して下さい。";

// What the dialog's controls hold.
struct SettingsForm {
    bool realToTemporary = false;  // the second radio button
    bool makeMarker = false;
    int markerIndex = 0;
    std::u16string scaleText;
    bool sxfDimensions = false;
    bool blockContents = false;
    bool convertMarkers = false;
    bool convertMarkerEnds = false;
};

// Repairs `options` in place (MarkerIndex into 0..6, MarkerScale into
// (0, 1e8]) and returns what the controls show of them.
SettingsForm OpenSettingsForm(TConvertOptions& options);

// The options an OK gives from the controls; nothing when the scale is
// refused (the dialog then beeps, says kScaleRefusedText, puts the focus on
// the scale and stays open).
std::optional<TConvertOptions> AcceptSettingsForm(const SettingsForm& form, const TConvertOptions& current);

}  // namespace tervalo::gui
