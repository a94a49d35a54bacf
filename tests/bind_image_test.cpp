// Bound images of version 700 drawings: copying them out on reading, choosing
// which to store again on writing, and deleting the copies.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <set>

#include "fs/fsutil.h"
#include "jww_builder.h"
#include "model/jww_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

using test::BuildJww;
using test::ByteBuilder;
using test::JwwBodyBuilder;
using test::JwwImageSectionBuilder;
using test::TempDir;

namespace fs = std::filesystem;

Bytes Data(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
    return b;
}

// A container whose images go to <temp>/img/.
struct Fixture {
    TempDir dir;
    fs::path folder;
    TJwwData jww;
    Fixture() : folder(dir.path() / "img") {
        fs::create_directory(folder);
        jww.BindImageFolder = test::U16(folder.string()) + u"/";
        jww.BindImageExp = true;
        jww.BindImageExr = true;
    }
    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
        return names;
    }
};

// The images a written drawing stores, as (name, size), read back without copying out.
std::vector<std::pair<std::u16string, std::int32_t>> StoredImages(const Bytes& drawing) {
    TJwwData r;
    r.BindImageExr = true;
    EXPECT_TRUE(r.ReadFromBuffer(drawing)) << r.LastError();
    std::vector<std::pair<std::u16string, std::int32_t>> out;
    for (const auto& e : r.BindImage) out.emplace_back(e.Fname, e.Fsize);
    return out;
}

TEST(BindImage, ReadingCopiesEachImageOut) {
    Fixture f;
    const Bytes a = Data(3, 1), b = Data(2500, 9);
    JwwImageSectionBuilder images;
    images.entry("a.bmp", a).emptyNameEntry(7).entry("zero.bmp", {}).entry("b.jpg.gz", b);
    ASSERT_TRUE(f.jww.ReadFromBuffer(BuildJww(700, test::EmptyJwwBody(), images.build()))) << f.jww.LastError();
    ASSERT_EQ(f.jww.BindImageN, 4);
    ASSERT_EQ(f.jww.BindImage.size(), 4u);
    // Each entry keeps its bytes in memory, and those with data are copied out.
    EXPECT_EQ(f.jww.BindImage[0], (TBindImageType{u"a.bmp", 3, false, a, true, {}}));
    // No data follow an empty name or a zero size; the next entry follows directly.
    EXPECT_EQ(f.jww.BindImage[1], (TBindImageType{u"", 7, false, {}, false, {}}));
    EXPECT_EQ(f.jww.BindImage[2], (TBindImageType{u"zero.bmp", 0, false, {}, false, {}}));
    EXPECT_EQ(f.jww.BindImage[3], (TBindImageType{u"b.jpg.gz", 2500, false, b, true, {}}));
    EXPECT_EQ(f.files(), (std::set<std::string>{"a.bmp", "b.jpg.gz"}));
    EXPECT_EQ(test::ReadFile(f.folder / "a.bmp"), a);
    EXPECT_EQ(test::ReadFile(f.folder / "b.jpg.gz"), b);
}

TEST(BindImage, FlagsDecideWhatIsRead) {
    const Bytes drawing = BuildJww(700, JwwBodyBuilder(700).text("^@BM%temp%a.bmp,1").build(),
                                   JwwImageSectionBuilder().entry("a.bmp", Data(4, 2)).build());
    struct Case {
        bool exp, exr;
        std::int32_t listed;
        bool copied;
    };
    for (const Case& c : {Case{false, false, 0, false}, Case{false, true, 1, false}, Case{true, false, 1, true},
                          Case{true, true, 1, true}}) {
        SCOPED_TRACE(testing::Message() << c.exp << c.exr);
        Fixture f;
        f.jww.BindImageExp = c.exp;
        f.jww.BindImageExr = c.exr;
        ASSERT_TRUE(f.jww.ReadFromBuffer(drawing)) << f.jww.LastError();
        EXPECT_EQ(f.jww.BindImageN, c.listed);
        EXPECT_EQ(fs::exists(f.folder / "a.bmp"), c.copied);
        // Written back: the image is stored again (from its copy or from
        // memory) when either flag is on; with both off the count is 0.
        Bytes out;
        ASSERT_TRUE(f.jww.WriteToBuffer(700, out));
        EXPECT_EQ(StoredImages(out).size(), c.exp || c.exr ? 1u : 0u);
    }
}

// A stored name that would place the copy outside the folder, or that names
// a Windows device, is not used as a file name; the entries after it are read
// intact, and a referenced one is stored back from memory.
TEST(BindImage, UnsafeNamesAreNotCopiedOut) {
    Fixture f;
    JwwImageSectionBuilder images;
    const std::vector<std::string> unsafe = {"../evil.bmp", "sub/x.bmp", "back\\x.bmp", "/abs.bmp", "C:x.bmp", "..",
                                             ".", "CON", "nul.txt", "Com1.tar.gz", "lpt9.bmp", "aux .bmp", "PRN.x.y"};
    for (std::size_t i = 0; i < unsafe.size(); ++i) images.entry(unsafe[i], Data(10 + i, 3));
    const Bytes ok = Data(6, 5);
    images.entry("ok.bmp", ok);
    JwwBodyBuilder body(700);
    body.text("^@BM%temp%../evil.bmp,1").text("^@BM%temp%ok.bmp,1");
    ASSERT_TRUE(f.jww.ReadFromBuffer(BuildJww(700, body.build(), images.build()))) << f.jww.LastError();
    ASSERT_EQ(f.jww.BindImageN, static_cast<std::int32_t>(unsafe.size() + 1));
    for (std::size_t i = 0; i < unsafe.size(); ++i) {
        EXPECT_EQ(f.jww.BindImage[i].Fname, test::U16(unsafe[i]));
        EXPECT_EQ(f.jww.BindImage[i].Fsize, static_cast<std::int32_t>(10 + i));
    }
    EXPECT_EQ(f.files(), (std::set<std::string>{"ok.bmp"}));
    EXPECT_EQ(test::ReadFile(f.folder / "ok.bmp"), ok);
    EXPECT_FALSE(fs::exists(f.dir.path() / "evil.bmp"));

    // Not taken from outside the folder either, even when a file is there:
    // the referenced unsafe entry is stored with its own bytes.
    test::WriteFile(f.dir.path() / "evil.bmp", Data(50, 1));
    Bytes out;
    ASSERT_TRUE(f.jww.WriteToBuffer(700, out));
    EXPECT_EQ(StoredImages(out),
              (std::vector<std::pair<std::u16string, std::int32_t>>{{u"../evil.bmp", 10}, {u"ok.bmp", 6}}));
    TJwwData back;
    back.BindImageExr = true;
    ASSERT_TRUE(back.ReadFromBuffer(out));
    EXPECT_EQ(back.BindImage[0].data, Data(10, 3));
    // Names like COM10 or CONSOLE are ordinary file names.
    for (const char* name : {"COM10.bmp", "console.bmp", "lpt0", "nullity"}) {
        Fixture g;
        ASSERT_TRUE(g.jww.ReadFromBuffer(
            BuildJww(700, test::EmptyJwwBody(), JwwImageSectionBuilder().entry(name, Data(3, 1)).build())));
        EXPECT_EQ(g.files(), (std::set<std::string>{name}));
    }
}

// Entries whose names are one file on disk (equal, equal but for letter case
// or control characters, or two lone surrogates that both become U+FFFD)
// each keep their own bytes: with copies, only the first is copied out and
// the others are stored back from memory; without copies, all from memory.
TEST(BindImage, NamesakesKeepTheirOwnBytes) {
    ByteBuilder images;
    images.u32(5);
    test::ImageEntry(images, "pic.bmp", Data(4, 1));
    test::ImageEntry(images, "PIC.bmp", Data(5, 2));
    test::ImageEntry(images, "pic\x01.bmp", Data(6, 3));  // pic.bmp once its control character is gone
    for (std::uint16_t surrogate : {0xD800, 0xDC00}) {         // Unicode-form names "s" + a lone surrogate
        images.u8(0xFF).u16(0xFFFE).u8(2).u16('s').u16(surrogate);
        images.u32(3).bytes(Data(3, static_cast<std::uint8_t>(surrogate >> 8)));
    }
    JwwBodyBuilder body(700);
    body.text("^@BM%temp%pic.bmp,1").text("^@BM%temp%PIC.bmp,1").text("^@BM%temp%s,1");
    const Bytes drawing = BuildJww(700, body.build(), images.data());
    for (const bool copies : {false, true}) {
        SCOPED_TRACE(copies);
        Fixture f;
        f.jww.BindImageExp = copies;
        ASSERT_TRUE(f.jww.ReadFromBuffer(drawing)) << f.jww.LastError();
        ASSERT_EQ(f.jww.BindImageN, 5);
        if (copies) {
            std::size_t copied = 0;
            for (const TBindImageType& e : f.jww.BindImage) copied += e.copied;
#ifdef _WIN32
            // A name with a lone surrogate may not be creatable at all there
            // (Wine's file names are UTF-8): then only pic.bmp is copied.
            EXPECT_GE(copied, 1u);
            EXPECT_LE(copied, 2u);
            EXPECT_EQ(f.files().size(), copied);
#else
            EXPECT_EQ(copied, 2u);  // pic.bmp and the first "s" + surrogate
            EXPECT_EQ(f.files().size(), 2u);
#endif
            EXPECT_EQ(test::ReadFile(f.folder / "pic.bmp"), Data(4, 1));
        }
        if (!copies) {
            EXPECT_TRUE(f.files().empty());
        }
        // The texts refer to the first pic.bmp and the first "s" entry (the
        // first entry whose name begins with the referenced one).
        Bytes out;
        ASSERT_TRUE(f.jww.WriteToBuffer(700, out));
        TJwwData back;
        back.BindImageExr = true;
        ASSERT_TRUE(back.ReadFromBuffer(out));
        ASSERT_EQ(back.BindImageN, 2);  // pic.bmp (first match of both texts) and the first "s" entry
        EXPECT_EQ(back.BindImage[0].data, Data(4, 1));
        EXPECT_EQ(back.BindImage[1].data, Data(3, 0xD8));
    }
}

// Which images a written drawing stores: those a text refers to (the first
// entry whose name begins with the referenced name) and whose copy exists.
TEST(BindImage, WritingStoresReferencedImagesOnly) {
    struct Case {
        const char* what;
        std::vector<std::string> entries;
        std::vector<std::string> texts;
        std::vector<std::string> defTexts;
        std::vector<std::string> removed;
        std::vector<std::u16string> stored;
    };
    const Case cases[] = {
        {"case-insensitive prefix", {"PIC.BMP.gz"}, {"^@BM%temp%pic.bmp,1,2"}, {}, {}, {u"PIC.BMP.gz"}},
        {"first match in list order",
         {"picture.jpg.gz", "pic.bmp.gz"},
         {"^@BM%temp%pic,1"},
         {},
         {},
         {u"picture.jpg.gz"}},
        {"two texts, one image", {"a.bmp", "b.bmp"}, {"^@BM%temp%a.bmp,1", "^@BM%temp%a.bmp,2"}, {}, {}, {u"a.bmp"}},
        {"empty name", {"a.bmp"}, {"^@BM%temp%,1"}, {}, {}, {}},
        {"no comma", {"a.bmp"}, {"^@BM%temp%a.bmp"}, {}, {}, {}},
        {"prefix alone", {"a.bmp"}, {"^@BM%temp%"}, {}, {}, {}},
        {"other text", {"a.bmp"}, {"a.bmp,1", "^@BM%TEMP%a.bmp,1"}, {}, {}, {}},
        {"unreferenced left out", {"a.bmp", "b.bmp", "c.bmp"}, {"^@BM%temp%c.bmp,1", "^@BM%temp%a.bmp,1"}, {}, {},
         {u"a.bmp", u"c.bmp"}},
        {"only in a block definition", {"a.bmp", "b.bmp"}, {}, {"^@BM%temp%b.bmp,1"}, {}, {u"b.bmp"}},
        {"copy gone", {"a.bmp", "b.bmp"}, {"^@BM%temp%a.bmp,1", "^@BM%temp%b.bmp,1"}, {}, {"a.bmp"}, {u"b.bmp"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        JwwImageSectionBuilder images;
        for (std::size_t i = 0; i < c.entries.size(); ++i) images.entry(c.entries[i], Data(5 + i, 1));
        JwwBodyBuilder body(700);
        for (const auto& t : c.texts) body.text(t);
        if (!c.defTexts.empty()) {
            body.def(1, "B");
            for (const auto& t : c.defTexts) body.text(t);
        }
        ASSERT_TRUE(f.jww.ReadFromBuffer(BuildJww(700, body.build(), images.build()))) << f.jww.LastError();
        for (const auto& r : c.removed) fs::remove(f.folder / r);
        Bytes out;
        ASSERT_TRUE(f.jww.WriteToBuffer(700, out)) << f.jww.LastError();
        std::vector<std::u16string> stored;
        for (const auto& [name, size] : StoredImages(out)) stored.push_back(name);
        EXPECT_EQ(stored, c.stored);
        // exf marks exactly what was stored.
        std::vector<std::u16string> marked;
        for (const auto& e : f.jww.BindImage)
            if (e.exf) marked.push_back(e.Fname);
        EXPECT_EQ(marked, c.stored);
    }
}

TEST(BindImage, WritingTakesTheCurrentContentOfTheCopy) {
    Fixture f;
    ASSERT_TRUE(f.jww.ReadFromBuffer(BuildJww(700, JwwBodyBuilder(700).text("^@BM%temp%a.png,1").build(),
                                              JwwImageSectionBuilder().entry("a.png", Data(4, 1)).build())));
    const Bytes changed = Data(3000, 77);
    test::WriteFile(f.folder / "a.png", changed);
    Bytes out;
    ASSERT_TRUE(f.jww.WriteToBuffer(700, out));
    Fixture g;
    ASSERT_TRUE(g.jww.ReadFromBuffer(out)) << g.jww.LastError();
    EXPECT_EQ(g.jww.BindImage[0].Fsize, 3000);
    EXPECT_EQ(test::ReadFile(g.folder / "a.png"), changed);
    EXPECT_EQ(f.jww.BindImage[0].Fsize, 4);  // the list is not changed by writing
}

// An image file that exists but cannot be read is left out before the count
// is written, so the count matches the entries that follow.
TEST(BindImage, UnreadableCopyIsLeftOut) {
#ifdef _WIN32
    GTEST_SKIP() << "makes a file unreadable through POSIX permissions or /proc";
#else
    Fixture f;
    ASSERT_TRUE(f.jww.ReadFromBuffer(
        BuildJww(700, JwwBodyBuilder(700).text("^@BM%temp%a.bmp,1").text("^@BM%temp%b.bmp,1").build(),
                 JwwImageSectionBuilder().entry("a.bmp", Data(4, 1)).entry("b.bmp", Data(6, 2)).build())));
    const fs::path a = f.folder / "a.bmp";
    if (geteuid() != 0) {
        fs::permissions(a, fs::perms::none);
    } else {
        // Permissions do not stop root: a link to a file that is found but
        // cannot be read.
        fs::remove(a);
        fs::create_symlink("/proc/self/mem", a);
    }
    Bytes probe;
    if (!FileFound(test::U16(a.string())) || ReadWholeFile(test::U16(a.string()), probe))
        GTEST_SKIP() << "cannot make an unreadable file here";
    Bytes out;
    ASSERT_TRUE(f.jww.WriteToBuffer(700, out)) << f.jww.LastError();
    EXPECT_EQ(StoredImages(out), (std::vector<std::pair<std::u16string, std::int32_t>>{{u"b.bmp", 6}}));
    EXPECT_FALSE(f.jww.BindImage[0].exf);
    EXPECT_TRUE(f.jww.BindImage[1].exf);
#endif
}

// An image section that ends before what it announces fails the whole read
// and copies nothing out.
TEST(BindImage, IncompleteSectionFailsTheRead) {
    const Bytes body = test::EmptyJwwBody();
    auto withImages = [&](const Bytes& images) { return BuildJww(700, body, images); };
    Bytes dataCut = JwwImageSectionBuilder().entry("a.bmp", Data(4, 1)).entry("b.bmp", Data(100, 1)).build();
    dataCut.resize(dataCut.size() - 50);
    struct Case {
        const char* what;
        Bytes images;
    };
    const Case cases[] = {
        {"count cut", Bytes{1, 0}},
        {"missing entry", ByteBuilder().u32(2).str("a.bmp").u32(1).u8(9).data()},
        {"name cut", ByteBuilder().u32(1).u8(5).ascii("a.b").data()},
        {"size cut", ByteBuilder().u32(1).str("a.bmp").u16(4).data()},
        {"data cut", dataCut},
        {"negative size", ByteBuilder().u32(1).str("a.bmp").u32(0x80000000u).fill(64, 0).data()},
        {"huge count", ByteBuilder().u32(0xFFFFFFFFu).str("a.bmp").u32(1).u8(0).data()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        EXPECT_FALSE(f.jww.ReadFromBuffer(withImages(c.images)));
        EXPECT_EQ(f.jww.LastError().rfind("File I/O Error", 0), 0u) << f.jww.LastError();
        EXPECT_TRUE(f.files().empty());
    }
}

// A copy that cannot be created is skipped; the other images are copied.
TEST(BindImage, FailedCopyDoesNotStopTheRead) {
    Fixture f;
    fs::create_directory(f.folder / "a.bmp");  // occupies the name
    const Bytes b = Data(8, 4);
    ASSERT_TRUE(f.jww.ReadFromBuffer(BuildJww(
        700, test::EmptyJwwBody(), JwwImageSectionBuilder().entry("a.bmp", Data(4, 1)).entry("b.bmp", b).build())))
        << f.jww.LastError();
    EXPECT_EQ(f.jww.BindImageN, 2);
    EXPECT_EQ(test::ReadFile(f.folder / "b.bmp"), b);

    TJwwData nowhere;
    nowhere.BindImageFolder = f.jww.BindImageFolder / "missing/";
    nowhere.BindImageExp = true;
    ASSERT_TRUE(nowhere.ReadFromBuffer(BuildJww(
        700, test::EmptyJwwBody(), JwwImageSectionBuilder().entry("a.bmp", Data(4, 1)).entry("b.bmp", b).build())));
    EXPECT_EQ(nowhere.BindImageN, 2);
    EXPECT_EQ(nowhere.BindImage[1].Fsize, 8);
}

TEST(BindImage, DeletingCopies) {
    Fixture f;
    for (const char* name : {"a.bmp.gz", "a.bmp", "b.png", "c.jpg.gz", "keep.txt"}) test::WriteFile(f.folder / name, {1});
    test::WriteFile(f.dir.path() / "out.gz", {1});
    test::WriteFile(f.dir.path() / "out", {1});
    // Only copies the container made itself are deleted: keep.txt is listed
    // but was not copied out.
    for (const char16_t* name : {u"a.bmp.gz", u"b.png", u"c.jpg.gz", u"../out.gz", u"", u"missing.gz"})
        f.jww.BindImage.push_back(TBindImageType{name, 1, false, {}, true, {}});
    f.jww.BindImage.push_back(TBindImageType{u"keep.txt", 1, false, {}, false, {}});
    f.jww.BindImageN = static_cast<std::int32_t>(f.jww.BindImage.size());

    f.jww.BindImageDeleteGzFile();
    EXPECT_EQ(f.files(), (std::set<std::string>{"a.bmp", "b.png", "keep.txt"}));
    f.jww.BindImageDeleteNonGzFile();  // b.png, and a.bmp as the unpacked a.bmp.gz
    EXPECT_EQ(f.files(), (std::set<std::string>{"keep.txt"}));
    EXPECT_TRUE(fs::exists(f.dir.path() / "out.gz"));
    EXPECT_TRUE(fs::exists(f.dir.path() / "out"));
}

}  // namespace
}  // namespace tervalo
