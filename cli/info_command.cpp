// tervalo-cli info: what each Jw_cad file holds. Never writes a file.
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "cli_common.h"
#include "convert/drawing_info.h"
#include "dos/jwc_data.h"
#include "dos/jwk_data.h"
#include "fs/fsutil.h"
#include "json_writer.h"
#include "sources.h"
#include "model/jws_data.h"
#include "model/jww_data.h"

namespace tervalo::cli {

namespace {

std::string KindsJson(const KindCounts& k) {
    return JsonObject()
        .Number("line", k.line)
        .Number("arc", k.arc)
        .Number("point", k.point)
        .Number("text", k.text)
        .Number("dimension", k.dimension)
        .Number("solid", k.solid)
        .Number("block", k.block)
        .Done();
}

std::string PointsJson(const PointCounts& p) {
    return JsonObject().Number("temporary", p.temporary).Number("real", p.real).Number("marker", p.marker).Done();
}

std::string KindsText(const KindCounts& k) {
    return "line " + std::to_string(k.line) + ", arc " + std::to_string(k.arc) + ", point " +
           std::to_string(k.point) + ", text " + std::to_string(k.text) + ", dimension " +
           std::to_string(k.dimension) + ", solid " + std::to_string(k.solid) + ", block " +
           std::to_string(k.block);
}

std::string PointsText(const PointCounts& p) {
    return "temporary " + std::to_string(p.temporary) + ", real " + std::to_string(p.real) + ", marker " +
           std::to_string(p.marker);
}

void PrintDrawing(const std::u16string& file, const char* format, const DrawingInfo& info, bool json) {
    if (json) {
        std::string images = "[";
        for (std::size_t i = 0; i < info.images.size(); ++i) {
            if (i) images += ",";
            images += JsonObject().String("name", info.images[i].name).Number("size", info.images[i].size).Done();
        }
        images += "]";
        Out(JsonObject()
                .String("file", file)
                .String("format", std::u16string(format, format + std::char_traits<char>::length(format)))
                .Number("version", info.version)
                .Bool("dos", false)
                .String("memo", info.memo)
                .Raw("entities", KindsJson(info.entities))
                .Raw("block_entities", KindsJson(info.blockEntities))
                .Raw("points", PointsJson(info.points))
                .Raw("dimension_points", PointsJson(info.dimensionPoints))
                .Raw("block_points", PointsJson(info.blockPoints))
                .Raw("block_dimension_points", PointsJson(info.blockDimensionPoints))
                .Number("block_definitions", info.blockDefinitions)
                .Number("referenced_block_definitions", info.referencedBlockDefinitions)
                .Raw("images", images)
                .Bool("unicode", info.unicode)
                .Done());
        return;
    }
    std::string upper = format;
    for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
    Out(OneLine(file));
    Out("  format: " + upper + ", version " + std::to_string(info.version));
    if (!info.memo.empty()) {
        std::u16string memo = info.memo;
        for (std::size_t p; (p = memo.find(u"\r\n")) != std::u16string::npos;) memo.replace(p, 2, u" / ");
        Out("  memo: " + OneLine(memo));
    }
    Out("  entities: " + KindsText(info.entities));
    Out("  block entities: " + KindsText(info.blockEntities));
    Out("  points: " + PointsText(info.points));
    Out("  dimension points: " + PointsText(info.dimensionPoints));
    Out("  block points: " + PointsText(info.blockPoints));
    Out("  block dimension points: " + PointsText(info.blockDimensionPoints));
    Out("  block definitions: " + std::to_string(info.blockDefinitions) + " (" +
        std::to_string(info.referencedBlockDefinitions) + " referenced)");
    if (info.images.empty()) {
        Out("  images: none");
    } else {
        for (const ImageInfo& image : info.images)
            Out("  image: " + OneLine(image.name) + " (" + std::to_string(image.size) + " bytes)");
    }
    Out(std::string("  unicode strings: ") + (info.unicode ? "yes" : "no"));
}

template <typename Header>
void PrintDos(const std::u16string& file, const char* format, const Header& h, const std::int32_t* vten, bool json) {
    const std::u16string memo = h.comment1 + u" " + h.comment2;
    if (json) {
        JsonObject entities;
        entities.Number("line", h.lineCount).Number("arc", h.arcCount).Number("point", h.tenCount).Number("text", h.mojiCount);
        if (vten) entities.Number("virtual_points", *vten);
        Out(JsonObject()
                .String("file", file)
                .String("format", std::u16string(format, format + 3))
                .Number("version", 0)
                .Bool("dos", true)
                .String("memo", memo)
                .String("comment1", h.comment1)
                .String("comment2", h.comment2)
                .Raw("entities", entities.Done())
                .Done());
        return;
    }
    std::string upper = format;
    for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
    Out(OneLine(file));
    Out("  format: " + upper + ", version DOS");
    Out("  comment1: " + OneLine(h.comment1));
    Out("  comment2: " + OneLine(h.comment2));
    std::string counts = "line " + std::to_string(h.lineCount) + ", arc " + std::to_string(h.arcCount) + ", point " +
                         std::to_string(h.tenCount) + ", text " + std::to_string(h.mojiCount);
    if (vten) counts += ", virtual point " + std::to_string(*vten);
    Out("  entities: " + counts);
}

// Reports one file; false when it cannot be read (the reason goes to
// standard error, and with --json also to standard output).
bool InfoOne(const std::u16string& path, bool nameNotText, bool json) {
    auto fail = [&](const std::string& reason) {
        if (json) Out(JsonObject().String("file", path).String("error", Utf8ToUtf16(reason)).Done());
        Err(std::string(kProgram) + ": " + OneLine(path) + ": " + reason);
        return false;
    };
    if (nameNotText) return fail("the file name is not valid UTF-8");
    const std::filesystem::path file = PathOfText(path);
    if (!FileFound(file)) return fail(FolderFound(file) ? "is a folder" : "file not found");

    TJwwData jww;
    if (jww.FileCheck(file)) {
        // Read the image section for the names and sizes, but copy nothing out.
        jww.BindImageExp = false;
        jww.BindImageExr = true;
        // Counted as it is read: the drawing's records are not kept.
        DrawingInfo info;
        if (!ReadDrawingInfo(jww, file, info)) {
            std::string reason = jww.LastError();
            return fail("cannot read the JWW drawing" + (reason.empty() ? std::string() : ": " + reason));
        }
        PrintDrawing(path, "jww", info, json);
        return true;
    }
    TJwsData jws;
    if (jws.FileCheck(file)) {
        DrawingInfo info;
        if (!ReadDrawingInfo(jws, file, info)) {
            std::string reason = jws.LastError();
            return fail("cannot read the JWS figure" + (reason.empty() ? std::string() : ": " + reason));
        }
        PrintDrawing(path, "jws", info, json);
        return true;
    }
    TJwcData jwc;
    if (jwc.FileCheck(file)) {
        if (!jwc.FileHeaderIn(file)) return fail("cannot read the JWC header (the file is too short)");
        PrintDos(path, "jwc", jwc.Enthd, &jwc.Enthd.vtenCount, json);
        return true;
    }
    TJwkData jwk;
    if (jwk.FileCheck(file)) {
        if (!jwk.FileHeaderIn(file)) return fail("cannot read the JWK header (the file is too short)");
        PrintDos(path, "jwk", jwk.Enthd, nullptr, json);
        return true;
    }
    return fail("not a Jw_cad file of a supported kind and version (JWW 220-700, JWS 230-700, JWC, JWK)");
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
    bool json = false, recursive = false, nul = false;
    std::optional<std::string> filesFrom;
    std::vector<std::string> paths;
    CommandLine line("info",
                     "Reports the kind, version, memo, entity and point counts, block definitions\n"
                     "and bound images of each Jw_cad file (JWW, JWS, JWC or JWK; the kind is\n"
                     "recognised from the contents). A folder stands for the .jww, .jws, .jwc and\n"
                     ".jwk files in it. No file is written.",
                     "PATH...", "Exit status: 0 when every file was read, 1 otherwise, 2 on bad arguments.");
    line.Flag("--json", json,
              "one JSON object per file and line (JSON Lines); a file\n"
              "that cannot be read gives {\"file\": ..., \"error\": ...}")
        .Flag("-r,--recursive", recursive, "folders include their subfolders")
        .Value("--files-from", filesFrom, "FILE", "a file (- for standard input)",
               "read more paths from FILE, one per line (- for\nstandard input)")
        .Flag("-0,--null", nul, "the list of --files-from is separated by NUL bytes")
        .VersionFlag();
    if (auto rc = line.Parse(args, paths)) return *rc;
    if (nul && !filesFrom) return UsageError("info: -0 applies to --files-from only");
    if (filesFrom) {
        std::string error;
        if (!ReadPathList(*filesFrom, nul, paths, error)) return UsageError("info: " + error);
    }
    if (paths.empty()) return UsageError("info: no file given");

    CollectOptions collect;
    collect.extensions = {u".jww", u".jws", u".jwc", u".jwk"};
    collect.recursive = recursive;
    bool allRead = true;
    for (const std::string& arg : paths) {
        std::u16string path;
        if (!ArgToText(arg, path)) {
            allRead = InfoOne(Utf8ToUtf16(arg), true, json) && allRead;
            continue;
        }
        if (!FolderFound(PathOfText(path))) {
            allRead = InfoOne(path, false, json) && allRead;
            continue;
        }
        std::vector<BatchItem> items;
        std::vector<std::string> errors;
        CollectFolder(path, collect, items, errors);
        for (const std::string& e : errors) {
            if (json) Out(JsonObject().String("file", path).String("error", Utf8ToUtf16(e)).Done());
            Err(std::string(kProgram) + ": " + e);
        }
        allRead = allRead && errors.empty();
        for (const BatchItem& item : items) {
            allRead = InfoOne(JoinShown(platform::TextFromPath(item.folder), item.name), item.nameNotText, json) && allRead;
        }
    }
    return allRead ? kExitOk : kExitFailed;
}

}  // namespace tervalo::cli
