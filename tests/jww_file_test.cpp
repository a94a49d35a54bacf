// Whole JWW drawings: FileIn and FileOut, what a failure leaves behind, and a
// real drawing read and written back.
#include <gtest/gtest.h>

#include <cstdlib>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "fs/fsutil.h"
#include "fs/platform.h"
#include "text/encoding.h"
#include "jww_builder.h"
#include "model/jww_data.h"
#include "test_support.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TERVALO_CLANG_ASAN 1
#endif
#endif
#ifndef TERVALO_CLANG_ASAN
#define TERVALO_CLANG_ASAN 0
#endif

namespace tervalo {
namespace {

using test::BuildJww;
using test::ByteBuilder;
using test::JwwBodyBuilder;
using test::JwwImageSectionBuilder;
using test::TempDir;

const Bytes kPicture{'B', 'M', 1, 2, 3};

// A version 700 drawing with one entity of most kinds, a block definition used
// by the insert, and one bound image referred to by the text. Every value is
// one the writer keeps, so the drawing is written back byte for byte.
Bytes SmallDrawing() {
    JwwBodyBuilder body(700);
    body.line(0, 0, 10, 5).point(3, 4, true).text("^@BM%temp%pic.bmp,1,2").block(20, 30, 0);
    body.def(0, "B1").line(1, 1, 2, 2).point(0.5, 0.5);
    return test::BuildJwwFrom(test::BuildRoundTripJwwHeader(700), 700, body.build(),
                              JwwImageSectionBuilder().entry("pic.bmp", kPicture).build());
}

// Offset of the first byte where the two differ (the shorter size when one is
// a prefix of the other, the size when they are equal).
std::size_t FirstDifference(const Bytes& a, const Bytes& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return i;
    return a.size() == b.size() ? a.size() : n;
}

// A container that copies images out into its own folder.
struct ImageJww {
    TempDir dir;
    TJwwData jww;
    ImageJww() {
        jww.BindImageFolder = dir.u16() + u"/";
        jww.BindImageExp = true;
        jww.BindImageExr = true;
    }
    std::size_t filesInFolder() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir.path()),
                                                      std::filesystem::directory_iterator{}));
    }
};

TEST(JwwFile, SmallDrawingIsReadWholeAndWrittenBackByteForByte) {
    ImageJww t;
    const Bytes bytes = SmallDrawing();
    test::WriteFile(t.dir.path() / "in.jww", bytes);
    ASSERT_TRUE(t.jww.FileIn(t.dir.file("in.jww"))) << t.jww.LastError();
    const TJwwData& j = t.jww;
    EXPECT_EQ(j.Enthd.jwVer, 700);
    EXPECT_EQ(j.Enthd.n1, 4);
    EXPECT_EQ(j.Enthd.n2, 1);
    EXPECT_EQ(j.EntLineN, 1);
    EXPECT_EQ(j.EntTenN, 1);
    EXPECT_EQ(j.EntMojiN, 1);
    EXPECT_EQ(j.EntBlockN, 1);
    ASSERT_EQ(j.EntBlockDefN, 1);
    EXPECT_EQ(j.EntBlockDef[0].mLineN, 1);
    EXPECT_EQ(j.EntBlockDef[0].mTenN, 1);
    EXPECT_EQ(j.EntTen[0].bKariten, 1u);
    // Reading decides the referenced definitions; the tree waits for MakeBlockTree.
    EXPECT_EQ(j.EntBlockTreeN, 0);
    EXPECT_EQ(j.EntBlockNum, 1);
    EXPECT_TRUE(j.EntBlockDef[0].ref_flag);
    ASSERT_EQ(j.BindImageN, 1);
    EXPECT_EQ(j.BindImage[0].Fname, u"pic.bmp");
    EXPECT_EQ(j.BindImage[0].Fsize, 5);
    EXPECT_EQ(test::ReadFile(t.dir.path() / "pic.bmp"), kPicture);

    ASSERT_TRUE(t.jww.FileOut(t.dir.file("out.jww"), 700)) << t.jww.LastError();
    const Bytes out = test::ReadFile(t.dir.path() / "out.jww");
    EXPECT_EQ(out.size(), bytes.size());
    EXPECT_EQ(FirstDifference(out, bytes), out.size());
    Bytes mem;
    ASSERT_TRUE(t.jww.WriteToBuffer(700, mem));
    EXPECT_EQ(mem, out);
}

TEST(JwwFile, MissingFileGivesAnEmptyContainer) {
    TempDir dir;
    TJwwData jww;
    ASSERT_TRUE(jww.ReadFromBuffer(BuildJww(600)));
    EXPECT_FALSE(jww.FileIn(dir.file("missing.jww")));
    EXPECT_EQ(jww.Enthd.jwVer, 0);
    EXPECT_TRUE(jww.EntLay.empty());
#ifdef _WIN32
    EXPECT_EQ(jww.LastError(), "cannot open file: " + platform::ErrorText({2, std::system_category()}));  // ERROR_FILE_NOT_FOUND
#else
    EXPECT_EQ(jww.LastError(), "cannot open file: No such file or directory");
#endif
    EXPECT_FALSE(jww.FileIn(dir.u16()));  // a folder
}

TEST(JwwFile, HeaderFailuresBuildNoBlockTree) {
    Bytes badSig = SmallDrawing();
    badSig[0] = 'X';
    Bytes v701 = SmallDrawing();
    v701[8] = 0xBD;  // 701
    for (const Bytes& b : {badSig, v701}) {
        TJwwData jww;
        EXPECT_FALSE(jww.ReadFromBuffer(b));
        EXPECT_EQ(jww.EntBlockN, 0);
        EXPECT_EQ(jww.EntBlockTreeN, 0);
        EXPECT_TRUE(jww.EntNo.empty());
    }
}

TEST(JwwFile, CutRightAfterTheHeaderFails) {
    TempDir dir;
    test::WriteFile(dir.path() / "h.jww", test::BuildJwwHeader(600));
    TJwwData jww;
    EXPECT_FALSE(jww.FileIn(dir.file("h.jww")));
    EXPECT_EQ(jww.Enthd.jwVer, 600);  // the header stays as read
    EXPECT_EQ(jww.LastError().rfind("File I/O Error", 0), 0u) << jww.LastError();
}

// A failure inside the block definitions keeps the entity list, and the
// references are still decided from what was read.
TEST(JwwFile, FailureInTheBodyStillDecidesTheReferences) {
    Bytes body = JwwBodyBuilder(600).line(0, 0, 1, 1).block(5, 6, 3).def(3, "B").line(0, 0, 1, 0).build();
    body.resize(body.size() - 20);  // inside the definition's line
    TJwwData jww;
    EXPECT_FALSE(jww.ReadFromBuffer(BuildJww(600, body)));
    EXPECT_EQ(jww.EntLineN, 1);
    EXPECT_EQ(jww.EntBlockN, 1);
    ASSERT_EQ(jww.EntBlockDefN, 1);
    EXPECT_TRUE(jww.EntBlockDef[0].ref_flag);
    jww.MakeBlockTree();
    ASSERT_EQ(jww.EntBlockTreeN, 1);
    EXPECT_EQ(jww.EntBlockTree[0].x, 5.0);
}

// A drawing cut off anywhere, header, entities, definitions or images, is
// never taken for a shorter drawing, and copies no image out.
TEST(JwwFile, EveryTruncationFails) {
    ImageJww t;
    const Bytes bytes = SmallDrawing();
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        ASSERT_FALSE(t.jww.ReadFromBuffer(cut)) << "cut at " << n;
    }
    EXPECT_EQ(t.filesInFolder(), 0u);
    test::WriteFile(t.dir.path() / "cut.jww", Bytes(bytes.begin(), bytes.end() - 1));
    EXPECT_FALSE(t.jww.FileIn(t.dir.file("cut.jww")));
    EXPECT_TRUE(t.jww.ReadFromBuffer(bytes)) << t.jww.LastError();
}

TEST(JwwFile, FileOutIntoAFolderThatCannotBeWrittenLeavesNoFile) {
    TempDir dir;
    TJwwData jww;
    ASSERT_TRUE(jww.ReadFromBuffer(BuildJww(600)));
    test::WriteFile(dir.path() / "plain", Bytes{1});
    for (const std::string name : {"nofolder/out.jww", "plain/out.jww"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(jww.FileOut(dir.file(name), 600));
        EXPECT_FALSE(std::filesystem::exists(dir.path() / name));
        EXPECT_EQ(jww.LastError().rfind("cannot write file: ", 0), 0u) << jww.LastError();
    }
}

// A text too long for the file fails the build in memory: nothing is written.
TEST(JwwFile, FileOutOfAnOverlongStringLeavesNoFile) {
    TempDir dir;
    TJwwData jww;
    ASSERT_TRUE(jww.ReadFromBuffer(BuildJww(600)));
    jww.Enthd.strMemo = std::u16string(70000, u'm');
    EXPECT_FALSE(jww.FileOut(dir.file("out.jww"), 600));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.jww"));
    EXPECT_EQ(jww.LastError().rfind("File I/O Error", 0), 0u) << jww.LastError();
    // The same in the UTF-16 form, and in a layer name.
    jww.SetFileOutOption(32);
    EXPECT_FALSE(jww.FileOut(dir.file("out.jww"), 600));
    jww.Enthd.strMemo.clear();
    jww.EntLay[17].aStrLayName = std::u16string(70000, u'x');
    EXPECT_FALSE(jww.FileOut(dir.file("out.jww"), 600));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.jww"));
}

// A write that stops part way (here: the process may not write files that
// large, as on a full disk) removes what was written.
TEST(JwwFile, FileOutShortWriteRemovesThePartialFile) {
#ifdef _WIN32
    GTEST_SKIP() << "needs a file-size limit (setrlimit); injected write failures are tested in SafeWrite";
#else
    TempDir dir;
    TJwwData jww;
    ASSERT_TRUE(jww.ReadFromBuffer(BuildJww(700)));
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = jww.FileOut(dir.file("out.jww"), 700);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.jww"));
    EXPECT_TRUE(jww.FileOut(dir.file("out.jww"), 700)) << jww.LastError();
#endif
}

// Running out of memory while reading is a failed read with its reason, not
// an exception. Run in a child process whose address space is capped; the
// sanitizers reserve address space of their own, so they skip this.
TEST(JwwFile, OutOfMemoryIsAFailedRead) {
#if defined(__SANITIZE_ADDRESS__) || TERVALO_CLANG_ASAN
    GTEST_SKIP() << "address space limits do not combine with AddressSanitizer";
#elif defined(_WIN32)
    GTEST_SKIP() << "needs fork and an address-space limit (POSIX)";
#else
    // 60 000 points: 2.4 MB of drawing whose lists need about 5 MB.
    JwwBodyBuilder body(600);
    for (int i = 0; i < 60000; ++i) body.point(i, i, true);
    const Bytes drawing = BuildJww(600, body.build());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Address space for what is mapped now and 1 MB more.
        long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        if (pages <= 0) std::_Exit(0);  // cannot tell: nothing to test
        rlimit cap{};
        getrlimit(RLIMIT_AS, &cap);
        cap.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (1u << 20);
        setrlimit(RLIMIT_AS, &cap);
        // Earlier tests may have left free memory in the heap: take all of it,
        // then give back a little, so the read itself must run out.
        static void* hog[1 << 16];
        std::size_t n = 0;
        while (n < std::size(hog) && (hog[n] = std::malloc(1 << 16)) != nullptr) ++n;
        for (std::size_t k = 0; k < 4 && n > 0; ++k) std::free(hog[--n]);
        TJwwData jww;
        const bool ok = jww.ReadFromBuffer(drawing);
        std::_Exit(!ok && jww.LastError() == "not enough memory to read this drawing" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the read died instead of failing";
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

// A drawing of 140 KB that places a million blocks, each through a
// definition with a long name: reading decides references in proportion to
// the file and builds no tree; the tree, on request, stops at its bound and
// views the name instead of copying it.
TEST(JwwFile, NestedInsertBombReadsInProportion) {
    JwwBodyBuilder body(700);
    for (int i = 0; i < 1000; ++i) body.block(i, 0, 2);
    body.def(1, std::string(60000, 'n')).point(0, 0, true);
    body.def(2, "outer");
    for (int i = 0; i < 1000; ++i) body.block(0, i, 1);
    TJwwData jww;
    ASSERT_TRUE(jww.ReadFromBuffer(BuildJww(700, body.build()))) << jww.LastError();
    EXPECT_EQ(jww.EntBlockTreeN, 0);
    EXPECT_EQ(jww.EntBlockNum, 2);
    jww.MakeBlockTree();
    ASSERT_EQ(jww.EntBlockTreeN, DrawingBody::kMaxBlockTreeNodes);
    const TEntJwwBlockTree& deep = jww.EntBlockTree.back();
    EXPECT_EQ(deep.level, 1);
    EXPECT_EQ(deep.name.data(), jww.EntBlockDef[0].strName.data());
}

TEST(JwwFile, VersionsBelow700WriteNoImageSection) {
    ImageJww t;
    ASSERT_TRUE(t.jww.ReadFromBuffer(SmallDrawing())) << t.jww.LastError();
    Bytes v700, v600;
    ASSERT_TRUE(t.jww.WriteToBuffer(700, v700));
    ASSERT_TRUE(t.jww.WriteToBuffer(600, v600));
    const std::size_t imageSection = 4 + 1 + 7 + 4 + kPicture.size();
    EXPECT_EQ(v600.size() + imageSection, v700.size());

    // Nothing is read after the block definitions of a version 600 drawing.
    TJwwData again;
    again.BindImageExr = true;
    Bytes withTail = v600;
    withTail.insert(withTail.end(), {1, 0, 0, 0});
    ASSERT_TRUE(again.ReadFromBuffer(withTail)) << again.LastError();
    EXPECT_EQ(again.BindImageN, 0);
    EXPECT_EQ(again.EntMojiN, 1);
}

TEST(JwwFile, CorpusDrawingIsReadAndWrittenBack) {
    TERVALO_REQUIRE_CORPUS();
    const auto path = test::CorpusDir() / "sample.jww";
    TJwwData jww;
    ASSERT_TRUE(jww.FileCheck(test::U16(path.string())));
    ASSERT_TRUE(jww.FileIn(test::U16(path.string()))) << jww.LastError();
    EXPECT_EQ(jww.Enthd.jwVer, 700);
    EXPECT_EQ(jww.Enthd.n1, 2539);
    const std::int32_t live = jww.EntLineN + jww.EntEnkoN + jww.EntTenN + jww.EntMojiN + jww.EntSunpoN +
                              jww.EntSolidN + jww.EntBlockN;
    EXPECT_EQ(live, 2539);
    EXPECT_EQ(jww.EntBlockDefN, 20);
    EXPECT_EQ(jww.BindImageN, 0);

    TJwwData head;
    ASSERT_TRUE(head.FileHeaderIn(test::U16(path.string())));
    EXPECT_EQ(head.Enthd.strMemo, jww.Enthd.strMemo);

    TempDir dir;
    ASSERT_TRUE(jww.FileOut(dir.file("out.jww"), jww.Enthd.jwVer)) << jww.LastError();
    TJwwData again;
    ASSERT_TRUE(again.FileIn(dir.file("out.jww"))) << again.LastError();
    EXPECT_EQ(again.Enthd, jww.Enthd);
    EXPECT_EQ(again.EntLgrp, jww.EntLgrp);
    EXPECT_EQ(again.EntLay, jww.EntLay);
    EXPECT_EQ(again.EntCol, jww.EntCol);
    EXPECT_EQ(again.EntLtp1, jww.EntLtp1);
    EXPECT_EQ(again.EntLtp2, jww.EntLtp2);
    EXPECT_EQ(again.EntLtp3, jww.EntLtp3);
    // User colours and line types: the writer names blank ones and prints
    // colours from 17 on in their screen colour; the rest comes back as read.
    ASSERT_EQ(again.EntColS.size(), jww.EntColS.size());
    for (std::size_t i = 0; i < jww.EntColS.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& a = again.EntColS[i];
        const auto& s = jww.EntColS[i];
        EXPECT_EQ(a.aPenColor, s.aPenColor);
        EXPECT_EQ(a.anPenWidth, s.anPenWidth);
        EXPECT_EQ(a.aPrtPenColor, i >= 17 ? s.aPenColor : s.aPrtPenColor);
        EXPECT_EQ(a.anPrtPenWidth, s.anPrtPenWidth);
        EXPECT_EQ(a.adPrtTenHankei, s.adPrtTenHankei);
        if (!RemoveBlanks(s.astrUDColorName).empty()) {
            EXPECT_EQ(a.astrUDColorName, s.astrUDColorName);
        }
    }
    ASSERT_EQ(again.EntLtpS.size(), jww.EntLtpS.size());
    for (std::size_t i = 0; i < 17; ++i) {
        SCOPED_TRACE(i);
        const auto& a = again.EntLtpS[i];
        const auto& s = jww.EntLtpS[i];
        EXPECT_EQ(a.alLType, s.alLType == 0 ? -1 : s.alLType);
        EXPECT_EQ(a.anTokushuSenPich, s.anTokushuSenPich);
        EXPECT_EQ(a.anUDLTypeSegment, s.anUDLTypeSegment);
        EXPECT_EQ(a.aadUDLTypePitch, s.aadUDLTypePitch);
    }
    EXPECT_EQ(again.EntLine, jww.EntLine);
    EXPECT_EQ(again.EntEnko, jww.EntEnko);
    EXPECT_EQ(again.EntBlock, jww.EntBlock);
    EXPECT_EQ(again.EntBlockDefN, jww.EntBlockNum);

    // Written once more, the file does not change any further.
    Bytes second;
    ASSERT_TRUE(again.WriteToBuffer(again.Enthd.jwVer, second));
    EXPECT_EQ(second, test::ReadFile(dir.path() / "out.jww"));
    EXPECT_EQ(again.EntMoj, jww.EntMoj);
    EXPECT_EQ(again.EntLineN, jww.EntLineN);
    EXPECT_EQ(again.EntTenN, jww.EntTenN);
    EXPECT_EQ(again.EntTen, jww.EntTen);

    // Where the written file differs from the source, for people reading the log.
    const Bytes src = test::ReadFile(path);
    const Bytes out = test::ReadFile(dir.path() / "out.jww");
    std::size_t shown = 0;
    for (std::size_t i = 0; i < std::min(src.size(), out.size()) && shown < 10;) {
        if (src[i] == out[i]) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < std::min(src.size(), out.size()) && src[j] != out[j]) ++j;
        std::printf("  differs at %zu..%zu\n", i, j - 1);
        ++shown;
        i = j;
    }
    std::printf("  source %zu bytes, written %zu bytes\n", src.size(), out.size());
}

}  // namespace
}  // namespace tervalo
