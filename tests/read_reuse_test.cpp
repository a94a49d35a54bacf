// One container (and one source buffer) serving file after file, as a batch
// uses them: the room kept from one drawing never shows in the next, and a
// read for the counts only gives the counts of a whole read without keeping
// the drawing's own records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/drawing_generator.h"
#include "convert/drawing_info.h"
#include "convert/file_convert.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

template <typename Container>
std::u16string Generate(const test::TempDir& dir, const std::string& name, std::int32_t version,
                        std::uint64_t entities, std::uint64_t seed) {
    GeneratorOptions o;
    o.version = version;
    o.entities = entities;
    o.seed = seed;
    o.images = version == 700 && std::is_same_v<Container, TJwwData> ? 1 : 0;
    Container made;
    std::string error;
    EXPECT_TRUE(GenerateDrawing(o, made, error)) << error;
    const std::u16string path = dir.file(name);
    EXPECT_TRUE(made.FileOut(path, version)) << made.LastError();
    return path;
}

void ExpectSameInfo(const DrawingInfo& a, const DrawingInfo& b) {
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.memo, b.memo);
    EXPECT_EQ(a.entities, b.entities);
    EXPECT_EQ(a.blockEntities, b.blockEntities);
    EXPECT_EQ(a.points, b.points);
    EXPECT_EQ(a.dimensionPoints, b.dimensionPoints);
    EXPECT_EQ(a.blockPoints, b.blockPoints);
    EXPECT_EQ(a.blockDimensionPoints, b.blockDimensionPoints);
    EXPECT_EQ(a.blockDefinitions, b.blockDefinitions);
    EXPECT_EQ(a.referencedBlockDefinitions, b.referencedBlockDefinitions);
    ASSERT_EQ(a.images.size(), b.images.size());
    for (std::size_t i = 0; i < a.images.size(); ++i) {
        EXPECT_EQ(a.images[i].name, b.images[i].name);
        EXPECT_EQ(a.images[i].size, b.images[i].size);
    }
    EXPECT_EQ(a.unicode, b.unicode);
}

// Versions before and after the SXF part of dimensions and the marker
// fields; the counting container held a larger drawing just before.
TEST(ReadReuse, CountedReadGivesTheCountsOfAWholeReadAndKeepsNoOwnRecords) {
    test::TempDir dir;
    const std::u16string larger = Generate<TJwwData>(dir, "larger.jww", 700, 9000, 99);
    TJwwData counting;
    counting.BindImageExr = true;
    ASSERT_TRUE(counting.FileIn(larger));
    for (std::int32_t v : {220, 351, 419, 420, 700}) {
        SCOPED_TRACE("jww " + std::to_string(v));
        const std::u16string path = Generate<TJwwData>(dir, "d.jww", v, 6000, static_cast<std::uint64_t>(v));
        TJwwData whole;
        whole.BindImageExr = true;
        ASSERT_TRUE(whole.FileIn(path)) << whole.LastError();
        DrawingInfo counted;
        ASSERT_TRUE(ReadDrawingInfo(counting, path, counted)) << counting.LastError();
        ExpectSameInfo(counted, CollectDrawingInfo(whole));
        EXPECT_TRUE(counting.EntLine.empty() && counting.EntTen.empty() && counting.EntMoji.empty() &&
                    counting.EntSunpo.empty() && counting.EntNo.empty());
        EXPECT_GT(counting.EntBlockN, 0);  // the inserts stay: they decide the referenced definitions
    }
    for (std::int32_t v : {230, 420}) {
        SCOPED_TRACE("jws " + std::to_string(v));
        const std::u16string path = Generate<TJwsData>(dir, "f.jws", v, 5000, 7);
        TJwsData whole, counting;
        ASSERT_TRUE(whole.FileIn(path));
        DrawingInfo counted;
        ASSERT_TRUE(ReadDrawingInfo(counting, path, counted));
        ExpectSameInfo(counted, CollectDrawingInfo(whole));
        EXPECT_TRUE(counting.EntLine.empty());
    }
    DrawingInfo none;
    EXPECT_FALSE(ReadDrawingInfo(counting, dir.file("missing.jww"), none));
}

// Drawings larger, smaller and larger again through one container and one
// source, both ways: each output is the one a fresh container and source
// give. The room stays between the files, and a list above the bound gives
// its room back.
TEST(ReadReuse, OneContainerAndSourceForManyFilesWriteWhatFreshOnesWrite) {
    test::TempDir dir;
    const std::vector<std::u16string> files = {
        Generate<TJwwData>(dir, "a.jww", 700, 20000, 1), Generate<TJwwData>(dir, "b.jww", 420, 3000, 2),
        Generate<TJwwData>(dir, "c.jww", 700, 26000, 3), Generate<TJwwData>(dir, "d.jww", 351, 8000, 4)};
    auto convert = [](TJwwData& jww, SourceFile& source, const std::u16string& path, ConvertDirection d) {
        Bytes out;
        EXPECT_TRUE(source.Read(path));
        const OutputSink sink = [&](std::span<const std::uint8_t> b) { out.insert(out.end(), b.begin(), b.end()); };
        ConvertReport report;
        EXPECT_TRUE(ConvertJwwTo(jww, d, source, TConvertOptions{}, sink, &report)) << report.detail;
        return out;
    };
    TJwwData shared;
    shared.BindImageExp = false;
    shared.BindImageExr = true;
    SourceFile source(SourceFile::kBatchRoom);
    for (const ConvertDirection d : {ConvertDirection::ToTemporary, ConvertDirection::ToReal}) {
        for (const std::u16string& f : files) {
            TJwwData fresh;
            fresh.BindImageExp = false;
            fresh.BindImageExr = true;
            SourceFile once;
            const Bytes expected = convert(fresh, once, f, d);
            ASSERT_FALSE(expected.empty());
            EXPECT_TRUE(convert(shared, source, f, d) == expected);
            EXPECT_GT(shared.EntLine.capacity(), 0u);  // kept for the next file
        }
    }
    shared.EntLine.reserve(DrawingBody::kKeptListBytes / sizeof(TEntJwwLine) + 1);
    shared.DataFree();
    EXPECT_EQ(shared.EntLine.capacity(), 0u);
}

}  // namespace
}  // namespace tervalo
