// Real drawings made in Jw_cad: every one is read whole, written back in its
// own version and read again; the two models must agree record by record up
// to what the write rules change, and the bytes are compared with the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "model/jws_data.h"
#include "model/jww_data.h"
#include "jww_layout.h"
#include "model_compare.h"
#include "test_support.h"
#include "text/func.h"

namespace tervalo {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CorpusFiles(const std::u16string& ext) {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(test::CorpusDir())) {
        if (!e.is_regular_file()) continue;
        if (ToLowerText(test::U16(e.path().extension().string())) == ext) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Byte ranges where two buffers differ, as "start-end" (end exclusive).
std::string DiffRanges(const Bytes& a, const Bytes& b) {
    std::string s;
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    int ranges = 0;
    while (i < n && ranges < 10) {
        if (a[i] == b[i]) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < n && a[j] != b[j]) ++j;
        s += " " + std::to_string(i) + "-" + std::to_string(j);
        ++ranges;
        i = j;
    }
    if (a.size() != b.size()) s += " sizes " + std::to_string(a.size()) + "/" + std::to_string(b.size());
    return s;
}

// Makes the writer keep every block definition under its own number.
void KeepAllBlocksWithTheirNumbers(DrawingBody& body) {
    for (std::int32_t i = 0; i < body.EntBlockDefN; ++i) {
        body.EntBlockDef[i].ref_flag = true;
        body.EntBlockDef[i].ref_no = static_cast<std::int32_t>(body.EntBlockDef[i].nNumber);
    }
    body.EntBlockNum = body.EntBlockDefN;
}

TEST(CorpusRoundTrip, EveryFigureRereadsEqualAndMostBytesMatch) {
    TERVALO_REQUIRE_CORPUS();
    const auto files = CorpusFiles(u".jws");
    ASSERT_GE(files.size(), 150u);
    int identical = 0;
    std::map<std::string, int> rules;
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        const Bytes source = test::ReadFile(path);
        TJwsData first;
        ASSERT_TRUE(first.ReadFromBuffer(source)) << first.LastError();
        first.SetFileOutOption(first.MojiEncode ? 32 : 0);
        Bytes written;
        ASSERT_TRUE(first.WriteToBuffer(first.Enthd.jwVer, written)) << first.LastError();
        TJwsData second;
        ASSERT_TRUE(second.ReadFromBuffer(written)) << second.LastError();

        EXPECT_EQ(second.Enthd.jwVer, TJwsData::NormalizeVersion(first.Enthd.jwVer));
        TEntJwsHeader h1 = first.Enthd, h2 = second.Enthd;
        h1.jwVer = h2.jwVer;
        h1.n2 = h2.n2;  // unreferenced definitions are left out
        EXPECT_EQ(h1, h2);
        for (std::size_t g = 0; g < 16; ++g) EXPECT_EQ(first.EntLgrp[g], second.EntLgrp[g]);
        const auto diff = test::CompareBodies(first, first.Enthd.n1, first.Enthd.n2, second, second.Enthd.n1,
                                              second.Enthd.n2, first.Enthd.jwVer);
        EXPECT_TRUE(diff.unexplained.empty()) << diff.Summary();
        for (const auto& [rule, n] : diff.explained) rules[rule] += n;

        if (written == source) {
            ++identical;
        } else {
            ++rules["figures differing only by block numbering and unused definitions"];
            // With the output numbering made the identity and every definition
            // kept, the bytes must be the source's: nothing else differs.
            KeepAllBlocksWithTheirNumbers(first);
            Bytes unchanged;
            ASSERT_TRUE(first.WriteToBuffer(first.Enthd.jwVer, unchanged));
            EXPECT_EQ(unchanged, source) << DiffRanges(source, unchanged);
        }
    }
    std::cout << "[ corpus  ] " << identical << " of " << files.size() << " figures rewritten byte for byte\n";
    for (const auto& [rule, n] : rules) std::cout << "[ rule    ] " << rule << ": " << n << "\n";
}

TEST(CorpusRoundTrip, SampleDrawingRereadsEqual) {
    TERVALO_REQUIRE_CORPUS();
    const fs::path path = test::CorpusDir() / "sample.jww";
    const Bytes source = test::ReadFile(path);
    test::TempDir work;
    TJwwData first;
    first.BindImageFolder = work.u16() + u"/";
    first.BindImageExp = first.BindImageExr = true;
    ASSERT_TRUE(first.ReadFromBuffer(source)) << first.LastError();
    EXPECT_EQ(first.Enthd.jwVer, 700);
    EXPECT_EQ(first.EntBlockDefN, 20);
    first.SetFileOutOption(first.MojiEncode ? 32 : 0);
    Bytes written;
    ASSERT_TRUE(first.WriteToBuffer(first.Enthd.jwVer, written)) << first.LastError();
    TJwwData second;
    second.BindImageFolder = first.BindImageFolder;
    second.BindImageExp = second.BindImageExr = true;
    ASSERT_TRUE(second.ReadFromBuffer(written)) << second.LastError();
    const auto diff = test::CompareBodies(first, first.Enthd.n1, first.Enthd.n2, second, second.Enthd.n1,
                                          second.Enthd.n2, first.Enthd.jwVer);
    EXPECT_TRUE(diff.unexplained.empty()) << diff.Summary();
    std::cout << "[ rules   ] sample.jww\n" << diff.Summary();

    // Bytes: field by field through the header, then the rest as one block.
    const auto srcFields = test::JwwHeaderLayout(source);
    const auto outFields = test::JwwHeaderLayout(written);
    ASSERT_EQ(srcFields.size(), outFields.size());
    // Fields the writer substitutes, clamps or fills (anything else must be
    // written exactly as read).
    const std::vector<std::string> rewritable = {
        "reserved", "nMaxDrawWid", "aStrLayName", "aStrGLayName", "EntCol ", "print value P",
        "EntColS", "EntLtpS", "EntMoj", "current text settings"};
    std::map<std::string, std::vector<std::string>> report;  // field kind -> source ranges
    for (std::size_t i = 0; i < srcFields.size(); ++i) {
        const auto& a = srcFields[i];
        const auto& b = outFields[i];
        const bool same = a.length == b.length &&
                          std::equal(source.begin() + a.offset, source.begin() + a.offset + a.length,
                                     written.begin() + b.offset);
        if (same) continue;
        const bool allowed = std::any_of(rewritable.begin(), rewritable.end(),
                                         [&](const std::string& r) { return a.name.find(r) == 0; });
        EXPECT_TRUE(allowed) << a.name << " differs";
        const std::string kind = a.name.substr(0, a.name.find('['));
        report[kind].push_back(std::to_string(a.offset) + "-" + std::to_string(a.offset + a.length) + " -> " +
                               std::to_string(b.offset) + "-" + std::to_string(b.offset + b.length));
    }
    const std::size_t srcBody = srcFields.back().offset + srcFields.back().length;
    const std::size_t outBody = outFields.back().offset + outFields.back().length;
    EXPECT_EQ(Bytes(source.begin() + srcBody, source.end()), Bytes(written.begin() + outBody, written.end()))
        << "the entity list, block definitions and image section must be written as read";
    for (const auto& [kind, ranges] : report) {
        std::cout << "[ differs ] " << kind << ": " << ranges.size() << " field(s), source bytes";
        for (std::size_t i = 0; i < ranges.size() && i < 3; ++i) std::cout << " " << ranges[i];
        if (ranges.size() > 3) std::cout << " ... " << ranges.back();
        std::cout << "\n";
    }
    std::cout << "[ sizes   ] source " << source.size() << ", written " << written.size() << ", header "
              << srcBody << " -> " << outBody << "\n";
}

}  // namespace
}  // namespace tervalo
