// Drawings at scale: counts and class tags in their long forms, a million
// entities converted, counted and drawn within their memory bounds, deep and
// wide block nesting.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "child_process.h"
#include "codec/drawing_generator.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

namespace fs = std::filesystem;

TEntJwwLine Line(double x) {
    TEntJwwLine l;
    l.att.nPenStyle = l.att.nPenColor = 1;
    l.start_x = x;
    l.end_y = 1;
    return l;
}

TEntJwwTen Point(double x, bool temporary) {
    TEntJwwTen t;
    t.att.nPenStyle = t.att.nPenColor = 1;
    t.start_x = x;
    t.bKariten = temporary;
    t.dBairitsu = 1;
    return t;
}

template <typename T>
void Add(TJwsData& f, std::vector<T>& list, std::int32_t& n, std::int32_t kind, T record) {
    f.EntNo.push_back({kind, static_cast<std::int32_t>(list.size())});
    list.push_back(record);
    n = static_cast<std::int32_t>(list.size());
    f.Enthd.n1 = static_cast<std::int32_t>(f.EntNo.size());
}

bool Contains(const Bytes& in, const Bytes& part) {
    return std::search(in.begin(), in.end(), part.begin(), part.end()) != in.end();
}

// 70 000 lines and then points: the entity count takes its long form, and
// the point class, introduced after object 32 767, is referred to by long tags.
TEST(Scale, LongCountsAndLongClassTags) {
    TJwsData f;
    f.Enthd.jwVer = 700;
    constexpr std::int32_t kLines = 70000;
    for (std::int32_t i = 0; i < kLines; ++i) Add(f, f.EntLine, f.EntLineN, kKindLine, Line(i));
    for (std::int32_t i = 0; i < 3; ++i) Add(f, f.EntTen, f.EntTenN, kKindTen, Point(i + 0.5, i == 1));
    Bytes out;
    ASSERT_TRUE(f.WriteToBuffer(700, out));
    // Count 70 003 as FF FF and a 32-bit count, right after the header.
    const std::uint32_t n = kLines + 3;
    EXPECT_TRUE(std::equal(out.begin() + 452, out.begin() + 458,
                           Bytes{0xFF, 0xFF, std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(n >> 16), 0}.begin()));
    // Lines: class 1 and objects 2 .. 70 001; the point class takes index 70 002.
    const std::uint32_t tag = (kLines + 2) | 0x80000000u;
    EXPECT_TRUE(Contains(out, {0xFF, 0x7F, std::uint8_t(tag), std::uint8_t(tag >> 8), std::uint8_t(tag >> 16),
                               std::uint8_t(tag >> 24)}));
    TJwsData back;
    ASSERT_TRUE(back.ReadFromBuffer(out)) << back.LastError();
    ASSERT_EQ(back.EntLineN, kLines);
    ASSERT_EQ(back.EntTenN, 3);
    EXPECT_EQ(back.EntTen, f.EntTen);
    EXPECT_EQ(back.EntLine.back(), f.EntLine.back());
}

// Definition k inserts definition k - 1, 400 levels deep; one more inserts
// the first 5 000 times. All are used and written, and numbered in order.
TEST(Scale, DeepAndWideBlockNesting) {
    TJwsData f;
    f.Enthd.jwVer = 600;
    constexpr std::uint32_t kDeep = 400, kWide = 5000;
    f.EntBlockDef.resize(kDeep + 1);
    for (std::uint32_t k = 0; k <= kDeep; ++k) {
        TEntJwwBlockDef& d = f.EntBlockDef[k];
        d.nNumber = 1000 + k;
        d.strName = u"def" + Utf8ToUtf16(std::to_string(k));
        auto insert = [&d](std::uint32_t number) {
            TEntJwwBlock b;
            b.nNumber = number;
            b.dBairitsuX = b.dBairitsuY = 1;
            d.mNo.push_back({kKindBlock, static_cast<std::int32_t>(d.mBlock.size())});
            d.mBlock.push_back(b);
        };
        if (k == 0) {
            d.mNo.push_back({kKindTen, 0});
            d.mTen.push_back(Point(1, true));
        } else if (k < kDeep) {
            insert(1000 + k - 1);
        } else {
            for (std::uint32_t i = 0; i < kWide; ++i) insert(1000);
        }
        d.N = static_cast<std::int32_t>(d.mNo.size());
        d.mTenN = static_cast<std::int32_t>(d.mTen.size());
        d.mBlockN = static_cast<std::int32_t>(d.mBlock.size());
    }
    f.EntBlockDefN = kDeep + 1;
    f.Enthd.n2 = f.EntBlockDefN;
    TEntJwwBlock top;
    top.nNumber = 1000 + kDeep - 1;
    Add(f, f.EntBlock, f.EntBlockN, kKindBlock, top);
    top.nNumber = 1000 + kDeep;
    Add(f, f.EntBlock, f.EntBlockN, kKindBlock, top);
    f.MarkBlockReferences();
    ASSERT_EQ(f.EntBlockNum, static_cast<std::int32_t>(kDeep + 1));

    Bytes out;
    ASSERT_TRUE(f.WriteToBuffer(600, out));
    TJwsData back;
    ASSERT_TRUE(back.ReadFromBuffer(out)) << back.LastError();
    ASSERT_EQ(back.EntBlockDefN, static_cast<std::int32_t>(kDeep + 1));
    EXPECT_EQ(back.EntBlockNum, back.EntBlockDefN);
    for (std::uint32_t k = 1; k < kDeep; ++k) EXPECT_EQ(back.EntBlockDef[k].mBlock[0].nNumber, k - 1);
    EXPECT_EQ(back.EntBlockDef[kDeep].mBlockN, static_cast<std::int32_t>(kWide));
    back.MakeBlockTree();
    // Every level of the chain, and the wide one with its inserts.
    EXPECT_EQ(back.EntBlockTreeN, static_cast<std::int32_t>(kDeep + 1 + kWide));
}

#ifndef _WIN32  // the peak memory of a child process is read with wait4
// The peak resident memory of a child process (its standard output
// discarded), or -1.
long RunAndMeasureKiB(const std::vector<std::string>& args) {
    // Its standard output is of no interest here.
    const test::ProcessEnd end = test::WaitProcess(test::StartProcess(args, "/dev/null"));
    return end.exitCode == 0 ? end.peakKiB : -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A drawing of a million entities is converted (its list read a part at a
// time and written straight into the new file) within half its size;
// `info` counts it within a fifth of its size (its records are not kept), and
// its SVG is written within twice the SVG's size (written as it is made).
TEST(Scale, MillionEntitiesConvertWithinTheMemoryBound) {
    test::TempDir dir;
    const fs::path src = dir.path() / "million.jww", out = dir.path() / "out";
    fs::create_directory(out);
    ASSERT_GE(RunAndMeasureKiB({TERVALO_CLI_PATH, "generate", "--format", "jww", "--version", "700", "--entities",
                                "1000000", "-o", src.string()}),
              0);
    const auto size = fs::file_size(src);
    const long peak = RunAndMeasureKiB({TERVALO_CLI_PATH, "convert", "--to-real", "-q", "-o", out.string(), src.string()});
    ASSERT_GE(peak, 0);
    const long infoPeak = RunAndMeasureKiB({TERVALO_CLI_PATH, "info", src.string()});
    const fs::path svg = dir.path() / "million.svg";
    const long svgPeak = RunAndMeasureKiB({TERVALO_CLI_PATH, "render", src.string(), "-o", svg.string()});
    ASSERT_GE(infoPeak, 0);
    ASSERT_GE(svgPeak, 0);
    const auto svgSize = fs::file_size(svg);
    fs::remove(svg);
    const long inherited = RunAndMeasureKiB({"/bin/sh", "-c", ":"});  // see below
    ASSERT_TRUE(fs::exists(out / "million.jww"));
    // Only temporary-point flags changed (01 00 00 00 became 00 00 00 00).
    Bytes before, after;
    ASSERT_TRUE(ReadWholeFile(Utf8ToUtf16(src.string()), before));
    ASSERT_TRUE(ReadWholeFile(Utf8ToUtf16((out / "million.jww").string()), after));
    ASSERT_EQ(after.size(), before.size());
    std::size_t changed = 0, other = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] == after[i]) continue;
        (before[i] == 1 && after[i] == 0 ? changed : other)++;
    }
    EXPECT_GT(changed, 10000u);
    EXPECT_EQ(other, 0u);
    // Sanitizers keep shadow memory and quarantines of their own. A child's
    // peak counts the memory of this process at the spawn (Linux accounts
    // the address space an exec replaces), so the peak only says something
    // when a trivial child's is small: run alone (as CTest runs each test),
    // it is.
    if (kSanitized) return;
    if (inherited * 1024.0 > 0.5 * static_cast<double>(size))
        GTEST_SKIP() << "this test process holds " << inherited << " KiB, which a child's peak would include; run the test alone";
    EXPECT_LE(peak * 1024.0, 0.5 * static_cast<double>(size)) << peak << " KiB for " << size << " bytes";
    EXPECT_LE(infoPeak * 1024.0, 0.2 * static_cast<double>(size)) << infoPeak << " KiB for " << size << " bytes";
    EXPECT_LE(svgPeak * 1024.0, 2.0 * static_cast<double>(svgSize)) << svgPeak << " KiB for an SVG of " << svgSize << " bytes";
}
#endif

}  // namespace
}  // namespace tervalo
