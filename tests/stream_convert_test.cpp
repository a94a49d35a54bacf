// The conversion that streams a drawing's own list gives exactly what the
// conversion of the whole model gives: the same bytes, report and failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/io_error.h"
#include "codec/drawing_generator.h"
#include "convert/stream_convert.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Outcome {
    bool built = false;
    ConvertReport report;
    Bytes bytes;
};

// A sink that collects the output, and fails once it holds `failAfter` bytes.
OutputSink Collect(Bytes& out, std::size_t failAfter) {
    return [&out, failAfter](std::span<const std::uint8_t> bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
        if (out.size() >= failAfter) throw IoError(kFileIoError, "cannot write: disk full");
    };
}

// Both conversions of one file, each with a fresh container as the batch sets it up.
template <typename Container, typename Whole, typename Stream>
std::pair<Outcome, Outcome> BothWays(const fs::path& file, ConvertDirection direction, const TConvertOptions& options,
                                     std::size_t failAfter, Whole whole, Stream stream) {
    const std::u16string path = Utf8ToUtf16(file.string());
    std::pair<Outcome, Outcome> both;
    for (Outcome* o : {&both.first, &both.second}) {
        Container data;
        if constexpr (std::is_same_v<Container, TJwwData>) {
            data.BindImageExp = false;
            data.BindImageExr = true;
        }
        const OutputSink sink = Collect(o->bytes, failAfter);
        o->built = o == &both.first ? whole(data, direction, path, options, sink, &o->report)
                                    : stream(data, direction, path, options, sink, &o->report);
        EXPECT_EQ(data.EntTenN + data.EntBlockN + data.EntBlockDefN, 0) << "the container is emptied";
    }
    return both;
}

std::pair<Outcome, Outcome> BothWays(const fs::path& file, ConvertDirection direction,
                                     const TConvertOptions& options = ConvertOptions,
                                     std::size_t failAfter = SIZE_MAX) {
    if (file.extension() == ".jws")
        return BothWays<TJwsData>(file, direction, options, failAfter,
                                  [](auto&&... a) { return ConvertJwsTo(a...); },
                                  [](auto&&... a) { return StreamConvertJwsTo(a...); });
    return BothWays<TJwwData>(file, direction, options, failAfter, [](auto&&... a) { return ConvertJwwTo(a...); },
                              [](auto&&... a) { return StreamConvertJwwTo(a...); });
}

void ExpectSame(const std::pair<Outcome, Outcome>& both) {
    const Outcome& whole = both.first;
    const Outcome& stream = both.second;
    EXPECT_EQ(stream.built, whole.built);
    EXPECT_EQ(stream.report.failure, whole.report.failure);
    EXPECT_EQ(stream.report.detail, whole.report.detail);
    if (whole.built) EXPECT_EQ(stream.report.changedPoints, whole.report.changedPoints);
    EXPECT_EQ(stream.bytes.size(), whole.bytes.size());
    EXPECT_TRUE(stream.bytes == whole.bytes) << "the streamed output differs";
}

// The option sets that change points and markers, for both directions.
std::vector<std::pair<ConvertDirection, TConvertOptions>> OptionSets() {
    std::vector<std::pair<ConvertDirection, TConvertOptions>> sets;
    TConvertOptions o;
    sets.push_back({ConvertDirection::ToReal, o});
    o.MakeMarker = 1;
    o.MarkerIndex = 4;
    o.MarkerScale = 2.5;
    sets.push_back({ConvertDirection::ToReal, o});
    o = TConvertOptions{};
    o.BlockContents = 0;
    o.SxfDimensions = 0;
    sets.push_back({ConvertDirection::ToReal, o});
    o = TConvertOptions{};
    sets.push_back({ConvertDirection::ToTemporary, o});
    o.ConvertMarkers = 1;
    o.ConvertMarkerEnds = 1;
    sets.push_back({ConvertDirection::ToTemporary, o});
    return sets;
}

template <typename Container>
void Generate(const GeneratorOptions& o, const fs::path& file) {
    Container made;
    std::string error;
    ASSERT_TRUE(GenerateDrawing(o, made, error)) << error;
    ASSERT_TRUE(made.FileOut(Utf8ToUtf16(file.string()), o.version)) << made.LastError();
}

TEST(StreamConvert, SameBytesAsTheWholeModelForEveryVersionBandAndOptionSet) {
    TempDir dir;
    struct Case {
        bool jws;
        std::int32_t version;
        bool unicode;
        std::int32_t images;
    };
    // Enough entities that the list is streamed in several parts.
    const std::vector<Case> cases = {
        {false, 220, false, 0}, {false, 300, false, 0}, {false, 350, false, 0}, {false, 351, false, 0},
        {false, 419, false, 0}, {false, 420, true, 0},  {false, 600, false, 0}, {false, 700, false, 2},
        {false, 700, true, 1},  {true, 230, false, 0},  {true, 300, false, 0},  {true, 351, false, 0},
        {true, 420, true, 0},   {true, 700, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.jws ? "jws " : "jww ") + std::to_string(c.version) + (c.unicode ? " unicode" : "") +
                     " images " + std::to_string(c.images));
        GeneratorOptions o;
        o.version = c.version;
        o.entities = 9000;
        o.seed = static_cast<std::uint64_t>(c.version);
        o.unicode = c.unicode;
        o.images = c.images;
        const fs::path file = dir.path() / (c.jws ? "f.jws" : "d.jww");
        if (c.jws) Generate<TJwsData>(o, file);
        else Generate<TJwwData>(o, file);
        for (const auto& [direction, options] : OptionSets()) {
            const auto both = BothWays(file, direction, options);
            ASSERT_TRUE(both.first.built) << both.first.report.detail;
            ExpectSame(both);
        }
    }
}

// A source cut short, a class name no reader knows, and an output that
// cannot be written all fail alike, with the same reason; the stream
// delivers no byte of a source it refuses.
TEST(StreamConvert, RefusesWhatTheWholeModelRefusesForTheSameReason) {
    TempDir dir;
    GeneratorOptions o;
    o.version = 700;
    o.entities = 6000;
    o.images = 1;
    const fs::path good = dir.path() / "good.jww";
    Generate<TJwwData>(o, good);
    const Bytes bytes = test::ReadFile(good);
    const fs::path bad = dir.path() / "bad.jww";
    for (const std::size_t cut : {bytes.size() / 3, bytes.size() - 40}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        test::WriteFile(bad, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        const auto both = BothWays(bad, ConvertDirection::ToReal);
        EXPECT_FALSE(both.first.built);
        EXPECT_TRUE(both.second.bytes.empty());
        ExpectSame(both);
    }
    Bytes renamed = bytes;
    const std::string name = "CDataSolid";
    auto at = std::search(renamed.begin(), renamed.end(), name.begin(), name.end());
    ASSERT_NE(at, renamed.end());
    (*at) = 'X';
    test::WriteFile(bad, renamed);
    ExpectSame(BothWays(bad, ConvertDirection::ToReal));
    // A write that fails within the list and one that fails at its end.
    for (const std::size_t failAfter : {std::size_t{300'000}, bytes.size() - 1}) {
        SCOPED_TRACE("write fails after " + std::to_string(failAfter));
        const auto both = BothWays(good, ConvertDirection::ToTemporary, ConvertOptions, failAfter);
        EXPECT_FALSE(both.first.built);
        EXPECT_EQ(both.first.report.failure, ConvertFailure::WriteFailed);
        ExpectSame(both);
    }
}

TEST(StreamConvert, CorpusGivesTheSameBytesBothWays) {
    TERVALO_REQUIRE_CORPUS();
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(test::CorpusDir())) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".jww" && ext != ".jws")) continue;
        SCOPED_TRACE(entry.path().string());
        for (const auto direction : {ConvertDirection::ToReal, ConvertDirection::ToTemporary})
            ExpectSame(BothWays(entry.path(), direction));
        ++files;
    }
    EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace tervalo
