// tervalo-cli convert: the conversion run of the desktop program, driven
// from the command line.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli_common.h"
#include "convert/batch.h"
#include "convert/point_rules.h"
#include "convert/settings_file.h"
#include "fs/fsutil.h"
#include "fs/platform.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "text/func.h"

namespace tervalo::cli {

const char kConvertUsage[] =
    "Usage: tervalo-cli convert (--to-real | --to-temporary) [OPTIONS] -o DIR PATH...\n"
    "\n"
    "Converts the points of each Jw_cad drawing (.jww) or figure (.jws) and writes\n"
    "the converted file under its own name into DIR, in the source's version. A\n"
    "folder given as PATH stands for the .jww and .jws files directly in it. A\n"
    "file of the same name already in DIR is first copied to NAME.BAK.\n"
    "\n"
    "Options:\n"
    "  --to-real             temporary points become real points\n"
    "  --to-temporary        real points become temporary points\n"
    "  --marker GLYPH|INDEX  converted real points become point markers of this\n"
    "                        glyph: ＊ ○ ・ ＋ □ △ × or 0 to 6 (files of version 300 on)\n"
    "  --scale S             display scale of new point markers (0 < S <= 1e8)\n"
    "  --no-dimensions       leave the points of dimensions alone\n"
    "  --no-blocks           leave the points inside block definitions alone\n"
    "  --markers             to temporary: also point markers (negative codes)\n"
    "  --marker-ends         to temporary: also marker end points (positive codes)\n"
    "  -o, --output DIR      output folder (must exist, not a source folder)\n"
    "  --settings FILE       take the options (and the output folder when -o is\n"
    "                        absent) from a settings file of the desktop program;\n"
    "                        the options given here override it\n"
    "  --help                show this help\n"
    "\n"
    "Exit status: 0 when every file was converted, 1 otherwise, 2 on bad arguments.\n";

namespace {

struct ConvertArgs {
    std::optional<int> direction;  // 0 to real, 1 to temporary
    std::optional<int> markerIndex;
    std::optional<double> scale;
    bool noDimensions = false, noBlocks = false, markers = false, markerEnds = false;
    std::optional<std::u16string> output;
    std::optional<std::u16string> settings;
    std::vector<std::u16string> paths;
};

std::optional<int> ParseMarker(const std::string& value) {
    if (value.size() == 1 && value[0] >= '0' && value[0] < '0' + kMarkerGlyphCount) return value[0] - '0';
    std::u16string text = Utf8ToUtf16(value);
    for (int i = 0; i < kMarkerGlyphCount; ++i)
        if (text == kMarkerGlyphs[static_cast<std::size_t>(i)]) return i;
    return std::nullopt;
}

std::optional<double> ParseScale(const std::string& value) {
    double scale = 0;
    const char* end = value.data() + value.size();
    auto res = std::from_chars(value.data(), end, scale, std::chars_format::general);
    if (value.empty() || res.ec != std::errc() || res.ptr != end || !std::isfinite(scale)) return std::nullopt;
    if (!(scale > 0.0) || scale > kMaxMarkerScale) return std::nullopt;
    return scale;
}

// Parses the arguments; returns an exit code when the run must stop here.
std::optional<int> ParseArgs(const std::vector<std::string>& args, ConvertArgs& out) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        std::optional<std::string> inlineValue;
        if (!optionsEnded && a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
            inlineValue = a.substr(a.find('=') + 1);
            a = a.substr(0, a.find('='));
        }
        auto value = [&](std::string& v) -> bool {
            if (inlineValue) {
                v = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            v = args[++i];
            return true;
        };
        auto flag = [&]() -> bool { return !inlineValue; };
        std::string v;
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            std::u16string path;
            if (!ArgToText(args[i], path)) return UsageError("convert: the path '" + args[i] + "' is not valid UTF-8");
            out.paths.push_back(path);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            Out(std::string(kConvertUsage).substr(0, std::string(kConvertUsage).size() - 1));
            return kExitOk;
        } else if ((a == "--to-real" || a == "--to-temporary") && flag()) {
            int d = a == "--to-real" ? 0 : 1;
            if (out.direction && *out.direction != d)
                return UsageError("convert: --to-real and --to-temporary exclude each other");
            out.direction = d;
        } else if (a == "--marker") {
            if (!value(v)) return UsageError("convert: --marker needs a glyph or an index");
            out.markerIndex = ParseMarker(v);
            if (!out.markerIndex)
                return UsageError("convert: --marker takes one of ＊ ○ ・ ＋ □ △ × or an index 0 to 6, not '" + v + "'");
        } else if (a == "--scale") {
            if (!value(v)) return UsageError("convert: --scale needs a number");
            out.scale = ParseScale(v);
            if (!out.scale) return UsageError("convert: --scale must be a number above 0 and at most 1e8, not '" + v + "'");
        } else if (a == "--no-dimensions" && flag()) {
            out.noDimensions = true;
        } else if (a == "--no-blocks" && flag()) {
            out.noBlocks = true;
        } else if (a == "--markers" && flag()) {
            out.markers = true;
        } else if (a == "--marker-ends" && flag()) {
            out.markerEnds = true;
        } else if (a == "-o" || a == "--output" || (a.rfind("-o", 0) == 0 && a.size() > 2 && a[1] == 'o')) {
            if (a.size() > 2 && a[1] == 'o') v = a.substr(2);
            else if (!value(v)) return UsageError("convert: " + a + " needs a folder");
            std::u16string folder;
            if (v.empty() || !ArgToText(v, folder)) return UsageError("convert: invalid output folder '" + v + "'");
            out.output = folder;
        } else if (a == "--settings") {
            if (!value(v)) return UsageError("convert: --settings needs a file");
            std::u16string file;
            if (v.empty() || !ArgToText(v, file)) return UsageError("convert: invalid settings file '" + v + "'");
            out.settings = file;
        } else {
            return UsageError("convert: unknown option '" + args[i] + "'");
        }
    }
    return std::nullopt;
}

// The .jww and .jws files directly in a folder, sorted by name. Names that
// are not valid UTF-8 are taken too (flagged), so that they are reported as
// not converted instead of being skipped. False when the folder cannot be read.
bool DrawingsIn(const std::u16string& folder, std::vector<BatchItem>& items, std::string& error) {
    namespace fs = std::filesystem;
    fs::path dir;
    if (!platform::PathFromText(folder, dir)) {
        error = "not a valid path";
        return false;
    }
    std::vector<platform::FolderEntry> entries;
    if (std::error_code ec = platform::ListFolder(dir, entries)) {
        error = platform::ErrorText(ec);
        return false;
    }
    std::vector<BatchItem> found;
    for (const platform::FolderEntry& entry : entries) {
        const std::u16string name = platform::TextFromPath(entry.name);
        const std::u16string ext = ExtLower(name);
        if (ext != u".jww" && ext != u".jws") continue;
        platform::NodeInfo info;
        // Links to files count, folders do not.
        if (platform::Inspect(dir / entry.name, true, info) || info.kind != platform::NodeKind::Regular) continue;
        found.push_back({folder, name, !entry.validText});
    }
    std::sort(found.begin(), found.end(), [](const BatchItem& a, const BatchItem& b) { return a.name < b.name; });
    items.insert(items.end(), found.begin(), found.end());
    return true;
}

// The folder part and the name of a file path; a path without a folder is
// read from the current directory.
BatchItem ItemOfFile(const std::u16string& path) {
    // The platform's own rules say where the folder part ends ('/' and, on
    // Windows, '\\' and a drive's colon).
    std::filesystem::path p;
    if (!platform::PathFromText(path, p)) return {u".", path};
    std::u16string folder = platform::TextFromPath(p.parent_path());
    const std::u16string name = platform::TextFromPath(p.filename());
    if (folder.empty()) return {u".", name};
    // "C:plan.jww" is plan.jww in the current folder of drive C.
    if (folder.back() == u':') folder += u'.';
    return {folder, name};
}

class CliReporter : public BatchReporter {
public:
    void Message(const std::u16string& text) override {
        std::string line = ToUtf8(text);
        for (std::size_t p; (p = line.find("\r\n")) != std::string::npos;) line.replace(p, 2, " ");
        Err(std::string(kProgram) + ": " + line);
    }
    void Status(const std::u16string&) override {}  // progress is shown per file
    void FileResult(const BatchFileResult& r) override {
        const std::string source = ToUtf8(r.source);
        if (r.outcome == FileOutcome::Converted) {
            std::string line = "converted: " + source + " -> " + ToUtf8(r.target);
            if (!r.backup.empty()) line += " (existing file backed up to " + ToUtf8(r.backup) + ")";
            if (r.upToDate) line += " (already up to date: left as it was)";
            Out(line);
            return;
        }
        std::string line = "not converted: " + source + ": " + ReasonText(r.reason);
        if (!r.detail.empty()) line += " (" + r.detail + ")";
        Out(line);
    }
};

// A private folder for the bound images of the drawing being converted,
// removed with whatever is left in it when the run ends.
class WorkFolder {
public:
    WorkFolder() {
        std::filesystem::path p;
        if (!platform::MakePrivateFolder("tervalo-cli", p)) path_ = p;
    }
    ~WorkFolder() {
        if (path_.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    bool ok() const { return !path_.empty(); }
    std::u16string u16() const { return platform::TextFromPath(path_) + DirectorySeparator(); }

private:
    std::filesystem::path path_;
};

}  // namespace

int RunConvert(const std::vector<std::string>& rawArgs) {
    ConvertArgs args;
    if (auto rc = ParseArgs(rawArgs, args)) return *rc;

    BatchJob job;
    job.options = TConvertOptions{};
    if (args.settings) {
        if (!FileFound(*args.settings)) return UsageError("convert: settings file not found: " + ToUtf8(*args.settings));
        TSettingsData settings;
        if (!LoadSettingsFile(*args.settings, settings))
            return UsageError("convert: cannot read the settings file " + ToUtf8(*args.settings));
        job.options = settings.Options;
        job.outputFolder = settings.OutputFolder;
    }
    if (args.direction) {
        job.options.Direction = *args.direction;
    } else if (!args.settings) {
        return UsageError("convert: give --to-real or --to-temporary");
    }
    if (args.markerIndex) {
        job.options.MakeMarker = 1;
        job.options.MarkerIndex = *args.markerIndex;
    } else if (!args.settings) {
        job.options.MakeMarker = 0;
    }
    if (args.scale) job.options.MarkerScale = *args.scale;
    if (args.noDimensions) job.options.SxfDimensions = 0;
    if (args.noBlocks) job.options.BlockContents = 0;
    if (args.markers) job.options.ConvertMarkers = 1;
    if (args.markerEnds) job.options.ConvertMarkerEnds = 1;
    if (args.output) job.outputFolder = *args.output;
    if (job.outputFolder.empty()) return UsageError("convert: no output folder (give -o DIR)");
    if (args.paths.empty()) return UsageError("convert: no file or folder given");

    bool folderFailed = false;
    for (const std::u16string& path : args.paths) {
        if (FolderFound(path)) {
            const std::size_t before = job.items.size();
            std::string error;
            if (!DrawingsIn(path, job.items, error)) {
                Err(std::string(kProgram) + ": cannot read the folder " + ToUtf8(path) + ": " + error);
                folderFailed = true;
            } else if (job.items.size() == before) {
                Err(std::string(kProgram) + ": " + ToUtf8(path) + ": no .jww or .jws files in this folder");
            }
        } else {
            job.items.push_back(ItemOfFile(path));
        }
    }

    // A stop by Ctrl-C, SIGTERM or SIGHUP removes the file being written
    // before the process ends; the lines of the files done are already out.
    platform::RemovePendingFilesOnSignals();

    WorkFolder work;
    if (!work.ok()) {
        Err(std::string(kProgram) + ": cannot create a work folder for bound images");
        return kExitFailed;
    }
    job.imageWorkFolder = work.u16();

    TJwwData jww;
    TJwsData jws;
    CliReporter reporter;
    BatchSummary summary = RunBatch(job, BatchContainers{jww, jws}, reporter);
    if (summary.check != BatchCheck::Ok) return kExitUsage;  // the message was printed

    Out(ToUtf8(SummaryText(summary.converted, summary.notConverted)));
    std::string english = std::to_string(summary.converted) + " converted, " +
                          std::to_string(summary.notConverted + summary.unsupported) + " not converted";
    Out(english);
    return summary.AllConverted() && !folderFailed ? kExitOk : kExitFailed;
}

}  // namespace tervalo::cli
