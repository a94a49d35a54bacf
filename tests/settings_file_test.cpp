#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <string>

#include "convert/settings_file.h"
#include "fs/fsutil.h"
#include "test_support.h"

namespace tervalo {
namespace {

using namespace tervalo::test;

std::string Lines(std::initializer_list<const char*> lines, const char* end = "\r\n") {
    std::string s;
    for (const char* l : lines) s += std::string(l) + end;
    return s;
}

void WriteText(const std::filesystem::path& p, const std::string& text) { WriteFile(p, Bytes(text.begin(), text.end())); }

TEST(SettingsFileTest, MissingFileGivesTheDefaults) {
    TempDir dir;
    TSettingsData d;
    d.FormLeft = 5;
    d.Options.MarkerScale = 7;
    EXPECT_FALSE(LoadSettingsFile(dir.file("none.dat"), d));
    EXPECT_TRUE(d == TSettingsData{});
    EXPECT_EQ(d.FormWidth, 600);
    EXPECT_EQ(d.FormHeight, 520);
    EXPECT_EQ(d.ColumnWidths[5], 80);
    EXPECT_EQ(d.Options.SxfDimensions, 1);
    EXPECT_EQ(d.Options.MarkerScale, 1.0);
}

TEST(SettingsFileTest, SavedDefaultsAreExactly24CrLfLines) {
    TempDir dir;
    ASSERT_TRUE(SaveSettingsFile(dir.file("a.dat"), TSettingsData{}));
    Bytes b = ReadFile(dir.path() / "a.dat");
    EXPECT_EQ(std::string(b.begin(), b.end()),
              Lines({"64", "64", "600", "520", "200", "", "", "0", "80", "80", "80", "80", "80", "80", "64", "64", "0",
                     "0", "1", "1", "0", "0", "0", "1"}));
}

TEST(SettingsFileTest, RoundTripKeepsEveryValue) {
    TempDir dir;
    TSettingsData d;
    d.FormLeft = -1200;
    d.FormTop = 3;
    d.FormWidth = 1024;
    d.FormHeight = 768;
    d.PanelWidth = 321;
    d.ReferenceFolder = u"/home/利用者/図面 (旧)";
    d.OutputFolder = u"/tmp/出力";
    d.FileTypeIndex = 4;
    d.ColumnWidths = {1, 2, 3, 4, 5, 6};
    d.DialogLeft = 10;
    d.DialogTop = -20;
    d.Options = {1, 1, 4, 2.5, 0, 0, 1, 1};
    ASSERT_TRUE(SaveSettingsFile(dir.file("a.dat"), d));
    for (std::uint8_t c : ReadFile(dir.path() / "a.dat")) ASSERT_LT(c, 0x80) << "the file stays ASCII";
    TSettingsData back;
    ASSERT_TRUE(LoadSettingsFile(dir.file("a.dat"), back));
    EXPECT_TRUE(back == d);
    EXPECT_EQ(back.ReferenceFolder, d.ReferenceFolder);
}

TEST(SettingsFileTest, ClampsAndMalformedValues) {
    struct Case {
        const char *index, *scale;
        std::int32_t wantIndex;
        double wantScale;
    };
    const Case cases[] = {
        {"9", "0", 6, 1.0},        {"-3", "-2", 0, 1.0},     {"3", "5E8", 3, 100000000.0},
        {"3", "100000000", 3, 1e8}, {"3", "99999999.5", 3, 99999999.5}, {"x", "abc", 0, 1.0},
        {"", "", 0, 1.0},          {"2", "2,5", 2, 1.0},     {"2", "1e400", 2, 1.0},
        {"6", "0.001", 6, 0.001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.index) + " / " + c.scale);
        TempDir dir;
        WriteText(dir.path() / "a.dat", Lines({"1", "2", "3", "4", "5", "616263", "", "1", "7", "7", "7", "7", "7", "7",
                                               "8", "9", "1", "1", "0", "0", "1", "1", c.index, c.scale}));
        TSettingsData d;
        ASSERT_TRUE(LoadSettingsFile(dir.file("a.dat"), d));
        EXPECT_EQ(d.Options.MarkerIndex, c.wantIndex);
        EXPECT_EQ(d.Options.MarkerScale, c.wantScale);
        EXPECT_EQ(d.ReferenceFolder, u"abc");
        EXPECT_EQ(d.DialogTop, 9);
        EXPECT_EQ(d.Options.ConvertMarkerEnds, 1);
    }
}

TEST(SettingsFileTest, ShortFileReadsMissingLinesAsEmpty) {
    TempDir dir;
    WriteText(dir.path() / "a.dat", Lines({"10", "20", "700", "500", "150"}));
    TSettingsData d;
    ASSERT_TRUE(LoadSettingsFile(dir.file("a.dat"), d));
    EXPECT_EQ(d.FormLeft, 10);
    EXPECT_EQ(d.FormTop, 20);
    EXPECT_EQ(d.FormWidth, 700);
    EXPECT_EQ(d.FormHeight, 500);
    EXPECT_EQ(d.PanelWidth, 150);
    EXPECT_TRUE(d.ReferenceFolder.empty());
    EXPECT_TRUE(d.OutputFolder.empty());
    EXPECT_EQ(d.FileTypeIndex, 0);
    EXPECT_EQ(d.ColumnWidths, (std::array<std::int32_t, 6>{}));
    EXPECT_EQ(d.DialogLeft, 0);
    EXPECT_EQ(d.Options.SxfDimensions, 0);
    EXPECT_EQ(d.Options.BlockContents, 0);
    EXPECT_EQ(d.Options.MarkerIndex, 0);
    EXPECT_EQ(d.Options.MarkerScale, 1.0);  // 0 from the empty line, then the clamp
}

TEST(SettingsFileTest, AnyLineEndIsAccepted) {
    for (const char* end : {"\n", "\r", "\r\n"}) {
        TempDir dir;
        std::string text = Lines({"1", "2", "3", "4", "5", "", "78797A", "2"}, end);
        text += "0";  // a last line without an end counts as well
        WriteText(dir.path() / "a.dat", text);
        TSettingsData d;
        ASSERT_TRUE(LoadSettingsFile(dir.file("a.dat"), d));
        EXPECT_EQ(d.PanelWidth, 5);
        EXPECT_TRUE(d.ReferenceFolder.empty()) << "an empty line stays a line";
        EXPECT_EQ(d.OutputFolder, u"xyz");
        EXPECT_EQ(d.FileTypeIndex, 2);
        EXPECT_EQ(d.ColumnWidths[0], 0);
        EXPECT_EQ(d.ColumnWidths[1], 0);
    }
}

TEST(SettingsFileTest, FailedSaveLeavesNoFile) {
    TempDir dir;
    EXPECT_FALSE(SaveSettingsFile(dir.file("missing/a.dat"), TSettingsData{}));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
    std::filesystem::create_directory(dir.path() / "folder.dat");
    EXPECT_FALSE(SaveSettingsFile(dir.file("folder.dat"), TSettingsData{}));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "folder.dat"));
}

// The scale is written with a full stop in every locale, so it reads back.
TEST(SettingsFileTest, CommaLocaleScaleSurvives) {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    TempDir dir;
    TSettingsData d;
    d.Options.MarkerScale = 2.5;
    bool saved_ok = SaveSettingsFile(dir.file("a.dat"), d);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(saved_ok);
    EXPECT_EQ(SettingsLines(d)[23], u"2.5");
    TSettingsData back;
    ASSERT_TRUE(LoadSettingsFile(dir.file("a.dat"), back));
    EXPECT_EQ(back.Options.MarkerScale, 2.5);
}

}  // namespace
}  // namespace tervalo
