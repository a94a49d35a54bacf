// The settings file beside the executable: window layout, both folders and
// the conversion options, as 24 ASCII lines.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "convert/convert_options.h"

namespace tervalo {

inline constexpr std::int32_t kSettingsLineCount = 24;
inline constexpr double kMaxMarkerScale = 100000000.0;  // 1e8

// Every value of the settings file, holding its default until loaded.
struct TSettingsData {
    std::int32_t FormLeft = 64;
    std::int32_t FormTop = 64;
    std::int32_t FormWidth = 600;
    std::int32_t FormHeight = 520;
    std::int32_t PanelWidth = 200;  // folder-tree panel
    std::u16string ReferenceFolder;
    std::u16string OutputFolder;
    std::int32_t FileTypeIndex = 0;
    std::array<std::int32_t, 6> ColumnWidths{80, 80, 80, 80, 80, 80};
    std::int32_t DialogLeft = 64;  // settings dialog
    std::int32_t DialogTop = 64;
    TConvertOptions Options;  // its own defaults

    bool operator==(const TSettingsData& o) const;
};

// Resets `data` to the defaults, then reads the file at `path` over them.
// Lines missing at the end read as empty text (numbers 0, folders empty);
// MarkerIndex is clamped into 0..6 and MarkerScale into (0, 1e8]. A file
// that cannot be read leaves the defaults. True when the file was read.
bool LoadSettingsFile(const std::filesystem::path& path, TSettingsData& data);

// Writes the 24 lines, each ended by CR LF, into a new file that replaces
// the old one only once complete. On failure the file at `path` is exactly
// as it was before. True when written.
bool SaveSettingsFile(const std::filesystem::path& path, const TSettingsData& data);

// The lines as SaveSettingsFile writes them (without line ends).
std::array<std::u16string, kSettingsLineCount> SettingsLines(const TSettingsData& data);

}  // namespace tervalo
