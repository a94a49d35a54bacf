#include "window_settings.h"

#include <charconv>
#include <string_view>

#include "fs/fsutil.h"

namespace tervalo::gui {

namespace {

constexpr std::int32_t kMaxPixels = 100000;

bool ReadInt(std::string_view text, std::int32_t low, std::int32_t high, std::int32_t& out) {
    std::int32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return false;
    out = v;
    return true;
}

}  // namespace

std::u16string LayoutPathOf(const std::u16string& settingsPath) { return ReplaceExt(settingsPath, u".layout"); }

std::string LayoutFileText(const LayoutSettings& d) {
    std::string text;
    auto line = [&](const char* key, std::int32_t value) {
        text += key;
        text += '=';
        text += std::to_string(value);
        text += "\r\n";
    };
    line("preview_width", d.PreviewWidth);
    line("preview_shown", d.PreviewShown ? 1 : 0);
    line("temporary_width", d.CountWidths[0]);
    line("real_width", d.CountWidths[1]);
    line("marker_width", d.CountWidths[2]);
    line("maximized", d.Maximized ? 1 : 0);
    return text;
}

bool LoadLayoutFile(const std::u16string& path, LayoutSettings& d) {
    d = LayoutSettings{};
    Bytes bytes;
    if (path.empty() || !ReadFilePrefix(PathOfText(path), 64 * 1024, bytes)) return false;
    const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        std::int32_t v = 0;
        if (key == "preview_width" && ReadInt(value, 0, kMaxPixels, v)) d.PreviewWidth = v;
        else if (key == "preview_shown" && ReadInt(value, 0, 1, v)) d.PreviewShown = v != 0;
        else if (key == "temporary_width" && ReadInt(value, 0, kMaxPixels, v)) d.CountWidths[0] = v;
        else if (key == "real_width" && ReadInt(value, 0, kMaxPixels, v)) d.CountWidths[1] = v;
        else if (key == "marker_width" && ReadInt(value, 0, kMaxPixels, v)) d.CountWidths[2] = v;
        else if (key == "maximized" && ReadInt(value, 0, 1, v)) d.Maximized = v != 0;
    }
    return true;
}

bool SaveLayoutFile(const std::u16string& path, const LayoutSettings& d) {
    if (path.empty()) return false;
    const std::string text = LayoutFileText(d);
    return WriteWholeFile(PathOfText(path), ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

WindowSettings LoadWindowSettings(const std::u16string& settingsPath) {
    WindowSettings s;
    s.loaded = !settingsPath.empty() && LoadSettingsFile(PathOfText(settingsPath), s.main);
    if (!settingsPath.empty()) LoadLayoutFile(LayoutPathOf(settingsPath), s.layout);
    return s;
}

bool SaveWindowSettings(const std::u16string& settingsPath, const WindowSettings& s) {
    if (settingsPath.empty()) return false;
    const bool main = SaveSettingsFile(PathOfText(settingsPath), s.main);
    const bool layout = SaveLayoutFile(LayoutPathOf(settingsPath), s.layout);
    return main && layout;
}

}  // namespace tervalo::gui
