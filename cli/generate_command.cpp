// tervalo-cli generate: writes a deterministic drawing or figure of a given
// size, for benchmarks and tests.
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "cli_common.h"
#include "codec/drawing_generator.h"
#include "model/jws_data.h"
#include "model/jww_data.h"

namespace tervalo::cli {

const char kGenerateUsage[] =
    "Usage: tervalo-cli generate --format jww|jws --version V (--size-mb M | --entities N)\n"
    "                            [--seed S] [--unicode] [--images K] -o FILE\n"
    "\n"
    "Writes a drawing (jww) or figure (jws) made of a realistic mix of every entity\n"
    "kind: lines, arcs and ellipses, temporary and real points, point markers,\n"
    "texts with Japanese strings, dimensions with and without their SXF part,\n"
    "solids with and without their own colour, and inserts of block definitions\n"
    "nested several levels deep. The same options always give the same file.\n"
    "\n"
    "  --format jww|jws   drawing or figure\n"
    "  --version V        format version, 220 to 700 (figures 230 to 700; a figure\n"
    "                     of version 300 is stored as 351)\n"
    "  --size-mb M        about M MiB (M may have a fraction)\n"
    "  --entities N       N entities in the drawing's own list (the block\n"
    "                     definitions add about 1 %)\n"
    "  --seed S           seed of the generator (default 1)\n"
    "  --unicode          strings in the Unicode forms, some with characters that\n"
    "                     code page 932 lacks\n"
    "  --images K         K bound images (drawings of version 700)\n"
    "  -o FILE            the file to write\n";

namespace {

template <typename T>
std::optional<T> ParseNumber(const std::string& s) {
    T v{};
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, v);
    if (ec != std::errc{} || p != end) return std::nullopt;
    return v;
}

std::optional<double> ParseSize(const std::string& s) {
    double v = 0;
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, v, std::chars_format::fixed);
    if (ec != std::errc{} || p != end || !(v > 0) || v > 4096) return std::nullopt;
    return v;
}

template <typename Container>
int Write(Container& c, const GeneratorOptions& o, const std::u16string& path) {
    std::string error;
    if (!GenerateDrawing(o, c, error)) return UsageError(error);
    if (!c.FileOut(path, o.version)) {
        Err(std::string(kProgram) + ": cannot write " + ToUtf8(path) + ": " + c.LastError());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int RunGenerate(const std::vector<std::string>& args) {
    GeneratorOptions o;
    std::optional<std::string> format;
    std::optional<std::u16string> output;
    bool versionGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            Out(std::string(kGenerateUsage));
            return kExitOk;
        }
        if (a == "--unicode") {
            o.unicode = true;
            continue;
        }
        if (a != "--format" && a != "--version" && a != "--size-mb" && a != "--entities" && a != "--seed" &&
            a != "--images" && a != "-o" && a != "--output")
            return UsageError("unknown option '" + a + "'");
        if (i + 1 >= args.size()) return UsageError("option '" + a + "' needs a value");
        const std::string& v = args[++i];
        if (a == "--format") {
            if (v != "jww" && v != "jws") return UsageError("--format must be jww or jws");
            format = v;
        } else if (a == "--version") {
            auto n = ParseNumber<std::int32_t>(v);
            if (!n) return UsageError("--version needs a number");
            o.version = *n;
            versionGiven = true;
        } else if (a == "--size-mb") {
            auto m = ParseSize(v);
            if (!m) return UsageError("--size-mb needs a size above 0 and at most 4096");
            o.targetBytes = static_cast<std::uint64_t>(std::llround(*m * 1048576.0));
        } else if (a == "--entities") {
            auto n = ParseNumber<std::uint64_t>(v);
            if (!n || *n == 0) return UsageError("--entities needs a number above 0");
            o.entities = *n;
        } else if (a == "--seed") {
            auto n = ParseNumber<std::uint64_t>(v);
            if (!n) return UsageError("--seed needs a number");
            o.seed = *n;
        } else if (a == "--images") {
            auto n = ParseNumber<std::int32_t>(v);
            if (!n || *n < 0) return UsageError("--images needs a number");
            o.images = *n;
        } else {
            std::u16string text;
            if (!ArgToText(v, text)) return UsageError("the output name is not UTF-8");
            output = text;
        }
    }
    if (!format) return UsageError("--format is required");
    if (!versionGiven) return UsageError("--version is required");
    if ((o.targetBytes == 0) == (o.entities == 0)) return UsageError("give one of --size-mb and --entities");
    if (!output) return UsageError("-o FILE is required");
    if (*format == "jww") {
        TJwwData jww;
        return Write(jww, o, *output);
    }
    TJwsData jws;
    return Write(jws, o, *output);
}

}  // namespace tervalo::cli
