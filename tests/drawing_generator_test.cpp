// The drawing generator: every version band gives a drawing that FileIn
// reads with the mix it promises, the same options give the same bytes, and
// a size asked for is about the size written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "codec/drawing_generator.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

struct Mix {
    int markerNegative = 0, markerPositive = 0, markerZero = 0, temporary = 0, real = 0;
    int sxf = 0, plainDimension = 0, ownColour = 0, nested = 0;
};

Mix MixOf(const DrawingBody& b) {
    Mix m;
    for (const TEntJwwTen& t : b.EntTen) {
        if (t.att.nPenStyle == kMarkerPenStyle) {
            const auto code = static_cast<std::int32_t>(t.nCode);
            (code < 0 ? m.markerNegative : code > 0 ? m.markerPositive : m.markerZero)++;
        } else {
            (t.bKariten ? m.temporary : m.real)++;
        }
    }
    for (const TEntJwwSunpo& s : b.EntSunpo) (s.bSxfMode ? m.sxf : m.plainDimension)++;
    for (const TEntJwwSolid& s : b.EntSolid) m.ownColour += s.att.nPenColor == 10;
    for (const TEntJwwBlockDef& d : b.EntBlockDef) m.nested += d.mBlockN > 0;
    return m;
}

template <typename Container>
void Check(const GeneratorOptions& o, const std::filesystem::path& file) {
    SCOPED_TRACE("version " + std::to_string(o.version));
    Container made;
    std::string error;
    ASSERT_TRUE(GenerateDrawing(o, made, error)) << error;
    const std::u16string path = Utf8ToUtf16(file.string());
    ASSERT_TRUE(made.FileOut(path, o.version)) << made.LastError();
    Container read;
    read.BindImageExr = true;  // images kept in memory, as conversions do
    ASSERT_TRUE(read.FileIn(path)) << read.LastError();
    EXPECT_EQ(read.Enthd.n1, static_cast<std::int32_t>(o.entities) + o.images);
    for (std::int32_t n : {read.EntLineN, read.EntEnkoN, read.EntTenN, read.EntMojiN, read.EntSunpoN, read.EntSolidN,
                           read.EntBlockN})
        EXPECT_GT(n, 0);
    const Mix m = MixOf(read);
    EXPECT_GT(m.temporary, 0);
    EXPECT_GT(m.real, 0);
    if (o.version >= 300) {
        EXPECT_TRUE(m.markerNegative && m.markerPositive && m.markerZero);
    }
    if (o.version >= 420) {
        EXPECT_TRUE(m.sxf && m.plainDimension);
    }
    if (o.version >= 230) {
        EXPECT_GT(m.ownColour, 0);
    }
    EXPECT_GT(m.nested, 1);
    EXPECT_EQ(read.EntBlockDefN, read.EntBlockNum);  // every definition is used
    EXPECT_EQ(read.MojiEncode, o.unicode);
    EXPECT_EQ(read.BindImageN, o.images);
    // What was read is written back as it was.
    read.SetFileOutOption(read.MojiEncode ? 32 : 0);
    Bytes again, first;
    ASSERT_TRUE(read.WriteToBuffer(o.version, again));
    ASSERT_TRUE(ReadWholeFile(path, first));
    EXPECT_TRUE(again == first);
}

TEST(DrawingGenerator, EveryVersionBandReadsBackWithItsMix) {
    test::TempDir dir;
    for (std::int32_t v : {220, 300, 350, 351, 419, 420, 600, 700}) {
        GeneratorOptions o;
        o.version = v;
        o.entities = 3000;
        o.seed = static_cast<std::uint64_t>(v);
        o.images = v == 700 ? 2 : 0;
        Check<TJwwData>(o, dir.path() / "d.jww");
    }
    for (std::int32_t v : {230, 351, 420, 700}) {
        GeneratorOptions o;
        o.version = v;
        o.entities = 3000;
        o.unicode = v == 420;
        Check<TJwsData>(o, dir.path() / "f.jws");
    }
}

TEST(DrawingGenerator, SameOptionsSameBytesAndTheSizeAskedFor) {
    auto bytes = [](std::uint64_t seed, std::uint64_t size) {
        GeneratorOptions o;
        o.targetBytes = size;
        o.seed = seed;
        TJwwData jww;
        std::string error;
        EXPECT_TRUE(GenerateDrawing(o, jww, error));
        Bytes out;
        EXPECT_TRUE(jww.WriteToBuffer(o.version, out));
        return out;
    };
    const Bytes a = bytes(5, 1 << 20);
    EXPECT_TRUE(a == bytes(5, 1 << 20));
    EXPECT_FALSE(a == bytes(6, 1 << 20));
    EXPECT_NEAR(static_cast<double>(a.size()), 1 << 20, 0.1 * (1 << 20));

    GeneratorOptions bad;
    bad.entities = 10;
    TJwsData jws;
    std::string error;
    for (auto [version, images] : {std::pair{229, 0}, {701, 0}, {700, 1}}) {
        bad.version = version;
        bad.images = images;
        EXPECT_FALSE(GenerateDrawing(bad, jws, error)) << version;
    }
}

}  // namespace
}  // namespace tervalo
