// tervalo-cli generate: writes a deterministic drawing or figure of a given
// size, for benchmarks and tests.
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "cli_common.h"
#include "codec/drawing_generator.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "model/jww_data.h"

namespace tervalo::cli {

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
    if (!c.FileOut(PathOfText(path), o.version)) {
        Err(std::string(kProgram) + ": cannot write " + ToUtf8(path) + ": " + c.LastError());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int RunGenerate(const std::vector<std::string>& args) {
    GeneratorOptions o;
    std::optional<std::string> format, version, sizeMb, entities, seed, images, outputName;
    std::optional<std::u16string> output;
    CommandLine line("generate",
                     "Writes a drawing (jww) or figure (jws) made of a realistic mix of every entity\n"
                     "kind: lines, arcs and ellipses, temporary and real points, point markers,\n"
                     "texts with Japanese strings, dimensions with and without their SXF part,\n"
                     "solids with and without their own colour, and inserts of block definitions\n"
                     "nested several levels deep. The same options always give the same file.\n"
                     "--format, --format-version, one of --size-mb and --entities, and -o are\n"
                     "required.",
                     "-o FILE", "Exit status: 0 when the file was written, 1 otherwise, 2 on bad arguments.");
    line.Value("--format", format, "jww|jws", "jww or jws", "drawing or figure")
        .Value("--format-version,--version", version, "V", "a number",
               "format version, 220 to 700 (figures 230 to 700; a\n"
               "figure of version 300 is stored as 351)")
        .Value("--size-mb", sizeMb, "M", "a size", "about M MiB (M may have a fraction)")
        .Value("--entities", entities, "N", "a number",
               "N entities in the drawing's own list (the block\n"
               "definitions add about 1 %)")
        .Value("--seed", seed, "S", "a number", "seed of the generator (default 1)")
        .Flag("--unicode", o.unicode,
              "strings in the Unicode forms, some with characters\n"
              "that code page 932 lacks")
        .Value("--images", images, "K", "a number", "K bound images (drawings of version 700)")
        .Value("-o,--output", outputName, "FILE", "a file", "the file to write");
    std::vector<std::string> operands;
    if (auto rc = line.Parse(args, operands)) return *rc;
    if (!operands.empty()) return UsageError("generate: unexpected argument '" + operands[0] + "'");
    if (format && *format != "jww" && *format != "jws") return UsageError("--format must be jww or jws");
    if (version) {
        auto n = ParseNumber<std::int32_t>(*version);
        if (!n) return UsageError("--format-version needs a number");
        o.version = *n;
    }
    if (sizeMb) {
        auto m = ParseSize(*sizeMb);
        if (!m) return UsageError("--size-mb needs a size above 0 and at most 4096");
        o.targetBytes = static_cast<std::uint64_t>(std::llround(*m * 1048576.0));
    }
    if (entities) {
        auto n = ParseNumber<std::uint64_t>(*entities);
        if (!n || *n == 0) return UsageError("--entities needs a number above 0");
        o.entities = *n;
    }
    if (seed) {
        auto n = ParseNumber<std::uint64_t>(*seed);
        if (!n) return UsageError("--seed needs a number");
        o.seed = *n;
    }
    if (images) {
        auto n = ParseNumber<std::int32_t>(*images);
        if (!n || *n < 0) return UsageError("--images needs a number");
        o.images = *n;
    }
    if (outputName) {
        std::u16string text;
        if (!ArgToText(*outputName, text)) return UsageError("the output name is not UTF-8");
        output = text;
    }
    if (!format) return UsageError("--format is required");
    if (!version) return UsageError("--format-version is required");
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
