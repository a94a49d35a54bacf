// The window logic shared by the desktop front ends, driven through a fake
// front end: the list (cells, filter, scan order, sort, refresh, counts),
// opening a file, dropped paths, the run with its checks, stop, results and
// status, the settings with their second file, window placement.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "convert/convert_options.h"
#include "convert/file_info.h"
#include "fs/fsutil.h"
#include "gui_fake_front_end.h"
#include "listed_files.h"
#include "main_logic.h"
#include "placement.h"
#include "preview_job.h"
#include "test_support.h"
#include "window_settings.h"

namespace tervalo {
namespace {

using gui::MainLogic;
using test::FakeFrontEnd;
using test::TempDir;
using test::U16;
namespace fs = std::filesystem;

struct GuiLogic : ::testing::Test {
    void SetUp() override { ResetConvertOptions(); }
    void TearDown() override { ResetConvertOptions(); }

    TempDir dir;
    FakeFrontEnd fe;
    MainLogic logic{fe};

    fs::path Make(const std::string& relative) {
        const fs::path p = dir.path() / fs::u8path(relative);
        fs::create_directories(p);
        return p;
    }
    void Write(const fs::path& folder, const std::string& name, const Bytes& bytes) {
        test::WriteFile(folder / fs::u8path(name), bytes);
    }
    void List(const fs::path& folder) {
        logic.SelectFolder(folder.u16string());
        ASSERT_TRUE(fe.PumpUntil([&] { return !logic.Listing(); }));
    }
    void Counted() { ASSERT_TRUE(fe.PumpUntil([&] { return !logic.CountsPending(); })); }
    std::vector<std::u16string> Names() const {
        std::vector<std::u16string> names;
        for (std::size_t r = 0; r < logic.RowCount(); ++r) names.push_back(logic.Row(r).name);
        return names;
    }
    std::size_t RowOf(const std::string& name) const { return logic.RowOfName(U16(name)).value(); }
    std::vector<std::size_t> Rows(std::initializer_list<const char*> names) const {
        std::vector<std::size_t> rows;
        for (const char* n : names) rows.push_back(RowOf(n));
        return rows;
    }
    void Run(const std::vector<std::size_t>& rows) {
        logic.ConvertClicked(rows);
        ASSERT_TRUE(fe.PumpUntil([&] { return !logic.Running(); }));
    }
};

std::vector<std::u16string> U16s(std::initializer_list<const char*> list) {
    std::vector<std::u16string> out;
    for (const char* s : list) out.push_back(U16(s));
    return out;
}

// --- The list ---------------------------------------------------------------

TEST_F(GuiLogic, CellsOfEachKindOfFile) {
    const fs::path folder = Make("図面");
    struct File {
        std::string name;
        Bytes bytes;
        std::string kind, memo, version;
    };
    const std::vector<File> files = {
        {"a.jww", test::JwwWithMemo(700, u"一行目 の^m二行目　です\\nおわり"), ".jww", "一行目の二行目ですおわり", "700"},
        {"b.JWS", test::EmptyJws(600), ".jws", "", "600"},
        {"a.bk3", test::JwwWithMemo(600, u"bk3 memo"), ".bk3", "bk3memo", "600"},
        {"a.bk10", test::JwwWithMemo(600, u"not listed"), ".bk10", "", ""},
        {"a.jw$", test::JwwWithMemo(420, u"^m"), ".jw$", "", "420"},
        {"plan.BAK", test::JwwWithMemo(351, u"old"), ".bak", "old", "351"},
        {"c.jwc", test::JwcWithComments("JWC comment", "two  words"), ".jwc", "JWCcommenttwowords", "DOS"},
        {"notes.txt", Bytes{'h', 'e', 'l', 'l', 'o'}, ".txt", "", ""},
        {"noext", Bytes{'x'}, "", "", ""},
        {"broken.jww", Bytes{'J', 'w', 'w'}, ".jww", "", ""},
        {"fake.jws", test::JwwWithMemo(700, u"not a figure"), ".jws", "", ""},
    };
    for (const File& f : files) Write(folder, f.name, f.bytes);
    List(folder);
    EXPECT_EQ(fe.status, U16("ファイル検索しました（ファイル数：11）"));
    EXPECT_EQ(logic.ReferenceCaption(), u"参照フォルダ：" + folder.u16string());
    ASSERT_EQ(logic.RowCount(), files.size());
    for (const File& f : files) {
        SCOPED_TRACE(f.name);
        const std::size_t r = RowOf(f.name);
        EXPECT_EQ(logic.CellText(r, gui::kKindColumn), U16(f.kind));
        EXPECT_EQ(logic.CellText(r, gui::kMemoColumn), U16(f.memo));
        EXPECT_EQ(logic.CellText(r, gui::kVersionColumn), U16(f.version));
        EXPECT_EQ(logic.CellText(r, gui::kSizeColumn), gui::WithThousands(f.bytes.size()));
        EXPECT_EQ(logic.CellText(r, gui::kTimeColumn).size(), 19u);  // yyyy/mm/dd hh:nn:ss
    }
    EXPECT_TRUE(fe.messages.empty());
}

TEST(FileInfo, BackupNamesOfOneDigitOnly) {
    const std::pair<const char16_t*, ListedKind> cases[] = {
        {u".jww", ListedKind::Jww}, {u".bak", ListedKind::Jww}, {u".jw$", ListedKind::Jww}, {u".bk1", ListedKind::Jww},
        {u".bk9", ListedKind::Jww}, {u".bk10", ListedKind::Other}, {u".bk0", ListedKind::Other},
        {u".bk1x", ListedKind::Other}, {u".bk", ListedKind::Other}, {u".jws", ListedKind::Jws},
        {u".jwc", ListedKind::Jwc}, {u".jwk", ListedKind::Jwk}, {u"", ListedKind::Other}};
    for (const auto& [ext, kind] : cases) EXPECT_EQ(ListedKindOfExtension(ext), kind) << Utf16ToUtf8(ext);
}

TEST_F(GuiLogic, FileTypeMasks) {
    const fs::path folder = Make("ref");
    for (const char* n : {"a.jww", "b.JWS", "c.jwc", "d.jwk", "e.txt", "f.jw$", "g", "h.jwww"}) Write(folder, n, Bytes{'x'});
    const auto all = U16s({"a.jww", "b.JWS", "c.jwc", "d.jwk", "e.txt", "f.jw$", "g", "h.jwww"});
    const std::pair<int, std::vector<std::u16string>> cases[] = {
        {0, all}, {1, U16s({"a.jww", "b.JWS", "c.jwc", "d.jwk", "f.jw$"})}, {2, U16s({"a.jww"})}, {3, U16s({"b.JWS"})},
        {4, U16s({"c.jwc"})}, {5, U16s({"d.jwk"})}, {-1, all}, {9, all}};
    List(folder);
    for (const auto& [index, names] : cases) {
        logic.SetFileType(index);
        ASSERT_TRUE(fe.PumpUntil([&] { return !logic.Listing(); }));
        EXPECT_EQ(Names(), names) << "file type " << index;
    }
}

TEST_F(GuiLogic, MissingOrNoFolderLeavesTheListEmpty) {
    logic.Start();
    EXPECT_EQ(fe.status, U16("参照フォルダを選んで下さい。"));
    logic.SetFileType(2);  // before any folder: still empty, no listing
    EXPECT_FALSE(logic.Listing());
    logic.SelectFolder((dir.path() / "gone").u16string());
    EXPECT_EQ(logic.RowCount(), 0u);
    EXPECT_EQ(fe.status, U16("参照フォルダが存在しません。"));
}

// Before a click the rows keep the scan order, the same on every system;
// each click flips the one direction flag; numbers compare by value.
TEST_F(GuiLogic, ScanOrderAndSort) {
    const fs::path folder = Make("ref");
    Write(folder, "b.txt", Bytes(100, 'x'));
    Write(folder, "C.txt", Bytes(9, 'x'));
    Write(folder, "a.txt", Bytes(10, 'x'));
    Write(folder, "_u.txt", Bytes(1000, 'x'));  // '_' sorts after 'C' ordinally, before 'c' in folded order
    List(folder);
    EXPECT_EQ(Names(), U16s({"a.txt", "b.txt", "C.txt", "_u.txt"}));
    EXPECT_FALSE(logic.Sorted());
    EXPECT_EQ(logic.SortColumn(), -1);
    struct Click {
        int column;
        std::vector<std::u16string> names;
    };
    const Click clicks[] = {
        {gui::kSizeColumn, U16s({"_u.txt", "b.txt", "a.txt", "C.txt"})},  // descending first
        {gui::kSizeColumn, U16s({"C.txt", "a.txt", "b.txt", "_u.txt"})},
        {gui::kNameColumn, U16s({"_u.txt", "C.txt", "b.txt", "a.txt"})},  // the flag is one for all columns
        {gui::kNameColumn, U16s({"a.txt", "b.txt", "C.txt", "_u.txt"})},
    };
    for (const Click& c : clicks) {
        const std::vector<std::u16string> before = Names();
        logic.ColumnClicked(c.column);
        EXPECT_EQ(Names(), c.names);
        EXPECT_TRUE(logic.Sorted());
        ASSERT_EQ(fe.lastOrder.size(), before.size());
        for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(Names()[i], before[fe.lastOrder[i]]);
    }
    // A new folder is listed in scan order; the sort state stays for the next click.
    logic.SetFileType(0);
    ASSERT_TRUE(fe.PumpUntil([&] { return !logic.Listing(); }));
    EXPECT_FALSE(logic.Sorted());
    EXPECT_EQ(logic.SortColumn(), gui::kNameColumn);
}

TEST(CellTexts, CompareAndThousands) {
    struct Case {
        const char* a;
        const char* b;
        int column;
        int sign;
    };
    const Case cases[] = {{"abc", "ABD", 0, -1}, {"a", "A", 0, 0}, {"9", "10", gui::kSizeColumn, -1},
                          {"9", "10", gui::kNameColumn, 1}, {"1,000", "999", gui::kTemporaryColumn, 1},
                          {"", "0", gui::kRealColumn, -1}, {"ｂ", "b", 0, 1}};
    for (const Case& c : cases) {
        const int r = gui::CompareCellTexts(U16(c.a), U16(c.b), c.column);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " " << c.b;
    }
    EXPECT_EQ(gui::WithThousands(0), u"0");
    EXPECT_EQ(gui::WithThousands(999), u"999");
    EXPECT_EQ(gui::WithThousands(4294967396ull), u"4,294,967,396");
}

// A refresh lists new files, keeps a sorted list sorted and selects again
// the rows that were selected.
TEST_F(GuiLogic, RefreshKeepsSortAndSelection) {
    const fs::path folder = Make("ref");
    Write(folder, "a.txt", Bytes(3, 'x'));
    Write(folder, "b.txt", Bytes(1, 'x'));
    List(folder);
    logic.ColumnClicked(gui::kSizeColumn);  // descending: a, b
    Write(folder, "c.txt", Bytes(2, 'x'));
    logic.Refresh({RowOf("b.txt")}, RowOf("b.txt"));
    ASSERT_TRUE(fe.PumpUntil([&] { return !logic.Listing(); }));
    EXPECT_EQ(Names(), U16s({"a.txt", "c.txt", "b.txt"}));
    EXPECT_TRUE(logic.Sorted());
    EXPECT_EQ(fe.selected, std::vector<std::size_t>{2});
    EXPECT_EQ(fe.currentRow, 2u);
}

// Rows arrive in batches, off the window's thread; the point counts follow.
TEST_F(GuiLogic, BatchesAndCounts) {
    const fs::path folder = Make("many");
    const Bytes drawing = test::JwwWithMemo(700, u"", true);
    for (int i = 0; i < 600; ++i) Write(folder, "f" + std::to_string(1000 + i) + ".jww", drawing);
    Write(folder, "z.txt", Bytes{'x'});
    List(folder);
    EXPECT_EQ(fe.added, 601u);
    EXPECT_GE(fe.batches, 3);  // 256 rows a batch at most
    Counted();
    EXPECT_EQ(fe.countsDone, 1);
    const std::size_t r = RowOf("f1000.jww");
    EXPECT_EQ(logic.CellText(r, gui::kTemporaryColumn), u"1");
    EXPECT_EQ(logic.CellText(r, gui::kRealColumn), u"0");
    EXPECT_EQ(logic.CellText(RowOf("z.txt"), gui::kTemporaryColumn), u"");
}

TEST_F(GuiLogic, OpenFileMessages) {
    const fs::path folder = Make("ref");
    Write(folder, "only.jww", Bytes{'x'});
    logic.OpenFile(std::nullopt);
    EXPECT_EQ(fe.beeps, 1);
    EXPECT_EQ(fe.errors, 1);
    EXPECT_EQ(fe.messages, U16s({"参照フォルダを指定して下さい。"}));
    List(folder);
    logic.OpenFile(std::nullopt);
    EXPECT_EQ(fe.messages.back(), U16("ファイルを指示して下さい。"));
    EXPECT_EQ(fe.status, U16("ファイルを指示して下さい。"));
    logic.OpenFile(0);
    const std::u16string path = folder.u16string() + DirectorySeparator() + u"only.jww";
    EXPECT_EQ(fe.opened, std::vector<std::u16string>{path});
    EXPECT_EQ(fe.status, u"ファイル「" + path + u"」");
    fe.openResult = false;
    logic.OpenFile(0);
    EXPECT_EQ(fe.status, u"ファイル「" + path + u"」を開くプログラムがありません。");
}

TEST_F(GuiLogic, DroppedFolderAndFiles) {
    const fs::path first = Make("first"), second = Make("second");
    Write(first, "x.jww", Bytes{'x'});
    for (const char* n : {"p.jww", "q.jww", "r.jww"}) Write(second, n, Bytes{'x'});
    logic.Drop({first.u16string()});
    ASSERT_TRUE(fe.PumpUntil([&] { return !logic.Listing(); }));
    EXPECT_EQ(logic.ReferenceFolder(), first.u16string());
    EXPECT_EQ(fe.reference, first.u16string());
    logic.Drop({(second / "r.jww").u16string(), (second / "p.jww").u16string(), (first / "x.jww").u16string()});
    ASSERT_TRUE(fe.PumpUntil([&] { return !logic.Listing(); }));
    EXPECT_EQ(logic.ReferenceFolder(), second.u16string());
    EXPECT_EQ(fe.selected, Rows({"p.jww", "r.jww"}));  // files of the first file's folder only
    EXPECT_EQ(fe.currentRow, RowOf("r.jww"));
    // Files of the listed folder are selected at once.
    logic.Drop({(second / "q.jww").u16string()});
    EXPECT_EQ(fe.selected, Rows({"q.jww"}));
}

// --- The run ---------------------------------------------------------------------

TEST_F(GuiLogic, RunWritesCountsAndTellsUpToDate) {
    const fs::path ref = Make("ref"), out = Make("out");
    Write(ref, "a.jww", test::JwwWithMemo(700, u"", true));
    Write(ref, "b.jww", test::JwwWithMemo(700, u"", true));
    Bytes cut = test::JwwWithMemo(700, u"", true);
    cut.resize(cut.size() - 4);
    Write(ref, "cut.jww", cut);
    Write(ref, "a.txt", Bytes{'x'});
    Write(ref, "b.dxf", Bytes{'x'});
    List(ref);
    logic.SetOutputFolder(out.u16string());
    Run(Rows({"a.jww", "b.jww", "cut.jww", "a.txt", "b.dxf"}));
    EXPECT_EQ(fe.runStates, (std::vector<bool>{true, false}));
    EXPECT_EQ(fe.status, U16("2個のファイルを変換しました。3個のファイルは変換できませんでした。"));
    EXPECT_TRUE(fs::exists(out / "a.jww") && fs::exists(out / "b.jww") && !fs::exists(out / "cut.jww"));
    // The results: one language, no English detail.
    ASSERT_EQ(fe.results.size(), 1u);
    EXPECT_EQ(fe.results[0].name, u"cut.jww");
    EXPECT_EQ(fe.results[0].reason, JapaneseReasonText(NotConvertedReason::ReadFailed));
    EXPECT_EQ(gui::CopyText(fe.resultsSummary, fe.results), fe.status + u"\r\ncut.jww\t" + fe.results[0].reason + u"\r\n");
    // Every file of an unsupported kind in one message.
    ASSERT_EQ(fe.messages.size(), 1u);
    EXPECT_EQ(fe.messages[0], U16("このファイル拡張子（種類）の変換には対応していません。\r\nファイル名：a.txt　拡張子：.txt"
                                  "\r\nファイル名：b.dxf　拡張子：.dxf"));
    ASSERT_FALSE(fe.progress.empty());
    EXPECT_EQ(fe.progress.back().done, 5u);

    // The same run again: nothing written anew, both left with their backups.
    fe.messages.clear();
    Run(Rows({"a.jww", "b.jww"}));
    EXPECT_EQ(fe.status, U16("2個のファイルは変換済みのため、そのままです。"));
    Write(ref, "b.jww", test::JwwWithMemo(700, u"changed", true));
    Run(Rows({"a.jww", "b.jww"}));
    EXPECT_EQ(fe.status, U16("1個のファイルを変換しました。1個のファイルは変換済みのため、そのままです。"));
    Run({});
    EXPECT_EQ(fe.status, U16("0個のファイルを変換しました。"));
}

TEST_F(GuiLogic, OutputFolderChecks) {
    const fs::path ref = Make("ref");
    Write(ref, "a.jww", test::JwwWithMemo(700, u"", true));
    List(ref);
    const std::pair<std::u16string, const char*> cases[] = {
        {u"", "保存先フォルダを指示して下さい。"},
        {(dir.path() / "none").u16string(), "保存先フォルダが存在しません。"},
        {ref.u16string(), "保存先フォルダは参照フォルダと同じにしないで下さい。"},
    };
    for (const auto& [output, message] : cases) {
        fe.messages.clear();
        logic.SetOutputFolder(output);
        logic.ConvertClicked({0});
        EXPECT_FALSE(logic.Running());
        EXPECT_EQ(fe.messages, U16s({message}));
    }
    EXPECT_EQ(fe.outputFocus, 3);
    EXPECT_TRUE(fe.runStates.empty());
}

// A folder where no file can be created: one message before the run.
TEST_F(GuiLogic, OutputFolderNotWritable) {
    const fs::path ref = Make("ref"), locked = Make("locked");
    Write(ref, "a.jww", test::JwwWithMemo(700, u"", true));
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    fs::path out = locked;
    // The superuser writes into read-only folders, but not into /proc.
    if (gui::FolderWritable(out.u16string())) out = "/proc";
    fs::permissions(locked, fs::perms::owner_all);
    if (!FolderFound(out.u16string()) || gui::FolderWritable(out.u16string()))
        GTEST_SKIP() << "no folder this user cannot write into";
    if (out == locked) fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    List(ref);
    logic.SetOutputFolder(out.u16string());
    logic.ConvertClicked({0});
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_FALSE(logic.Running());
    EXPECT_TRUE(fe.runStates.empty());
    EXPECT_EQ(fe.messages, std::vector<std::u16string>{gui::kOutputNotWritableText});
    EXPECT_EQ(fe.outputFocus, 1);
    EXPECT_TRUE(fs::is_empty(locked));
    EXPECT_TRUE(gui::FolderWritable(locked.u16string()));
    EXPECT_TRUE(fs::is_empty(locked));  // the probe is gone
}

TEST_F(GuiLogic, StopAndCloseDuringARun) {
    const fs::path ref = Make("ref"), out = Make("out");
    const Bytes drawing = test::JwwWithMemo(700, u"", true);
    for (int i = 0; i < 400; ++i) Write(ref, "f" + std::to_string(1000 + i) + ".jww", drawing);
    List(ref);
    logic.SetOutputFolder(out.u16string());
    std::vector<std::size_t> all(logic.RowCount());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    logic.ConvertClicked(all);
    ASSERT_TRUE(logic.Running());
    // Closing asks; no keeps the run going.
    EXPECT_FALSE(logic.CloseRequested());
    EXPECT_EQ(fe.asked, std::vector<std::u16string>{gui::kCloseDuringRunText});
    logic.ConvertClicked({});  // the button reads 中止 now
    EXPECT_NE(fe.status.find(gui::kStoppingSuffix), std::u16string::npos);
    ASSERT_TRUE(fe.PumpUntil([&] { return !logic.Running(); }));
    EXPECT_EQ(fe.status.rfind(u"変換を中止しました。", 0), 0u);
    EXPECT_TRUE(logic.LastRun().stopped);
    const auto written = static_cast<std::size_t>(std::distance(fs::directory_iterator(out), fs::directory_iterator()));
    EXPECT_LT(written, 400u);
    // Yes: the run stops and the window is told to close once it has.
    fe.answer = true;
    logic.ConvertClicked(all);
    EXPECT_FALSE(logic.CloseRequested());
    ASSERT_TRUE(fe.PumpUntil([&] { return fe.closes == 1; }));
    EXPECT_TRUE(logic.CloseRequested());
}

TEST(RunTexts, StatusCounts) {
    const std::tuple<int, int, int, bool, const char*> cases[] = {
        {0, 0, 0, false, "0個のファイルを変換しました。"},
        {3, 0, 0, false, "3個のファイルを変換しました。"},
        {0, 2, 0, false, "2個のファイルは変換済みのため、そのままです。"},
        {1, 2, 3, false, "1個のファイルを変換しました。2個のファイルは変換済みのため、そのままです。3個のファイルは変換できませんでした。"},
        {0, 0, 1, true, "変換を中止しました。0個のファイルを変換しました。1個のファイルは変換できませんでした。"},
    };
    for (const auto& [w, u, n, stopped, text] : cases) EXPECT_EQ(gui::RunStatusText(w, u, n, stopped), U16(text));
    EXPECT_EQ(gui::ProgressText(4, 10, u"a.jww"), U16("5 / 10　a.jww"));
}

// --- Settings, placement, the tree ------------------------------------------------

TEST_F(GuiLogic, SettingsRoundTripWithTheSecondFile) {
    const std::u16string path = dir.file("tervalo.dat");
    gui::WindowSettings s;
    EXPECT_FALSE(gui::LoadWindowSettings(path).loaded);
    s.main.FormLeft = -20;
    s.main.FormWidth = 1111;
    s.main.ReferenceFolder = U16("C:/図面 フォルダ");
    s.main.ColumnWidths = {101, 102, 103, 104, 105, 106};
    s.main.Options.MarkerScale = 2.5;
    s.layout.PreviewWidth = 333;
    s.layout.PreviewShown = true;
    s.layout.CountWidths = {61, 62, 63};
    s.layout.Maximized = true;
    ASSERT_TRUE(gui::SaveWindowSettings(path, s));
    const gui::WindowSettings back = gui::LoadWindowSettings(path);
    EXPECT_TRUE(back.loaded);
    EXPECT_EQ(back.main, s.main);
    EXPECT_EQ(back.layout, s.layout);
    // The settings file keeps its 24 lines; the rest is beside it.
    const Bytes main = test::ReadFile(dir.path() / "tervalo.dat");
    EXPECT_EQ(std::count(main.begin(), main.end(), '\n'), 24);
    EXPECT_EQ(gui::LayoutPathOf(path), dir.file("tervalo.layout"));
    // Bad or unknown values keep their defaults; the others are read.
    test::WriteFile(dir.path() / "tervalo.layout",
                    Bytes{'p', 'r', 'e', 'v', 'i', 'e', 'w', '_', 'w', 'i', 'd', 't', 'h', '=', '-', '5', '\n',
                          'r', 'e', 'a', 'l', '_', 'w', 'i', 'd', 't', 'h', '=', '7', '0', '\r', '\n', 'x', '=', '1'});
    gui::LayoutSettings layout;
    EXPECT_TRUE(gui::LoadLayoutFile(gui::LayoutPathOf(path), layout));
    EXPECT_EQ(layout.PreviewWidth, 0);
    EXPECT_EQ(layout.CountWidths, (std::array<std::int32_t, 3>{0, 70, 0}));
    EXPECT_FALSE(layout.PreviewShown);

    // Through the logic: folders, file type and options come and go with it.
    MainLogic other(fe);
    other.LoadSettings(path);
    EXPECT_EQ(other.ReferenceFolder(), s.main.ReferenceFolder);
    EXPECT_EQ(ConvertOptions.MarkerScale, 2.5);
    other.SetOutputFolder(u" /out\u3000");  // typed with spaces around it
    EXPECT_EQ(other.OutputFolder(), u"/out");
    ConvertOptions.Direction = 1;
    ASSERT_TRUE(other.SaveSettings(path));
    const gui::WindowSettings again = gui::LoadWindowSettings(path);
    EXPECT_EQ(again.main.OutputFolder, u"/out");
    EXPECT_EQ(again.main.Options.Direction, 1);
}

TEST(Placement, FitOntoScreens) {
    const gui::Rect left{0, 0, 1280, 800}, right{1280, 0, 1920, 1080};
    struct Case {
        gui::Rect window;
        std::vector<gui::Rect> screens;
        gui::Rect expected;
    };
    const Case cases[] = {
        {{64, 64, 600, 520}, {left}, {64, 64, 600, 520}},             // on the screen: unchanged
        {{3000, 64, 600, 520}, {left}, {680, 64, 600, 520}},          // a monitor that is gone
        {{-900, -700, 600, 520}, {left}, {0, 0, 600, 520}},
        {{100, 100, 2560, 1600}, {left}, {0, 0, 1280, 800}},          // a larger scale factor: shrunk to fit
        {{1200, 10, 600, 520}, {left, right}, {1280, 10, 600, 520}},  // mostly on the right screen
        {{900, 10, 600, 520}, {left, right}, {680, 10, 600, 520}},    // mostly on the left one
        {{5000, 2000, 600, 520}, {left, right}, {2600, 560, 600, 520}},  // nearest: the right one
        {{10, 10, 50, 40}, {left}, {10, 10, 200, 150}},               // never below the smallest size
        {{10, 10, 600, 520}, {}, {10, 10, 600, 520}},
    };
    for (const Case& c : cases) {
        const gui::Rect r = gui::FitOntoScreens(c.window, c.screens);
        EXPECT_EQ(r, c.expected) << c.window.left << "," << c.window.top << " -> " << r.left << "," << r.top << " "
                                 << r.width << "x" << r.height;
    }
}

TEST_F(GuiLogic, TreeStartsAtHome) {
    const fs::path home = Make("home"), desktop = Make("home/Desktop"), ref = Make("ref");
    EXPECT_EQ(gui::FirstTreeFolder(ref.u16string(), home.u16string()), ref.u16string());
    EXPECT_EQ(gui::FirstTreeFolder((dir.path() / "gone").u16string(), home.u16string()), home.u16string());
    EXPECT_EQ(gui::FirstTreeFolder(u"", home.u16string()), home.u16string());
    EXPECT_EQ(gui::TreeTopFolders(home.u16string(), desktop.u16string(), u"/"),
              (std::vector<std::u16string>{home.u16string(), desktop.u16string(), u"/"}));
    EXPECT_EQ(gui::TreeTopFolders(home.u16string(), (home / "Schreibtisch").u16string(), u"/"),
              (std::vector<std::u16string>{home.u16string(), u"/"}));
    EXPECT_EQ(gui::TreeTopFolders(u"/", u"/", u"/"), std::vector<std::u16string>{u"/"});
}

// --- The preview job ---------------------------------------------------------------

TEST_F(GuiLogic, PreviewOfEachKind) {
    const fs::path folder = Make("p");
    Write(folder, "a.jww", test::JwwWithMemo(700, u"", true));
    Write(folder, "c.jwc", test::JwcWithComments("one", "two"));
    Write(folder, "t.txt", Bytes{'x'});
    ConvertOptions.Direction = 0;
    const auto drawn = gui::LoadPreview((folder / "a.jww").u16string(), true, ConvertOptions);
    ASSERT_TRUE(drawn->scene);
    EXPECT_EQ(drawn->counts.temporary, 1);
    EXPECT_EQ(drawn->countsAfter.real, 1);
    EXPECT_EQ(drawn->changedCount, 1u);
    EXPECT_EQ(gui::PreviewCountsText(*drawn),
              U16("仮点 1　実点 0　点マーカー 0\n→ 変換後　仮点 0　実点 1　点マーカー 0（変わる点 1）"));
    const auto dos = gui::LoadPreview((folder / "c.jwc").u16string(), false, ConvertOptions);
    EXPECT_FALSE(dos->scene);
    EXPECT_NE(dos->message.find(u"one\ntwo"), std::u16string::npos);
    EXPECT_EQ(gui::LoadPreview((folder / "t.txt").u16string(), false, ConvertOptions)->message,
              U16("Jw_cad の図面・図形ファイルではありません"));
    EXPECT_EQ(gui::PreviewCaption((folder / "a.jww").u16string()), u"a.jww");

    // The loader delivers only the last of several requests.
    gui::PreviewLoader loader(fe);
    std::vector<std::u16string> delivered;
    for (const char* n : {"t.txt", "c.jwc", "a.jww"})
        loader.Request((folder / n).u16string(), false, ConvertOptions,
                       [&](std::shared_ptr<const gui::PreviewContent> c) { delivered.push_back(c->path); });
    ASSERT_TRUE(fe.PumpUntil([&] { return !delivered.empty() && delivered.back() == (folder / "a.jww").u16string(); }));
    EXPECT_LE(delivered.size(), 2u);
}

// Text boxes widen the fitted part of a scene to their whole length.
TEST(PreviewFit, TextsInside) {
    render::Scene s;
    s.fit.Add(0, 0);
    s.fit.Add(10, 10);
    const std::u16string text = u"abcd", font;
    s.texts.push_back({render::Pen{}, 8, 5, 2, 3, 0, 0, &font, &text, false});       // runs to x = 16, y = 8
    s.texts.push_back({render::Pen{}, 500, 500, 2, 3, 0, 0, &font, &text, false});   // parked far off: left out
    const render::Extent e = gui::FitExtentWithTexts(s);
    EXPECT_DOUBLE_EQ(e.maxX, 16);
    EXPECT_DOUBLE_EQ(e.maxY, 10);
    EXPECT_DOUBLE_EQ(e.minX, 0);
}

}  // namespace
}  // namespace tervalo
