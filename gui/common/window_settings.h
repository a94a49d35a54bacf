// What the desktop program keeps between runs: the settings file of 24
// lines (window bounds, tree width, both folders, file type, the widths of
// the first six columns, the settings dialog's position, the conversion
// options; see convert/settings_file.h) and, in a second file beside it,
// what that file has no line for.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "convert/settings_file.h"
#include "file_rows.h"

namespace tervalo::gui {

// The second file: key=value lines of ASCII, unknown keys ignored, a value
// out of range leaves its default. Written the same safe way as the
// settings file (a new file renamed onto the name once complete).
struct LayoutSettings {
    // Width of the preview beside the list, in pixels; 0 = the front end's
    // default share.
    std::int32_t PreviewWidth = 0;
    // Whether the preview is shown; folded away by default, so the list
    // has the room of the first-start window.
    bool PreviewShown = false;
    // Widths of the three count columns; 0 = fitted to their texts.
    std::array<std::int32_t, kCountColumns> CountWidths{0, 0, 0};
    // The main window was maximised when it closed (its bounds in the
    // settings file are the normal ones).
    bool Maximized = false;

    bool operator==(const LayoutSettings&) const = default;
};

// Columns narrower than this read as empty: a stored width below it is
// ignored and the column gets its fitted width.
inline constexpr std::int32_t kMinColumnWidth = 24;

// The second file's path: the settings file's with the extension ".layout".
std::u16string LayoutPathOf(const std::u16string& settingsPath);

// Resets `data` to the defaults, then reads the file over them; true when
// a file was read.
bool LoadLayoutFile(const std::u16string& path, LayoutSettings& data);
// False when the file could not be written (the old one then stays).
bool SaveLayoutFile(const std::u16string& path, const LayoutSettings& data);
// The text SaveLayoutFile writes.
std::string LayoutFileText(const LayoutSettings& data);

// Both files together.
struct WindowSettings {
    TSettingsData main;
    LayoutSettings layout;
    bool loaded = false;  // the settings file was found and read
};
WindowSettings LoadWindowSettings(const std::u16string& settingsPath);
bool SaveWindowSettings(const std::u16string& settingsPath, const WindowSettings& settings);

}  // namespace tervalo::gui
