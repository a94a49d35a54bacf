// tervalo-cli convert: the conversion run of the desktop program, driven
// from the command line and from scripts.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "arguments.h"
#include "cli_common.h"
#include "convert/batch.h"
#include "convert/point_rules.h"
#include "convert/settings_file.h"
#include "fs/fsutil.h"
#include "fs/platform.h"
#include "json_writer.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "sources.h"
#include "text/func.h"

namespace tervalo::cli {

namespace {

struct ConvertArgs {
    std::optional<int> direction;  // 0 to real, 1 to temporary
    std::optional<int> markerIndex;
    std::optional<double> scale;
    bool noDimensions = false, noBlocks = false, markers = false, markerEnds = false;
    bool dryRun = false, recursive = false, json = false, quiet = false, verbose = false, nul = false;
    std::optional<std::u16string> output;
    std::optional<std::u16string> settings;
    std::optional<std::string> filesFrom;
    std::vector<std::string> paths;
};

}  // namespace

// The marker glyph and scale options, shared with the render command.
std::optional<int> ParseMarker(const std::string& value) {
    static const char* const kNames[kMarkerGlyphCount][2] = {{"*", "star"},  {"o", "circle"},  {".", "dot"},
                                                               {"+", "plus"},  {"square", ""},   {"triangle", ""},
                                                               {"x", "cross"}};
    if (value.size() == 1 && value[0] >= '0' && value[0] < '0' + kMarkerGlyphCount) return value[0] - '0';
    std::string lower = value;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const std::u16string text = Utf8ToUtf16(value);
    for (int i = 0; i < kMarkerGlyphCount; ++i) {
        if (text == kMarkerGlyphs[static_cast<std::size_t>(i)]) return i;
        for (const char* name : kNames[i])
            if (*name && lower == name) return i;
    }
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

namespace {

// Parses the arguments; returns an exit code when the run must stop here.
std::optional<int> ParseArgs(const std::vector<std::string>& args, ConvertArgs& out) {
    bool toReal = false, toTemporary = false;
    std::optional<std::string> marker, scale, output, settings;
    CommandLine line("convert",
                     "Converts the points of each Jw_cad drawing (.jww) or figure (.jws) and writes\n"
                     "the converted file under its own name into DIR, in the source's version. A\n"
                     "folder given as PATH stands for the .jww and .jws files in it. A file of the\n"
                     "same name already in DIR is first copied to NAME.BAK; a file that already\n"
                     "holds exactly the conversion is left as it is. Every file is written as a new\n"
                     "file and put in place only when complete. One of --to-real and --to-temporary\n"
                     "is required (unless --settings gives the direction), and so is -o DIR.",
                     "PATH...",
                     "Exit status: 0 when every file was converted, 1 otherwise, 2 on bad arguments\n"
                     "or an output folder that cannot be used.");
    line.Group("Direction")
        .Flag("--to-real", toReal, "temporary points become real points")
        .Flag("--to-temporary", toTemporary, "real points become temporary points")
        .Group("To real points")
        .Value("--marker", marker, "GLYPH", "a glyph",
               "converted points become point markers (files of\n"
               "version 300 on): * star, o circle, . dot, + plus,\n"
               "square, triangle, x cross, the glyphs ＊ ○ ・ ＋ □ △ ×,\n"
               "or an index 0 to 6")
        .Value("--scale", scale, "S", "a number", "display scale of new point markers (0 < S <= 1e8)")
        .Group("To temporary points")
        .Flag("--markers", out.markers, "also point markers (negative codes)")
        .Flag("--marker-ends", out.markerEnds, "also marker end points (positive codes)")
        .Group("Both directions")
        .Flag("--no-dimensions", out.noDimensions, "leave the points of dimensions alone")
        .Flag("--no-blocks", out.noBlocks, "leave the points inside block definitions alone")
        .Value("-o,--output", output, "DIR", "a folder", "output folder (must exist, not a source folder)")
        .Flag("-r,--recursive", out.recursive,
              "folders include their subfolders; each file goes to\n"
              "the same subfolder below DIR (created when missing)")
        .Flag("-n,--dry-run", out.dryRun,
              "read and convert in memory, write nothing, and say\n"
              "what a real run would do")
        .Value("--files-from", out.filesFrom, "FILE", "a file (- for standard input)",
               "read more paths from FILE, one per line (- for\nstandard input)")
        .Flag("-0,--null", out.nul, "the list of --files-from is separated by NUL bytes")
        .Value("--settings", settings, "FILE", "a file",
               "take the options (and the output folder when -o is\n"
               "absent) from a settings file of the desktop program;\n"
               "the options given here override it")
        .Flag("--json", out.json, "one JSON object per file, then a summary object")
        .Flag("-q,--quiet", out.quiet, "print only the files not converted and errors")
        .Flag("-v,--verbose", out.verbose, "also the points changed and the backup of every file")
        .VersionFlag();
    if (auto rc = line.Parse(args, out.paths)) return rc;

    if (toReal && toTemporary) return UsageError("convert: --to-real and --to-temporary exclude each other");
    if (toReal || toTemporary) out.direction = toReal ? 0 : 1;
    if (marker) {
        out.markerIndex = ParseMarker(*marker);
        if (!out.markerIndex)
            return UsageError("convert: --marker takes *, o, ., +, square, triangle, x (or star, circle, dot, "
                              "plus, cross, the glyphs ＊ ○ ・ ＋ □ △ ×, an index 0 to 6), not '" + *marker + "'");
    }
    if (scale) {
        out.scale = ParseScale(*scale);
        if (!out.scale) return UsageError("convert: --scale must be a number above 0 and at most 1e8, not '" + *scale + "'");
    }
    if (output) {
        std::u16string folder;
        if (!ArgToText(*output, folder)) return UsageError("convert: the output folder '" + *output + "' is not valid UTF-8");
        out.output = folder;
    }
    if (settings) {
        std::u16string file;
        if (!ArgToText(*settings, file)) return UsageError("convert: the settings file '" + *settings + "' is not valid UTF-8");
        out.settings = file;
    }
    if (out.quiet && out.verbose) return UsageError("convert: -q and -v exclude each other");
    if (out.nul && !out.filesFrom) return UsageError("convert: -0 applies to --files-from only");
    return std::nullopt;
}

// Checks that every option given applies to the direction of the run.
std::optional<int> CheckOptions(const ConvertArgs& args, const TConvertOptions& options) {
    const bool toReal = options.Direction == 0;
    if (!toReal) {
        if (args.markerIndex) return UsageError("convert: --marker applies to --to-real only");
        if (args.scale) return UsageError("convert: --scale applies to --to-real only");
    } else {
        if (args.markers) return UsageError("convert: --markers applies to --to-temporary only");
        if (args.markerEnds) return UsageError("convert: --marker-ends applies to --to-temporary only");
        if (args.scale && options.MakeMarker == 0) return UsageError("convert: --scale needs --marker");
    }
    return std::nullopt;
}

// Stable names of the reasons, for scripts.
const char* ReasonCode(NotConvertedReason reason) {
    switch (reason) {
        case NotConvertedReason::None: return "";
        case NotConvertedReason::UnsupportedExtension: return "unsupported_extension";
        case NotConvertedReason::KindNotConverted: return "kind_not_converted";
        case NotConvertedReason::SourceMissing: return "source_missing";
        case NotConvertedReason::CheckFailed: return "not_a_drawing";
        case NotConvertedReason::TargetIsSource: return "target_is_source";
        case NotConvertedReason::DuplicateTarget: return "duplicate_target";
        case NotConvertedReason::NameNotText: return "name_not_utf8";
        case NotConvertedReason::NotAPlainFile: return "not_a_plain_file";
        case NotConvertedReason::BackupFailed: return "backup_failed";
        case NotConvertedReason::ReadFailed: return "read_failed";
        case NotConvertedReason::ImagesNotExtracted: return "images_not_extracted";
        case NotConvertedReason::WriteFailed: return "write_failed";
    }
    return "not_converted";
}

// Prints each file's result as it finishes: text lines in one language, or
// JSON objects; and a progress line on a terminal.
class CliReporter : public BatchReporter {
public:
    CliReporter(const ConvertArgs& args, std::size_t total)
        : args_(args), ja_(UserLanguage() == Language::Japanese), total_(total),
          progress_(!args.quiet && total > 3 && StderrIsTerminal()) {}

    void Message(const std::u16string& text) override {
        ClearProgress();
        std::string line = ToUtf8(text);
        for (std::size_t p; (p = line.find("\r\n")) != std::string::npos;) line.replace(p, 2, " ");
        Err(std::string(kProgram) + ": " + line);
    }
    // Every file gets its own line, the refused extensions too.
    void UnsupportedExtension(const std::u16string&) override {}
    void ItemBegin(std::size_t index) override {
        item_ = index;
        if (index < pendingNames_.size()) current_ = pendingNames_[index];
    }
    void Status(const std::u16string& text) override {
        if (!progress_ || text.empty() || done_ >= total_) return;  // the last status is the summary
        const std::string line = "[" + std::to_string(item_ + 1) + "/" + std::to_string(total_) + "] " + current_;
        std::fputs(("\r\033[K" + line).c_str(), stderr);
        std::fflush(stderr);
        shown_ = true;
    }
    void ConvertBegin() override {}
    void WaitingForFolder(const std::filesystem::path& folder) override {
        ClearProgress();
        Err(std::string(kProgram) + ": " +
            (ja_ ? OneLine(WaitingStatusText(folder))
                 : "waiting for another conversion into " + OneLine(platform::TextFromPath(folder))));
    }
    void FileResult(const BatchFileResult& r) override {
        ++done_;
        ClearProgress();
        if (args_.json) {
            PrintJson(r);
            return;
        }
        const bool converted = r.outcome == FileOutcome::Converted;
        if (converted && args_.quiet) return;
        std::string line;
        if (converted) {
            line = (ja_ ? (args_.dryRun ? "変換します: " : "変換しました: ")
                        : (args_.dryRun ? "would convert: " : "converted: ")) +
                   OneLine(platform::TextFromPath(r.source)) + (ja_ ? " → " : " -> ") + OneLine(platform::TextFromPath(r.target));
            std::vector<std::string> notes;
            if (r.upToDate) notes.push_back(ja_ ? "変換済みのため変更なし" : "already up to date: left as it is");
            if (!r.backup.empty())
                notes.push_back((ja_ ? "バックアップ: " : "backup: ") + OneLine(platform::TextFromPath(r.backup)));
            else if (args_.verbose && !r.upToDate)
                notes.push_back(ja_ ? "バックアップなし" : "no backup needed");
            if (args_.verbose)
                notes.push_back(ja_ ? "変わる点: " + std::to_string(r.changedPoints)
                                    : std::to_string(r.changedPoints) + " points changed");
            for (std::size_t i = 0; i < notes.size(); ++i) line += (i ? ", " : " (") + notes[i];
            if (!notes.empty()) line += ")";
            Out(line);
            return;
        }
        line = (ja_ ? (args_.dryRun ? "変換できません: " : "変換できませんでした: ")
                    : (args_.dryRun ? "would not convert: " : "not converted: ")) +
               OneLine(platform::TextFromPath(r.source)) + ": " + (ja_ ? ToUtf8(JapaneseReasonText(r.reason)) : ReasonText(r.reason));
        if (!r.detail.empty()) line += " (" + OneLine(Utf8ToUtf16(r.detail)) + ")";
        Err(line);
    }

    void SetNames(std::vector<std::string> names) {
        pendingNames_ = std::move(names);
        if (!pendingNames_.empty()) current_ = pendingNames_[0];
    }

    void ClearProgress() {
        if (!shown_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

    void Summary(std::int32_t converted, std::int32_t notConverted) {
        ClearProgress();
        if (args_.json) {
            Out("{\"summary\":" +
                JsonObject().Number("converted", converted).Number("not_converted", notConverted).Done() + "}");
            return;
        }
        if (args_.quiet) return;
        if (ja_) {
            std::u16string text = args_.dryRun ? IntToText(converted) + u"個のファイルを変換できます。"
                                               : IntToText(converted) + u"個のファイルを変換しました。";
            if (notConverted > 0)
                text += IntToText(notConverted) +
                        (args_.dryRun ? u"個のファイルは変換できません。" : u"個のファイルは変換できませんでした。");
            Out(ToUtf8(text));
        } else if (args_.dryRun) {
            Out(std::to_string(converted) + " would be converted, " + std::to_string(notConverted) +
                " would not be converted");
        } else {
            Out(std::to_string(converted) + " converted, " + std::to_string(notConverted) + " not converted");
        }
    }

private:
    void PrintJson(const BatchFileResult& r) {
        const bool converted = r.outcome == FileOutcome::Converted;
        JsonObject o;
        o.String("source", platform::TextFromPath(r.source));
        if (converted || !r.target.empty()) o.String("target", platform::TextFromPath(r.target));
        else o.Raw("target", "null");
        o.Bool("converted", converted);
        if (args_.dryRun) o.Bool("dry_run", true);
        if (!converted) {
            o.String("reason", Utf8ToUtf16(ReasonText(r.reason)));
            o.String("reason_code", Utf8ToUtf16(ReasonCode(r.reason)));
            if (!r.detail.empty()) o.String("detail", Utf8ToUtf16(r.detail));
        }
        if (r.backup.empty()) o.Raw("backup", "null");
        else o.String("backup", platform::TextFromPath(r.backup));
        o.Bool("up_to_date", r.upToDate);
        o.Number("changed_points", converted ? r.changedPoints : 0);
        Out(o.Done());
    }

    const ConvertArgs& args_;
    const bool ja_;
    const std::size_t total_;
    const bool progress_;
    bool shown_ = false;
    std::size_t done_ = 0;
    std::size_t item_ = 0;  // the item being converted
    std::vector<std::string> pendingNames_;
    std::string current_;
};

std::string FolderCheckText(BatchCheck check, bool ja, const std::string& detail) {
    switch (check) {
        case BatchCheck::NoOutputFolder: return ja ? ToUtf8(kTextNoOutputFolder) : "no output folder given";
        case BatchCheck::OutputFolderMissing:
            return ja ? ToUtf8(kTextOutputFolderMissing) : "the output folder does not exist";
        case BatchCheck::SameAsReference:
            return ja ? ToUtf8(kTextSameFolder) : "the output folder must not be a folder the files are read from";
        case BatchCheck::OutputFolderUnusable:
            return (ja ? ToUtf8(kTextOutputFolderUnusable) : std::string("the output folder cannot be used")) + " (" +
                   detail + ")";
        case BatchCheck::Ok: break;
    }
    return {};
}

// Reports folder checks in the run's language instead of the desktop texts.
class CheckReporter : public BatchReporter {
public:
    void Message(const std::u16string&) override {}
    void Status(const std::u16string&) override {}
    void FileResult(const BatchFileResult&) override {}
};

}  // namespace

int RunConvert(const std::vector<std::string>& rawArgs) {
    ConvertArgs args;
    if (auto rc = ParseArgs(rawArgs, args)) return *rc;

    BatchJob job;
    job.options = TConvertOptions{};
    if (args.settings) {
        if (!FileFound(PathOfText(*args.settings))) return UsageError("convert: settings file not found: " + ToUtf8(*args.settings));
        TSettingsData settings;
        if (!LoadSettingsFile(PathOfText(*args.settings), settings))
            return UsageError("convert: cannot read the settings file " + ToUtf8(*args.settings));
        job.options = settings.Options;
        if (!platform::PathFromText(settings.OutputFolder, job.outputFolder)) job.outputFolder.clear();
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
    if (auto rc = CheckOptions(args, job.options)) return *rc;
    if (args.scale) job.options.MarkerScale = *args.scale;
    if (args.noDimensions) job.options.SxfDimensions = 0;
    if (args.noBlocks) job.options.BlockContents = 0;
    if (args.markers) job.options.ConvertMarkers = 1;
    if (args.markerEnds) job.options.ConvertMarkerEnds = 1;
    if (args.output && !platform::PathFromText(*args.output, job.outputFolder)) job.outputFolder.clear();
    job.dryRun = args.dryRun;
    if (job.outputFolder.empty()) return UsageError("convert: no output folder (give -o DIR)");

    std::vector<std::string> paths = args.paths;
    if (args.filesFrom) {
        std::string error;
        if (!ReadPathList(*args.filesFrom, args.nul, paths, error)) return UsageError("convert: " + error);
    }
    if (paths.empty()) return UsageError("convert: no file or folder given");

    CollectOptions collect;
    collect.extensions = {u".jww", u".jws"};
    collect.recursive = args.recursive;
    {
        platform::NodeInfo out;
        if (!platform::Inspect(job.outputFolder, true, out) &&
            out.kind == platform::NodeKind::Directory)
            collect.skipFolder = out.id;
    }
    bool folderFailed = false;
    for (const std::string& arg : paths) {
        std::u16string path;
        if (!ArgToText(arg, path)) {
            // Not text: reported as a file that cannot be converted.
            job.items.push_back(BatchItem(".", Utf8ToUtf16(arg), true));
            continue;
        }
        if (!FolderFound(PathOfText(path))) {
            job.items.push_back(ItemOfFile(path));
            continue;
        }
        const std::size_t before = job.items.size();
        std::vector<std::string> errors;
        CollectFolder(path, collect, job.items, errors);
        for (const std::string& e : errors) Err(std::string(kProgram) + ": " + e);
        folderFailed = folderFailed || !errors.empty();
        if (errors.empty() && job.items.size() == before && !args.quiet)
            Err(std::string(kProgram) + ": " + OneLine(path) + ": no .jww or .jws files in this folder");
    }

    // A stop by Ctrl-C, SIGTERM or SIGHUP removes the file being written
    // before the process ends; the lines of the files done are already out.
    platform::RemovePendingFilesOnSignals();

    TJwwData jww;
    TJwsData jws;
    const bool ja = UserLanguage() == Language::Japanese;
    {
        CheckReporter quiet;
        std::string detail;
        const BatchCheck check = CheckOutputFolder(job, quiet, &detail);
        if (check != BatchCheck::Ok) {
            Err(std::string(kProgram) + ": " + FolderCheckText(check, ja, detail));
            return kExitUsage;
        }
    }
    CliReporter reporter(args, job.items.size());
    std::vector<std::string> names;
    names.reserve(job.items.size());
    for (const BatchItem& item : job.items) names.push_back(OneLine(item.name));
    reporter.SetNames(std::move(names));
    BatchSummary summary = RunBatch(job, BatchContainers{jww, jws}, reporter);
    if (summary.check != BatchCheck::Ok) return kExitUsage;

    const std::int32_t notConverted = summary.notConverted + summary.unsupported;
    reporter.Summary(summary.converted, notConverted);
    return summary.AllConverted() && !folderFailed ? kExitOk : kExitFailed;
}

}  // namespace tervalo::cli
