#include "convert/settings_file.h"

#include <vector>

#include "fs/fsutil.h"
#include "text/encoding.h"
#include "text/func.h"

namespace tervalo {

namespace {

// Splits text into lines ended by CR LF, LF or CR (a last line without an end
// counts too).
std::vector<std::u16string> SplitLines(const std::u16string& text) {
    std::vector<std::u16string> lines;
    std::u16string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines.push_back(line);
            line.clear();
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else {
            line.push_back(c);
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

void ClampOptions(TConvertOptions& options) {
    if (options.MarkerIndex < 0) options.MarkerIndex = 0;
    if (options.MarkerIndex > 6) options.MarkerIndex = 6;
    // Written so that a NaN becomes 1.0 too.
    if (!(options.MarkerScale > 0.0)) options.MarkerScale = 1.0;
    if (options.MarkerScale >= kMaxMarkerScale) options.MarkerScale = kMaxMarkerScale;
}

}  // namespace

bool TSettingsData::operator==(const TSettingsData& o) const {
    const TConvertOptions& a = Options;
    const TConvertOptions& b = o.Options;
    return FormLeft == o.FormLeft && FormTop == o.FormTop && FormWidth == o.FormWidth &&
           FormHeight == o.FormHeight && PanelWidth == o.PanelWidth && ReferenceFolder == o.ReferenceFolder &&
           OutputFolder == o.OutputFolder && FileTypeIndex == o.FileTypeIndex && ColumnWidths == o.ColumnWidths &&
           DialogLeft == o.DialogLeft && DialogTop == o.DialogTop && a.Direction == b.Direction &&
           a.MakeMarker == b.MakeMarker && a.MarkerIndex == b.MarkerIndex && a.MarkerScale == b.MarkerScale &&
           a.SxfDimensions == b.SxfDimensions && a.BlockContents == b.BlockContents &&
           a.ConvertMarkers == b.ConvertMarkers && a.ConvertMarkerEnds == b.ConvertMarkerEnds;
}

std::array<std::u16string, kSettingsLineCount> SettingsLines(const TSettingsData& d) {
    const TConvertOptions& o = d.Options;
    return {IntToText(d.FormLeft),
            IntToText(d.FormTop),
            IntToText(d.FormWidth),
            IntToText(d.FormHeight),
            IntToText(d.PanelWidth),
            EncodeHexUtf8(d.ReferenceFolder),
            EncodeHexUtf8(d.OutputFolder),
            IntToText(d.FileTypeIndex),
            IntToText(d.ColumnWidths[0]),
            IntToText(d.ColumnWidths[1]),
            IntToText(d.ColumnWidths[2]),
            IntToText(d.ColumnWidths[3]),
            IntToText(d.ColumnWidths[4]),
            IntToText(d.ColumnWidths[5]),
            IntToText(d.DialogLeft),
            IntToText(d.DialogTop),
            IntToText(o.Direction),
            IntToText(o.MakeMarker),
            IntToText(o.SxfDimensions),
            IntToText(o.BlockContents),
            IntToText(o.ConvertMarkers),
            IntToText(o.ConvertMarkerEnds),
            IntToText(o.MarkerIndex),
            FloatToText(o.MarkerScale)};
}

bool LoadSettingsFile(const std::filesystem::path& path, TSettingsData& data) {
    data = TSettingsData{};
    if (!FileFound(path)) return false;
    Bytes bytes;
    if (!ReadWholeFile(path, bytes)) return false;  // nothing applied: the defaults stay

    std::vector<std::u16string> lines = SplitLines(Utf8ToUtf16(std::string(bytes.begin(), bytes.end())));
    lines.resize(kSettingsLineCount);  // missing lines read as empty text
    auto num = [&](int line) { return StrToIntOrZero(lines[static_cast<std::size_t>(line - 1)]); };

    data.FormLeft = num(1);
    data.FormTop = num(2);
    data.FormWidth = num(3);
    data.FormHeight = num(4);
    data.PanelWidth = num(5);
    data.ReferenceFolder = DecodeHexUtf8(lines[5]);
    data.OutputFolder = DecodeHexUtf8(lines[6]);
    data.FileTypeIndex = num(8);
    for (int c = 0; c < 6; ++c) data.ColumnWidths[static_cast<std::size_t>(c)] = num(9 + c);
    data.DialogLeft = num(15);
    data.DialogTop = num(16);
    TConvertOptions& o = data.Options;
    o.Direction = num(17);
    o.MakeMarker = num(18);
    o.SxfDimensions = num(19);
    o.BlockContents = num(20);
    o.ConvertMarkers = num(21);
    o.ConvertMarkerEnds = num(22);
    o.MarkerIndex = num(23);
    o.MarkerScale = StrToFloatOrZero(lines[23]);
    ClampOptions(o);
    return true;
}

bool SaveSettingsFile(const std::filesystem::path& path, const TSettingsData& data) {
    std::u16string text;
    for (const std::u16string& line : SettingsLines(data)) text += line + u"\r\n";
    std::string utf8 = Utf16ToUtf8(text);
    Bytes bytes(utf8.begin(), utf8.end());
    // Written as a new file and put in place only when complete: a failed
    // save leaves the previous settings as they were.
    return WriteWholeFile(path, bytes);
}

}  // namespace tervalo
