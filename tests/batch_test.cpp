#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "codec/drawing_generator.h"
#include "convert/batch.h"
#include "convert/drawing_info.h"
#include "convert_drawings.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

using namespace tervalo::test;
namespace fs = std::filesystem;

// Records everything a run reports, in order.
struct RecordingReporter : BatchReporter {
    std::vector<std::u16string> messages, statuses;
    std::vector<BatchFileResult> results;
    std::vector<std::string> events;
    void Message(const std::u16string& t) override { messages.push_back(t); events.push_back("message"); }
    void Status(const std::u16string& t) override { statuses.push_back(t); events.push_back("status"); }
    void FileResult(const BatchFileResult& r) override { results.push_back(r); events.push_back("result"); }
    void ConvertBegin() override { events.push_back("begin"); }
    void ConvertEnd() override { events.push_back("end"); }
};

Bytes Figure(double x, bool temporary = true) {
    BodyBuilder body(700);
    body.Add(PointSpec{x, 0, temporary});
    return BuildJws(700, body.Build());
}

Bytes Drawing(double x) {
    BodyBuilder body(700);
    body.Add(PointSpec{x, 0, true});
    return BuildJww(700, body.Build());
}

// A reference folder "ref", an output folder "out" and a work folder.
struct Fixture {
    TempDir dir;
    TJwwData jww;
    TJwsData jws;
    RecordingReporter rep;
    fs::path ref = dir.path() / "ref", out = dir.path() / "out", work = dir.path() / "work";
    Fixture() {
        fs::create_directory(ref);
        fs::create_directory(out);
        fs::create_directory(work);
    }
    BatchJob Job(const std::vector<std::string>& names) {
        BatchJob job;
        job.referenceFolder = U16(ref.string());
        job.outputFolder = U16(out.string());
        for (const auto& n : names) job.items.push_back({job.referenceFolder, U16(n)});
        return job;
    }
    BatchSummary Run(const BatchJob& job) { return RunBatch(job, {jww, jws}, rep); }
    // The first point of a converted figure or drawing.
    TEntJwwTen FirstPoint(const fs::path& p) {
        TJwsData s;
        if (s.FileCheck(U16(p.string()))) {
            EXPECT_TRUE(s.FileIn(U16(p.string())));
            return s.EntTen.at(0);
        }
        TJwwData w;
        EXPECT_TRUE(w.FileIn(U16(p.string())));
        return w.EntTen.at(0);
    }
};

TEST(BatchTest, OutputFolderChecks) {
    struct Case {
        const char* what;
        std::function<std::string(Fixture&)> output;
        BatchCheck check;
        const char16_t* message;
    };
    const Case cases[] = {
        {"empty", [](Fixture&) { return std::string(); }, BatchCheck::NoOutputFolder, kTextNoOutputFolder},
        {"missing", [](Fixture& f) { return (f.dir.path() / "nope").string(); }, BatchCheck::OutputFolderMissing,
         kTextOutputFolderMissing},
        {"a file, not a folder",
         [](Fixture& f) { return (f.ref / "plan.jws").string(); }, BatchCheck::OutputFolderMissing,
         kTextOutputFolderMissing},
        {"same text", [](Fixture& f) { return f.ref.string(); }, BatchCheck::SameAsReference, kTextSameFolder},
        {"trailing separator", [](Fixture& f) { return f.ref.string() + "/"; }, BatchCheck::SameAsReference,
         kTextSameFolder},
        {"dot and dot-dot", [](Fixture& f) { return (f.out / ".." / "ref" / ".").string(); },
         BatchCheck::SameAsReference, kTextSameFolder},
#ifndef _WIN32  // symbolic links need administrator rights or developer mode on Windows
        {"link to the folder",
         [](Fixture& f) {
             fs::create_directory_symlink(f.ref, f.dir.path() / "link");
             return (f.dir.path() / "link").string();
         },
         BatchCheck::SameAsReference, kTextSameFolder},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        WriteFile(f.ref / "plan.jws", Figure(1));
        BatchJob job = f.Job({"plan.jws"});
        job.outputFolder = U16(c.output(f));
        BatchSummary s = f.Run(job);
        EXPECT_EQ(s.check, c.check);
        EXPECT_EQ(f.rep.messages, std::vector<std::u16string>{c.message});
        EXPECT_TRUE(f.rep.statuses.empty()) << "the status is not changed";
        EXPECT_TRUE(s.files.empty());
        EXPECT_EQ(f.FirstPoint(f.ref / "plan.jws").bKariten, 1u) << "the source is untouched";
        EXPECT_FALSE(s.AllConverted());
    }
}

TEST(BatchTest, SameFolderComparesTextAndLocation) {
    TempDir dir;
    fs::create_directory(dir.path() / "Data");
    const std::string d = (dir.path() / "Data").string();
    // Letter case: one folder on a case-insensitive file system, so taken
    // for one everywhere, even where the file system keeps two apart.
    EXPECT_TRUE(SameFolder(U16(d), U16(dir.path().string() + "/DATA")));
#ifndef _WIN32  // links need administrator rights on Windows
    fs::create_directory(dir.path() / "DATA");
    EXPECT_TRUE(SameFolder(U16(d), U16(dir.path().string() + "/DATA")));
    fs::create_directory_symlink(dir.path() / "Data", dir.path() / "link");
    EXPECT_TRUE(SameFolder(U16(d), U16(dir.path().string() + "/link/")));
#endif
    EXPECT_TRUE(SameFolder(U16(d), U16(d + "//")));
    EXPECT_TRUE(SameFolder(U16(d + "/missing/.."), U16(d)));
    EXPECT_TRUE(SameFolder(U16(d + "/new"), U16(d + "/./new/")));  // not existing yet
    EXPECT_FALSE(SameFolder(U16(d), U16(dir.path().string())));
    EXPECT_FALSE(SameFolder(U16(d + "/a"), U16(d + "/b")));
    EXPECT_FALSE(SameFolder(u"", U16(d)));
}

TEST(BatchTest, ConvertsSelectedFilesInOrderAndReports) {
    Fixture f;
    WriteFile(f.ref / "a.jws", Figure(1));
    WriteFile(f.ref / "PLAN.JWW", Drawing(2));
    BatchJob job = f.Job({"PLAN.JWW", "a.jws"});
    BatchSummary s = f.Run(job);
    ASSERT_EQ(s.check, BatchCheck::Ok);
    EXPECT_EQ(s.converted, 2);
    EXPECT_TRUE(s.AllConverted());
    ASSERT_EQ(f.rep.results.size(), 2u);
    EXPECT_EQ(f.rep.results[0].name, u"PLAN.JWW");
    EXPECT_EQ(f.rep.results[0].ext, u".jww");
    EXPECT_EQ(f.rep.results[0].target, U16((f.out / "PLAN.JWW").string()));
    EXPECT_EQ(f.FirstPoint(f.out / "PLAN.JWW").bKariten, 0u);
    EXPECT_EQ(f.FirstPoint(f.out / "a.jws").bKariten, 0u);
    // Both files are put in place together, then reported in order.
    const std::vector<std::string> events = {"status", "begin", "end", "status", "status", "begin",
                                             "end",    "status", "result", "result", "status"};
    EXPECT_EQ(f.rep.events, events);
    EXPECT_EQ(f.rep.statuses[0], u"ファイル「" + U16((f.ref / "PLAN.JWW").string()) + u"」→「" +
                                     U16((f.out / "PLAN.JWW").string()) + u"」変換中です。");
    EXPECT_EQ(f.rep.statuses[1], u"");
    EXPECT_EQ(f.rep.statuses.back(), u"2個のファイルを変換しました。");
    EXPECT_FALSE(f.jww.BindImageExp) << "bound images stay in memory";
    EXPECT_TRUE(fs::is_empty(f.work));
}

TEST(BatchTest, DirectionSelectsTheRule) {
    Fixture f;
    WriteFile(f.ref / "a.jws", Figure(1, false));
    BatchJob job = f.Job({"a.jws"});
    job.options.Direction = 1;
    ASSERT_EQ(f.Run(job).converted, 1);
    EXPECT_EQ(f.FirstPoint(f.out / "a.jws").bKariten, 1u);
}

TEST(BatchTest, NothingSelected) {
    Fixture f;
    BatchSummary s = f.Run(f.Job({}));
    EXPECT_EQ(s.converted, 0);
    EXPECT_EQ(f.rep.statuses, std::vector<std::u16string>{u"0個のファイルを変換しました。"});
    EXPECT_TRUE(fs::is_empty(f.out));
}

TEST(BatchTest, BackupsOfOneRunNeverOverwriteEachOther) {
    Fixture f;
    WriteFile(f.ref / "plan.jww", Drawing(1));
    WriteFile(f.ref / "plan.jws", Figure(2));
    WriteFile(f.out / "plan.jww", {1, 1, 1});
    WriteFile(f.out / "plan.jws", {2, 2});
    WriteFile(f.out / "plan.BAK", {9});  // from an earlier run: replaced
    BatchSummary s = f.Run(f.Job({"plan.jww", "plan.jws"}));
    EXPECT_EQ(s.converted, 2);
    EXPECT_EQ(ReadFile(f.out / "plan.BAK"), (Bytes{1, 1, 1}));
    EXPECT_EQ(ReadFile(f.out / "plan.jws.BAK"), (Bytes{2, 2}));
    EXPECT_EQ(f.rep.results[0].backup, U16((f.out / "plan.BAK").string()));
    EXPECT_EQ(f.rep.results[1].backup, U16((f.out / "plan.jws.BAK").string()));
    EXPECT_EQ(f.FirstPoint(f.out / "plan.jws").start_x, 2.0);
}

TEST(BatchTest, FailedBackupLeavesTheTargetAndIsNotCounted) {
    Fixture f;
    WriteFile(f.ref / "plan.jws", Figure(1));
    WriteFile(f.ref / "next.jws", Figure(2));
    WriteFile(f.out / "plan.jws", {7, 7, 7});
    fs::create_directory(f.out / "plan.BAK");  // the backup cannot be written
    BatchSummary s = f.Run(f.Job({"plan.jws", "next.jws"}));
    EXPECT_EQ(s.converted, 1);
    EXPECT_EQ(s.notConverted, 1);
    EXPECT_EQ(f.rep.results[0].reason, NotConvertedReason::NotAPlainFile);
    EXPECT_EQ(f.rep.results[0].detail, (f.out / "plan.BAK").string() + " is a folder");
    EXPECT_EQ(ReadFile(f.out / "plan.jws"), (Bytes{7, 7, 7}));
    EXPECT_EQ(f.rep.statuses.back(), u"1個のファイルを変換しました。1個のファイルは変換できませんでした。");
}

TEST(BatchTest, ListedButNotConvertedKinds) {
    Fixture f;
    WriteFile(f.ref / "plan.jwc", Bytes(700, 0x20));
    WriteFile(f.ref / "part.JWK", Bytes(300, 0x20));
    WriteFile(f.out / "plan.jwc", {5});
    BatchSummary s = f.Run(f.Job({"plan.jwc", "part.JWK"}));
    EXPECT_EQ(s.converted, 0);
    EXPECT_EQ(s.notConverted, 2);
    EXPECT_EQ(s.unsupported, 0);
    EXPECT_TRUE(f.rep.messages.empty());
    for (const auto& r : f.rep.results) EXPECT_EQ(r.reason, NotConvertedReason::KindNotConverted);
    EXPECT_EQ(ReadFile(f.out / "plan.jwc"), (Bytes{5}));
    EXPECT_FALSE(fs::exists(f.out / "plan.BAK")) << "nothing is written, so nothing needs a backup";
    EXPECT_EQ(f.rep.statuses.back(), u"0個のファイルを変換しました。2個のファイルは変換できませんでした。");
}

TEST(BatchTest, UnsupportedExtensionsShowAMessageAndAreSkipped) {
    Fixture f;
    WriteFile(f.ref / "notes.txt", {1});
    WriteFile(f.ref / "README", {1});
    WriteFile(f.ref / "a.jws", Figure(1));
    BatchSummary s = f.Run(f.Job({"a.jws", "notes.txt", "README"}));
    const std::vector<std::u16string> messages = {
        u"このファイル拡張子（種類）の変換には対応していません。\r\nファイル名：notes.txt\r\n　　拡張子：.txt",
        u"このファイル拡張子（種類）の変換には対応していません。\r\nファイル名：README\r\n　　拡張子：",
    };
    EXPECT_EQ(f.rep.messages, messages);
    // Each message comes right before the result of its own file, also when
    // the results wait behind a converted file that is put in place later.
    const std::vector<std::string> tail = {"result", "message", "result", "message", "result", "status"};
    ASSERT_GE(f.rep.events.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(f.rep.events.end() - 6, f.rep.events.end()), tail);
    EXPECT_EQ(s.converted, 1);
    EXPECT_EQ(s.unsupported, 2);
    EXPECT_EQ(s.notConverted, 0);
    EXPECT_FALSE(s.AllConverted());
    EXPECT_EQ(f.rep.statuses.back(), u"1個のファイルを変換しました。");
    EXPECT_FALSE(fs::exists(f.out / "notes.txt"));
}

TEST(BatchTest, FilesThatCannotBeConvertedAreNotCounted) {
    Fixture f;
    WriteFile(f.ref / "junk.jww", Bytes(100, 'x'));
    Bytes cut = Figure(1);
    cut.resize(460);  // passes the signature check, cannot be read
    WriteFile(f.ref / "cut.jws", cut);
    WriteFile(f.out / "junk.jww", {3});
    BatchSummary s = f.Run(f.Job({"junk.jww", "cut.jws", "gone.jws"}));
    EXPECT_EQ(s.converted, 0);
    EXPECT_EQ(s.notConverted, 3);
    EXPECT_EQ(f.rep.results[0].reason, NotConvertedReason::CheckFailed);
    EXPECT_EQ(f.rep.results[1].reason, NotConvertedReason::ReadFailed);
    EXPECT_EQ(f.rep.results[2].reason, NotConvertedReason::SourceMissing);
    EXPECT_EQ(ReadFile(f.out / "junk.jww"), (Bytes{3}));
    EXPECT_FALSE(fs::exists(f.out / "junk.BAK"));
    EXPECT_FALSE(fs::exists(f.out / "cut.jws"));
#ifndef _WIN32
    // A source that exists but cannot be read says why, not "not a drawing".
    ASSERT_EQ(::mkfifo((f.ref / "pipe.jws").c_str(), 0644), 0);
    f.rep.results.clear();
    f.Run(f.Job({"pipe.jws"}));
    EXPECT_EQ(f.rep.results[0].reason, NotConvertedReason::ReadFailed);
    EXPECT_NE(f.rep.results[0].detail.find("pipe.jws"), std::string::npos) << f.rep.results[0].detail;
#endif
}

TEST(BatchTest, TargetLeadingToASourceIsNeverWritten) {
#ifdef _WIN32
    GTEST_SKIP() << "needs symbolic links, which Windows grants only to administrators and developer mode";
#else
    Fixture f;
    WriteFile(f.ref / "plan.jws", Figure(1));
    WriteFile(f.ref / "other.jws", Figure(5));
    fs::create_symlink(f.ref / "plan.jws", f.out / "plan.jws");
    // A target leading to another drawing of the run is refused as well.
    fs::create_symlink(f.ref / "other.jws", f.out / "a.jws");
    WriteFile(f.ref / "a.jws", Figure(3));
    // So is a target that is the source itself under a second name (a hard
    // link is a plain file: nothing there to follow).
    WriteFile(f.ref / "hard.jws", Figure(7));
    fs::create_hard_link(f.ref / "hard.jws", f.out / "hard.jws");
    const Bytes plan = ReadFile(f.ref / "plan.jws"), other = ReadFile(f.ref / "other.jws"),
                hard = ReadFile(f.ref / "hard.jws");
    BatchSummary s = f.Run(f.Job({"plan.jws", "a.jws", "other.jws", "hard.jws"}));
    EXPECT_EQ(f.rep.results[0].reason, NotConvertedReason::TargetIsSource);
    EXPECT_EQ(f.rep.results[1].reason, NotConvertedReason::TargetIsSource);
    EXPECT_EQ(f.rep.results[2].outcome, FileOutcome::Converted);
    EXPECT_EQ(f.rep.results[3].reason, NotConvertedReason::TargetIsSource);
    EXPECT_EQ(s.converted, 1);
    EXPECT_EQ(ReadFile(f.ref / "plan.jws"), plan);
    EXPECT_EQ(ReadFile(f.ref / "other.jws"), other);
    EXPECT_EQ(ReadFile(f.ref / "hard.jws"), hard);
#endif
}

// The output folder removed while a group is being written: the files of the
// group are reported as not written, none as converted into a folder that
// was made anew behind the group's back (its names would be flushed through
// the removed folder).
TEST(BatchTest, OutputFolderRemovedDuringAGroupFailsItsFiles) {
#ifdef _WIN32
    GTEST_SKIP() << "an open folder cannot be removed on Windows";
#else
    struct Remover : RecordingReporter {
        fs::path out;
        void Status(const std::u16string& t) override {
            RecordingReporter::Status(t);
            if (statuses.size() == 3) fs::remove_all(out);  // the second file's "converting" line
        }
    };
    Fixture f;
    Remover rep;
    rep.out = f.out;
    for (const char* n : {"a.jws", "b.jws", "c.jws"}) WriteFile(f.ref / n, Figure(1));
    const BatchSummary s = RunBatch(f.Job({"a.jws", "b.jws", "c.jws"}), {f.jww, f.jws}, rep);
    ASSERT_EQ(rep.results.size(), 3u);
    for (const BatchFileResult& r : rep.results) EXPECT_EQ(r.reason, NotConvertedReason::WriteFailed) << r.detail;
    EXPECT_EQ(s.converted, 0);
    EXPECT_FALSE(fs::exists(f.out / "b.jws"));
    EXPECT_FALSE(fs::exists(f.out / "c.jws"));
#endif
}

// Whatever another program puts at a target name while the run converts
// (after the run has looked at the output folder) is looked at when the new
// file is put in place: a file is kept as the backup, a link is refused.
TEST(BatchTest, ANameTakenDuringTheRunIsLookedAtWhenItsFileIsPutInPlace) {
    for (const bool link : {false, true}) {
#ifdef _WIN32
        if (link) continue;
#endif
        SCOPED_TRACE(link ? "a link" : "a file");
        struct Planter : RecordingReporter {
            fs::path out, aside;
            bool link = false;
            void Status(const std::u16string& t) override {
                RecordingReporter::Status(t);
                if (statuses.size() != 3) return;  // the second file's "converting" line
                if (link) fs::create_symlink(aside, out / "f63.jws");
                else WriteFile(out / "f63.jws", Figure(7));
            }
        };
        Fixture f;
        Planter rep;
        rep.out = f.out;
        rep.aside = f.dir.path() / "aside.jws";
        rep.link = link;
        WriteFile(rep.aside, Figure(8));
        // Enough files for the run to list the output folder once.
        std::vector<std::string> names;
        for (int i = 0; i < 64; ++i) {
            names.push_back((i < 10 ? "f0" : "f") + std::to_string(i) + ".jws");
            WriteFile(f.ref / names.back(), Figure(1));
        }
        RunBatch(f.Job(names), {f.jww, f.jws}, rep);
        ASSERT_EQ(rep.results.size(), 64u);
        const BatchFileResult& last = rep.results.back();
        if (link) {
            EXPECT_EQ(last.reason, NotConvertedReason::NotAPlainFile) << last.detail;
            EXPECT_TRUE(fs::is_symlink(f.out / "f63.jws"));
            EXPECT_EQ(ReadFile(rep.aside), Figure(8));
        } else {
            EXPECT_EQ(last.reason, NotConvertedReason::None) << last.detail;
            EXPECT_EQ(ReadFile(f.out / "f63.BAK"), Figure(7));
            EXPECT_EQ(f.FirstPoint(f.out / "f63.jws").bKariten, 0u);
        }
    }
}

// Names that a case-insensitive file system takes for one (exFAT and FAT
// sticks, SMB shares, case-folding ext4 folders) are one name to the run,
// on every file system: no backup, target or source is lost to a spelling.
TEST(BatchTest, NamesThatDifferInLetterCaseAreOneName) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> sources;  // folder below the test folder, name
        std::vector<std::string> existing;                         // files already in "out"
        std::vector<NotConvertedReason> reasons;
        std::vector<std::string> backups;  // the backup of each file, "" for none
    };
    using R = NotConvertedReason;
    const std::vector<Case> cases = {
        {"two backups that differ in case only", {{"ref", "plan.jww"}, {"ref", "Plan.jws"}}, {"plan.jww", "Plan.jws"},
         {R::None, R::None}, {"plan.BAK", "Plan.jws.BAK"}},
        {"two targets that differ in case only", {{"ref", "Plan.jws"}, {"ref2", "plan.jws"}}, {},
         {R::None, R::DuplicateTarget}, {"", ""}},
        {"full-width letters", {{"ref", "ＡＢ.jws"}, {"ref2", "ａｂ.jws"}}, {}, {R::None, R::DuplicateTarget}, {"", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        fs::create_directory(f.dir.path() / "ref2");
        int n = 0;
        for (const std::string& e : c.existing) WriteFile(f.out / fs::u8path(e), Bytes(3, static_cast<std::uint8_t>(++n)));
        BatchJob job = f.Job({});
        for (const auto& [folder, name] : c.sources) {
            const fs::path src = f.dir.path() / folder / fs::u8path(name);
            WriteFile(src, ExtLower(U16(name)) == u".jww" ? Drawing(1) : Figure(1));
            job.items.push_back({U16((f.dir.path() / folder).string()), U16(name)});
        }
        f.Run(job);
        ASSERT_EQ(f.rep.results.size(), c.reasons.size());
        for (std::size_t i = 0; i < c.reasons.size(); ++i) {
            EXPECT_EQ(f.rep.results[i].reason, c.reasons[i]) << i << " " << f.rep.results[i].detail;
            const std::u16string backup =
                c.backups[i].empty() ? u"" : U16((f.out / fs::u8path(c.backups[i])).string());
            EXPECT_EQ(f.rep.results[i].backup, backup) << i;
        }
        // Every earlier file is kept in a backup of its own.
        n = 0;
        for (std::size_t i = 0; i < c.backups.size(); ++i) {
            if (!c.backups[i].empty()) {
                EXPECT_EQ(ReadFile(f.out / fs::u8path(c.backups[i])), Bytes(3, static_cast<std::uint8_t>(++n)));
            }
        }
    }

#ifndef _WIN32
    // Two folder texts that lead to one folder (a link here, letter case on a
    // case-insensitive file system): a backup chosen for the second file sees
    // the backups of the first, even while the first is still being put in place.
    {
        Fixture g;
        fs::create_directory(g.dir.path() / "ref2");
        fs::create_directory(g.out / "Sub");
        fs::create_directory_symlink(g.out / "Sub", g.out / "sub");
        WriteFile(g.ref / "plan.jww", Drawing(1));
        WriteFile(g.dir.path() / "ref2" / "plan.jws", Figure(2));
        WriteFile(g.out / "Sub" / "plan.jww", {1, 1, 1});
        WriteFile(g.out / "Sub" / "plan.jws", {2, 2, 2});
        BatchJob job = g.Job({});
        job.items.push_back({job.referenceFolder, u"plan.jww", false, u"Sub"});
        job.items.push_back({U16((g.dir.path() / "ref2").string()), u"plan.jws", false, u"sub"});
        EXPECT_EQ(g.Run(job).converted, 2);
        EXPECT_EQ(ReadFile(g.out / "Sub" / "plan.BAK"), (Bytes{1, 1, 1}));
        EXPECT_EQ(ReadFile(g.out / "Sub" / "plan.jws.BAK"), (Bytes{2, 2, 2}));
    }
#endif

    // An output folder that differs from a source folder in case only.
    Fixture f;
    fs::create_directory(f.dir.path() / "REF");
    BatchJob job = f.Job({"a.jws"});
    job.outputFolder = U16((f.dir.path() / "REF").string());
    EXPECT_EQ(f.Run(job).check, BatchCheck::SameAsReference);
}

TEST(BatchTest, SameTargetTwiceIsWrittenOnce) {
    Fixture f;
    fs::create_directory(f.dir.path() / "ref2");
    WriteFile(f.ref / "plan.jws", Figure(1));
    WriteFile(f.dir.path() / "ref2" / "plan.jws", Figure(2));
    BatchJob job = f.Job({"plan.jws"});
    job.referenceFolder.clear();
    job.items.push_back({U16((f.dir.path() / "ref2").string()), u"plan.jws"});
    BatchSummary s = f.Run(job);
    EXPECT_EQ(s.converted, 1);
    EXPECT_EQ(s.notConverted, 1);
    EXPECT_EQ(f.rep.results[1].reason, NotConvertedReason::DuplicateTarget);
    EXPECT_EQ(f.FirstPoint(f.out / "plan.jws").start_x, 1.0);
    EXPECT_FALSE(fs::exists(f.out / "plan.BAK"));

    // When the first of them writes nothing, the target is free for the second.
    Fixture g;
    fs::create_directory(g.dir.path() / "ref2");
    WriteFile(g.ref / "plan.jws", Bytes(100, 'x'));
    WriteFile(g.dir.path() / "ref2" / "plan.jws", Figure(2));
    job = g.Job({"plan.jws"});
    job.items.push_back({U16((g.dir.path() / "ref2").string()), u"plan.jws"});
    s = g.Run(job);
    EXPECT_EQ(g.rep.results[0].reason, NotConvertedReason::CheckFailed);
    EXPECT_EQ(g.rep.results[1].outcome, FileOutcome::Converted);
    EXPECT_EQ(g.FirstPoint(g.out / "plan.jws").start_x, 2.0);
}

// Large files are converted on threads of their own, side by side, and the
// new files of small ones are written on a thread of their own; the run
// must say and write exactly what it does one file after another: results in
// order, a backup for a target that exists, a target name given back by a
// file that fails on its converter thread (for the next file of that name),
// a target written by two files refused for the second.
TEST(BatchTest, FilesConvertedSideBySideGiveTheRunOfOneAfterAnother) {
    const auto make = [](std::uint64_t seed, bool jws, std::uint64_t bytes = (1u << 20) + 300000) {
        GeneratorOptions o;
        o.targetBytes = bytes;  // above the size converted on the run's thread
        o.seed = seed;
        std::string error;
        TJwwData w;
        TJwsData s;
        EXPECT_TRUE(jws ? GenerateDrawing(o, s, error) : GenerateDrawing(o, w, error)) << error;
        TempDir d;
        EXPECT_TRUE(jws ? s.FileOut(d.file("x"), 700) : w.FileOut(d.file("x"), 700));
        return ReadFile(d.path() / "x");
    };
    const Bytes a = make(1, false), b = make(2, true), c = make(3, false), d = make(4, false);
    // Passes the check, and fails late in its conversion: its records end
    // in bytes that are none.
    Bytes cut = make(5, false, 3u << 20);
    std::fill(cut.end() - static_cast<std::ptrdiff_t>(cut.size() / 8), cut.end(), std::uint8_t{0xFF});
    struct Outcome {
        std::vector<std::string> results;
        std::vector<std::pair<std::string, Bytes>> files;
    };
    const auto run = [&](unsigned converters) {
        Fixture f;
        const fs::path ref2 = f.dir.path() / "ref2";
        fs::create_directory(ref2);
        WriteFile(f.ref / "a.jww", a);
        WriteFile(f.ref / "b.jws", b);
        WriteFile(f.ref / "cut.jww", cut);
        WriteFile(ref2 / "cut.jww", c);
        WriteFile(f.ref / "d.jww", d);
        WriteFile(ref2 / "d.jww", a);
        WriteFile(f.out / "a.jww", Drawing(9));
        // Small files among them, written on the writing thread.
        WriteFile(f.ref / "s.jws", Figure(3));
        WriteFile(f.out / "s.jws", Figure(8));
        WriteFile(ref2 / "s.jws", Figure(4));
        WriteFile(f.ref / "t.jws", Figure(5));
        BatchJob job = f.Job({"a.jww", "b.jws", "s.jws", "cut.jww"});
        job.items.push_back({U16(ref2.string()), u"cut.jww"});
        job.items.push_back({job.referenceFolder, u"t.jws"});
        job.items.push_back({job.referenceFolder, u"d.jww"});
        job.items.push_back({U16(ref2.string()), u"d.jww"});
        job.items.push_back({U16(ref2.string()), u"s.jws"});
        job.converters = converters;
        const BatchSummary s = f.Run(job);
        Outcome o;
        for (const BatchFileResult& r : f.rep.results)
            o.results.push_back(Utf16ToUtf8(r.name) + " " + ReasonText(r.reason) + " " + std::to_string(r.changedPoints) +
                                (r.backup.empty() ? "" : " backup"));
        for (const auto& entry : fs::directory_iterator(f.out))
            o.files.emplace_back(entry.path().filename().string(), ReadFile(entry.path()));
        std::sort(o.files.begin(), o.files.end());
        EXPECT_EQ(s.converted, 6);
        return o;
    };
    const Outcome alone = run(1), sideBySide = run(3);
    EXPECT_EQ(sideBySide.results, alone.results);
    ASSERT_EQ(alone.results.size(), 9u);
    EXPECT_NE(alone.results[2].find("backup"), std::string::npos) << alone.results[2];
    EXPECT_NE(alone.results[3].find(ReasonText(NotConvertedReason::ReadFailed)), std::string::npos) << alone.results[3];
    for (std::size_t i : {7, 8})
        EXPECT_NE(alone.results[i].find(ReasonText(NotConvertedReason::DuplicateTarget)), std::string::npos);
    ASSERT_EQ(sideBySide.files.size(), alone.files.size());
    for (std::size_t i = 0; i < alone.files.size(); ++i) {
        EXPECT_EQ(sideBySide.files[i].first, alone.files[i].first);
        EXPECT_TRUE(sideBySide.files[i].second == alone.files[i].second) << alone.files[i].first;
    }
}

TEST(BatchTest, EveryItemFolderIsCheckedAgainstTheOutput) {
    Fixture f;
    WriteFile(f.out / "plan.jws", Figure(1));
    BatchJob job = f.Job({});
    job.referenceFolder.clear();
    job.items.push_back({U16(f.out.string() + "/"), u"plan.jws"});
    EXPECT_EQ(f.Run(job).check, BatchCheck::SameAsReference);
    EXPECT_EQ(f.FirstPoint(f.out / "plan.jws").bKariten, 1u);
}


// Bound images stay in memory during a run: images with names that are no
// safe file name come back byte for byte, two images of one name do not
// share bytes, and nothing is written outside the output folder.
TEST(BatchTest, BoundImagesComeBackWhateverTheirNames) {
    Fixture f;
    const std::vector<std::pair<std::string, Bytes>> images = {
        {"../escape.bmp", Bytes(40, 1)}, {"C:x.bmp", Bytes(30, 2)}, {"CON.bmp", Bytes(20, 3)},
        {"pic.bmp", Bytes(50, 4)},       {"pic.bmp", Bytes(60, 5)}};
    BodyBuilder body(700);
    body.Add(Temp(1, 1));
    for (const auto& [name, data] : images) body.Add(TextSpec{"^@BM%temp%" + name + ",100,100,0,0,1,0"});
    ByteBuilder section;
    section.u32(static_cast<std::uint32_t>(images.size()));
    for (const auto& [name, data] : images) ImageEntry(section, name, data);
    WriteFile(f.ref / "img.jww", BuildJww(700, body.Build(), section.data()));
    const BatchSummary s = f.Run(f.Job({"img.jww"}));
    ASSERT_EQ(s.converted, 1) << f.rep.results.at(0).detail;
    TJwwData back;
    back.BindImageExr = true;
    ASSERT_TRUE(back.FileIn(U16((f.out / "img.jww").string()))) << back.LastError();
    // A text names an image by the first entry of that name, so the second
    // pic.bmp is referred to by no text and is left out; the first keeps its
    // own bytes.
    ASSERT_EQ(back.BindImageN, static_cast<std::int32_t>(images.size()) - 1);
    for (std::size_t i = 0; i + 1 < images.size(); ++i) {
        EXPECT_EQ(back.BindImage[i].Fname, U16(images[i].first));
        EXPECT_EQ(back.BindImage[i].data, images[i].second) << images[i].first;
    }
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(f.dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"img.jww", "img.jww", "out", "ref", "work"}));
}

}  // namespace
}  // namespace tervalo
