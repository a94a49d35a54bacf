// tervalo-cli render: draws one drawing or figure and its points as an SVG
// picture, optionally as a conversion would write it, with the changed
// points highlighted. The drawing itself is never written.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "arguments.h"
#include "cli_common.h"
#include "convert/convert_options.h"
#include "convert/point_rules.h"
#include "fs/fsutil.h"
#include "fs/platform.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "render/raster.h"
#include "render/render.h"
#include "render/svg.h"
#include "sources.h"

namespace tervalo::cli {

namespace {

bool ParseSize(const std::string& v, int& w, int& h) {
    const auto x = v.find_first_of("xX");
    if (x == std::string::npos) return false;
    auto num = [](const char* b, const char* e, int& out) {
        const auto r = std::from_chars(b, e, out);
        return r.ec == std::errc() && r.ptr == e && out >= 16 && out <= 20000;
    };
    return num(v.data(), v.data() + x, w) && num(v.data() + x + 1, v.data() + v.size(), h);
}

// ".svg" or ".png" (any case), or empty for another name.
std::u16string PictureExt(const std::u16string& path) {
    if (path.size() < 4) return {};
    std::u16string ext = path.substr(path.size() - 4);
    for (char16_t& c : ext)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return ext == u".svg" || ext == u".png" ? ext : std::u16string();
}

}  // namespace

int RunRender(const std::vector<std::string>& args) {
    std::optional<std::string> input, output, size, marker, scaleText;
    render::SvgOptions svg;
    bool verbose = false, after = false, markers = false, markerEnds = false, noDimensions = false, noBlocks = false;
    bool toReal = false, toTemporary = false;
    std::optional<int> direction, markerIndex;
    std::optional<double> scale;
    CommandLine line("render",
                     "Draws a Jw_cad drawing (.jww) or figure (.jws) as an SVG picture fitted to\n"
                     "the drawing, on white paper, with block inserts drawn through their\n"
                     "definitions; a name ending in .png gives a PNG image instead. Temporary\n"
                     "points, real points and point markers are drawn apart (see the legend in\n"
                     "the SVG); every point element of the SVG has the class \"point\" and one of\n"
                     "\"temporary\", \"real\", \"marker\", and \"in-block\" inside an insert.",
                     "FILE -o OUT.svg|OUT.png",
                     "Exit status: 0 when the picture was written, 1 otherwise, 2 on bad arguments.");
    line.Value("-o,--output", output, "OUT", "a file", "the .svg or .png to write (replaced only when\ncomplete)")
        .Value("--size", size, "WxH", "WxH", "picture size in pixels (default 1600x1200)")
        .Flag("--after", after,
              "draw the drawing as the conversion below would\n"
              "write it, the changed points highlighted; needs\n"
              "--to-real or --to-temporary")
        .Flag("-v,--verbose", verbose,
              "print the time of each step (read, primitives,\n"
              "picture, write) on standard error")
        .Group("Conversion, with --after (as in 'convert')")
        .Flag("--to-real", toReal, "temporary points become real points")
        .Flag("--to-temporary", toTemporary, "real points become temporary points")
        .Value("--marker", marker, "GLYPH", "a glyph", "to real points: converted points become point markers")
        .Value("--scale", scaleText, "S", "a number", "to real points: display scale of new point markers")
        .Flag("--markers", markers, "to temporary points: also point markers")
        .Flag("--marker-ends", markerEnds, "to temporary points: also marker end points")
        .Flag("--no-dimensions", noDimensions, "leave the points of dimensions alone")
        .Flag("--no-blocks", noBlocks, "leave the points inside block definitions alone")
        .Group("Options")
        .VersionFlag();
    std::vector<std::string> operands;
    if (auto rc = line.Parse(args, operands)) return *rc;
    if (operands.size() > 1) return UsageError("render: one drawing at a time");
    if (!operands.empty()) input = operands[0];
    if (size && !ParseSize(*size, svg.width, svg.height))
        return UsageError("render: --size takes WxH, each 16 to 20000 pixels");
    if (toReal && toTemporary) return UsageError("render: give one of --to-real and --to-temporary");
    if (toReal || toTemporary) direction = toReal ? 0 : 1;
    if (marker && !(markerIndex = ParseMarker(*marker)))
        return UsageError("render: --marker takes *, o, ., +, square, triangle, x or an index 0 to 6");
    if (scaleText && !(scale = ParseScale(*scaleText)))
        return UsageError("render: --scale must be a number above 0 and at most 1e8");
    if (!input) return UsageError("render: no drawing given");
    if (!output) return UsageError("render: no output given (-o OUT.svg)");
    if (after != direction.has_value()) return UsageError("render: --after needs --to-real or --to-temporary, and they need --after");
    if (!after && (markerIndex || scale || markers || markerEnds || noDimensions || noBlocks))
        return UsageError("render: conversion options need --after");
    if (direction && *direction == 1 && (markerIndex || scale))
        return UsageError("render: --marker and --scale apply to --to-real only");
    if (direction && *direction == 0 && (markers || markerEnds))
        return UsageError("render: --markers and --marker-ends apply to --to-temporary only");
    if (scale && !markerIndex) return UsageError("render: --scale needs --marker");

    std::u16string in, out;
    if (!ArgToText(*input, in)) return UsageError("render: the drawing's name is not valid UTF-8");
    if (!ArgToText(*output, out)) return UsageError("render: the output name is not valid UTF-8");
    const std::u16string ext = PictureExt(out);
    if (ext.empty()) return UsageError("render: the output must be an .svg or .png file");

    TConvertOptions options;
    options.Direction = direction.value_or(0);
    options.MakeMarker = markerIndex ? 1 : 0;
    options.MarkerIndex = markerIndex.value_or(0);
    if (scale) options.MarkerScale = *scale;
    options.ConvertMarkers = markers ? 1 : 0;
    options.ConvertMarkerEnds = markerEnds ? 1 : 0;
    options.SxfDimensions = noDimensions ? 0 : 1;
    options.BlockContents = noBlocks ? 0 : 1;

    auto fail = [&](const std::string& reason) {
        Err(std::string(kProgram) + ": " + OneLine(in) + ": " + reason);
        return kExitFailed;
    };
    using Clock = std::chrono::steady_clock;
    Clock::time_point mark = Clock::now();
    // The time since the last step, on standard error with -v.
    auto step = [&](const char* what) {
        const Clock::time_point now = Clock::now();
        if (verbose) {
            char line[96];
            std::snprintf(line, sizeof line, "%s: %.1f ms", what,
                          std::chrono::duration<double, std::milli>(now - mark).count());
            Err(std::string(kProgram) + ": " + line);
        }
        mark = now;
    };
    // Draws the container, and with --after again once converted in memory.
    auto draw = [&](auto& drawing) -> int {
        step("read");
        const std::int32_t ver = drawing.Enthd.jwVer;
        render::Scene before = render::Render(drawing);
        std::vector<bool> changed;
        render::Scene scene;
        if (after) {
            if (options.Direction == 0) ConvertPointsToReal(drawing, ver, options);
            else ConvertPointsToTemporary(drawing, ver, options);
            scene = render::Render(drawing);
            changed = render::ChangedPoints(before, scene);
            svg.changed = &changed;
        } else {
            scene = std::move(before);
        }
        step(after ? "primitives, converted, primitives again" : "primitives");
        svg.title = in;
        if (ext == u".png") {
            const std::vector<std::uint8_t> bytes =
                render::EncodePng(render::Rasterize(scene, svg.width, svg.height, svg.changed));
            step("PNG");
            if (!WriteWholeFile(PathOfText(out), bytes)) return fail("cannot write " + ToUtf8(out) + ": " + LastSystemErrorText());
            step("write");
        } else {
            // Written into the new file piece by piece as it is made (the SVG
            // of a large drawing is about twice the drawing's size), and put
            // in place once complete.
            std::filesystem::path path;
            platform::PendingFile file;
            std::error_code ec;
            if (!platform::PathFromText(out, path)) ec = std::make_error_code(std::errc::invalid_argument);
            // A stop while it is written removes the unfinished file.
            platform::RemovePendingFilesOnSignals();
            if (!ec) ec = file.Open(path);
            if (!ec) {
                render::WriteSvg(scene, svg, [&](std::string_view piece) {
                    if (!ec) ec = file.Write({reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()});
                });
            }
            if (!ec) ec = file.Finish();
            if (!ec) ec = file.Commit();
            if (ec) return fail("cannot write " + ToUtf8(out) + ": " + platform::ErrorText(ec));
            step("SVG, written");
        }
        if (scene.truncated) Err(std::string(kProgram) + ": " + OneLine(in) +
                                 ": block inserts nested too deep or too many to draw; some are drawn as the outline of their block");
        return kExitOk;
    };

    const std::filesystem::path file = PathOfText(in);
    if (!FileFound(file)) return fail(FolderFound(file) ? "is a folder" : "file not found");
    TJwwData jww;
    if (jww.FileCheck(file)) {
        jww.BindImageExp = false;  // copy no images out
        jww.BindImageExr = true;
        if (!jww.FileIn(file)) return fail("cannot read the JWW drawing: " + jww.LastError());
        return draw(jww);
    }
    TJwsData jws;
    if (jws.FileCheck(file)) {
        if (!jws.FileIn(file)) return fail("cannot read the JWS figure: " + jws.LastError());
        return draw(jws);
    }
    return fail("not a JWW drawing or JWS figure of a supported version");
}

}  // namespace tervalo::cli
