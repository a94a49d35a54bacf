// How converted files, backups and settings reach the disk: never through a
// link or into a special file, never torn by a failure, a stop or a second
// run into the same folder.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "convert/batch.h"
#include "convert/file_convert.h"
#include "convert/settings_file.h"
#include "convert_drawings.h"
#include "fs/fsutil.h"
#include "fs/platform.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

using namespace tervalo::test;
namespace fs = std::filesystem;

struct Reporter : BatchReporter {
    std::vector<BatchFileResult> results;
    void Message(const std::u16string&) override {}
    void Status(const std::u16string&) override {}
    void FileResult(const BatchFileResult& r) override { results.push_back(r); }
};

Bytes Figure(double x, int points = 1) {
    BodyBuilder body(700);
    for (int i = 0; i < points; ++i) body.Add(Temp(x + i, 0));
    return BuildJws(700, body.Build());
}

// The converted output of a figure, as the conversion builds it.
Bytes Converted(const Bytes& source) {
    TempDir dir;
    WriteFile(dir.path() / "s.jws", source);
    TJwsData jws;
    Bytes out;
    EXPECT_TRUE(ConvertJwsToBuffer(jws, ConvertDirection::ToReal, dir.file("s.jws"), TConvertOptions{}, out));
    return out;
}

// Names in the folder that a write left behind.
std::vector<std::string> Leftovers(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind(".tervalo-", 0) == 0) names.push_back(e.path().filename().string());
    return names;
}

struct Fixture {
    TempDir dir;
    fs::path ref = dir.path() / "ref", out = dir.path() / "out";
    TJwwData jww;
    TJwsData jws;
    Reporter rep;
    Fixture() {
        fs::create_directory(ref);
        fs::create_directory(out);
    }
    BatchSummary Run(const std::vector<std::string>& names) {
        BatchJob job;
        job.referenceFolder = U16(ref.string());
        job.outputFolder = U16(out.string());
        for (const auto& n : names) job.items.push_back({job.referenceFolder, U16(n)});
        rep.results.clear();
        return RunBatch(job, {jww, jws}, rep);
    }
};

// A link, folder or special file at the target or backup name is refused
// without being opened; a hard-linked target is replaced by name only.
TEST(SafeWrite, LinksAndSpecialFilesInTheOutputFolder) {
#ifdef _WIN32
    GTEST_SKIP() << "needs symbolic links and FIFOs (mkfifo)";
#else
    struct Case {
        const char* what;
        std::function<void(Fixture&)> make;
        NotConvertedReason reason;
        const char* detail;  // the end of the reported detail
    };
    const Bytes outside = {0xAA, 0xBB};
    const Case cases[] = {
        {"symbolic link at the target", [](Fixture& f) { fs::create_symlink(f.dir.path() / "outside", f.out / "plan.jws"); },
         NotConvertedReason::NotAPlainFile, "plan.jws is a symbolic link"},
        {"dangling link at the target",
         [](Fixture& f) { fs::create_symlink(f.dir.path() / "created", f.out / "plan.jws"); },
         NotConvertedReason::NotAPlainFile, "plan.jws is a symbolic link"},
        {"folder at the target", [](Fixture& f) { fs::create_directory(f.out / "plan.jws"); },
         NotConvertedReason::NotAPlainFile, "plan.jws is a folder"},
        {"FIFO at the target", [](Fixture& f) { ASSERT_EQ(::mkfifo((f.out / "plan.jws").c_str(), 0600), 0); },
         NotConvertedReason::NotAPlainFile, "plan.jws is not a regular file (a FIFO, socket or device)"},
        {"symbolic link at the backup",
         [](Fixture& f) {
             WriteFile(f.out / "plan.jws", {1});
             fs::create_symlink(f.dir.path() / "outside", f.out / "plan.BAK");
         },
         NotConvertedReason::NotAPlainFile, "plan.BAK is a symbolic link"},
        {"FIFO at the backup",
         [](Fixture& f) {
             WriteFile(f.out / "plan.jws", {1});
             ASSERT_EQ(::mkfifo((f.out / "plan.BAK").c_str(), 0600), 0);
         },
         NotConvertedReason::NotAPlainFile, "plan.BAK is not a regular file (a FIFO, socket or device)"},
        {"hard link at the target", [](Fixture& f) { fs::create_hard_link(f.dir.path() / "outside", f.out / "plan.jws"); },
         NotConvertedReason::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        WriteFile(f.ref / "plan.jws", Figure(1));
        WriteFile(f.dir.path() / "outside", outside);
        c.make(f);
        const BatchSummary s = f.Run({"plan.jws"});
        ASSERT_EQ(f.rep.results.size(), 1u);
        const BatchFileResult& r = f.rep.results[0];
        EXPECT_EQ(r.reason, c.reason) << r.detail;
        EXPECT_TRUE(r.detail.size() >= std::strlen(c.detail) &&
                    r.detail.compare(r.detail.size() - std::strlen(c.detail), std::string::npos, c.detail) == 0)
            << r.detail;
        EXPECT_EQ(ReadFile(f.dir.path() / "outside"), outside) << "the file behind a link keeps its bytes";
        EXPECT_FALSE(fs::exists(f.dir.path() / "created"));
        EXPECT_TRUE(Leftovers(f.out).empty());
        if (c.reason == NotConvertedReason::None) {
            EXPECT_EQ(s.converted, 1);
            EXPECT_EQ(ReadFile(f.out / "plan.jws"), Converted(Figure(1)));
            EXPECT_EQ(ReadFile(f.out / "plan.BAK"), outside);
        } else {
            EXPECT_EQ(s.notConverted, 1);
        }
    }
#endif
}

// The new target keeps the permission bits of the file it replaces; the
// backup keeps the time stamps and permission bits of the file it copies.
TEST(SafeWrite, ReplacedFilesKeepTheirModeAndTheBackupItsTimes) {
#ifdef _WIN32
    GTEST_SKIP() << "checks POSIX permission bits and sets times with utimensat";
#else
    Fixture f;
    WriteFile(f.ref / "plan.jws", Figure(1));
    WriteFile(f.out / "plan.jws", {5, 5});
    fs::permissions(f.out / "plan.jws", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const timespec times[2] = {{1500000000, 1}, {1600000000, 2}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (f.out / "plan.jws").c_str(), times, 0), 0);
    ASSERT_EQ(f.Run({"plan.jws"}).converted, 1);
    struct stat target {}, backup {};
    ASSERT_EQ(::stat((f.out / "plan.jws").c_str(), &target), 0);
    ASSERT_EQ(::stat((f.out / "plan.BAK").c_str(), &backup), 0);
    EXPECT_EQ(target.st_mode & 0777, 0640u);
    EXPECT_EQ(backup.st_mode & 0777, 0640u);
    EXPECT_EQ(backup.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(backup.st_mtim.tv_nsec, 2);
    EXPECT_EQ(ReadFile(f.out / "plan.BAK"), (Bytes{5, 5}));
#endif
}

// A write that fails at any step (here: the disk is full) leaves the target
// and the older backup as they were and no new file behind, and fails that
// file alone: the other file written with it is put in place. A source that
// cannot be read touches nothing at all.
TEST(SafeWrite, AFailureAtAnyStepLeavesTheOutputFolderAsItWas) {
    const Bytes target = Figure(7), older = {9, 9, 9};
    int failedRuns = 0, bothFailed = 0;
    for (int step = 1;; ++step) {
        SCOPED_TRACE("failing step " + std::to_string(step));
        Fixture f;
        WriteFile(f.ref / "plan.jws", Figure(1));
        WriteFile(f.ref / "next.jws", Figure(2));  // nothing there yet in "out"
        Bytes cut = Figure(1, 3);
        cut.resize(cut.size() - 5);  // passes the version check, cannot be read
        WriteFile(f.ref / "cut.jws", cut);
        WriteFile(f.out / "plan.jws", target);
        WriteFile(f.out / "plan.BAK", older);
        WriteFile(f.out / "cut.jws", target);
        platform::FailWriteStepForTesting(step);
        const BatchSummary s = f.Run({"cut.jws", "plan.jws", "next.jws"});
        const int steps = platform::FailWriteStepForTesting(0);
        EXPECT_EQ(f.rep.results.at(0).reason, NotConvertedReason::ReadFailed);
        EXPECT_EQ(ReadFile(f.out / "cut.jws"), target);
        EXPECT_FALSE(fs::exists(f.out / "cut.BAK"));
        EXPECT_TRUE(Leftovers(f.out).empty());
        const Bytes backup = ReadFile(f.out / "plan.BAK");
        if (s.converted == 2) {
            // Every step passed: the fault came after the last one.
            EXPECT_LT(steps, step);
            EXPECT_EQ(ReadFile(f.out / "plan.jws"), Converted(Figure(1)));
            EXPECT_EQ(ReadFile(f.out / "next.jws"), Converted(Figure(2)));
            EXPECT_EQ(backup, target);
            break;
        }
        ++failedRuns;
#ifdef _WIN32
        const std::string diskFull = platform::ErrorText({112, std::system_category()});  // ERROR_DISK_FULL
#else
        const std::string diskFull = "No space left on device";
#endif
        const BatchFileResult &plan = f.rep.results.at(1), &next = f.rep.results.at(2);
        if (s.converted == 0) {
            // Only flushing the folder once both are in place fails both:
            // they are there, but are not counted as they might not survive
            // a crash; the backup keeps the earlier target.
            ++bothFailed;
            for (const BatchFileResult* r : {&plan, &next}) {
                EXPECT_EQ(r->reason, NotConvertedReason::WriteFailed);
                EXPECT_NE(r->detail.find("could not be flushed"), std::string::npos) << r->detail;
            }
            EXPECT_EQ(backup, target);
            continue;
        }
        const bool planFailed = plan.reason != NotConvertedReason::None;
        const BatchFileResult& r = planFailed ? plan : next;
        EXPECT_TRUE(r.reason == NotConvertedReason::WriteFailed || r.reason == NotConvertedReason::BackupFailed);
        EXPECT_NE(r.detail.find(diskFull), std::string::npos) << r.detail;
        if (planFailed) {
            EXPECT_EQ(ReadFile(f.out / "plan.jws"), target);
            EXPECT_EQ(ReadFile(f.out / "next.jws"), Converted(Figure(2)));
            // Once the backup is in place (failures of flushing it or of
            // putting the target in place), it holds the target.
            EXPECT_TRUE(backup == older || backup == target);
        } else {
            EXPECT_FALSE(fs::exists(f.out / "next.jws"));
            EXPECT_EQ(ReadFile(f.out / "plan.jws"), Converted(Figure(1)));
            EXPECT_EQ(backup, target);
        }
    }
    EXPECT_GE(failedRuns, 12) << "two new files and a backup take at least twelve steps";
    EXPECT_EQ(bothFailed, 1);

    // The settings file the same way: the previous settings survive.
    TempDir dir;
    TSettingsData before, after;
    before.FormLeft = 11;
    after.FormLeft = 22;
    ASSERT_TRUE(SaveSettingsFile(dir.file("t.dat"), before));
    const Bytes saved = ReadFile(dir.path() / "t.dat");
    for (int step = 1;; ++step) {
        platform::FailWriteStepForTesting(step);
        const bool ok = SaveSettingsFile(dir.file("t.dat"), after);
        platform::FailWriteStepForTesting(0);
        EXPECT_TRUE(Leftovers(dir.path()).empty());
        if (ok) break;
        EXPECT_EQ(ReadFile(dir.path() / "t.dat"), saved) << "step " << step;
    }
    TSettingsData loaded;
    ASSERT_TRUE(LoadSettingsFile(dir.file("t.dat"), loaded));
    EXPECT_EQ(loaded.FormLeft, 22);
}

// --- Whole runs of tervalo-cli: stopped by a signal, and two at once ----------------

#ifndef _WIN32
pid_t StartCli(const std::vector<std::string>& args, const fs::path& stdoutFile) {
    std::vector<std::string> all = {TERVALO_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    return StartProcess(all, stdoutFile, true);
}
#endif

// Large figures in "ref", and the earlier versions of their targets in "out".
struct CliFixture {
    TempDir dir;
    fs::path ref = dir.path() / "ref", out = dir.path() / "out";
    std::vector<std::string> names;
    Bytes old, converted;
    explicit CliFixture(int files, int points = 60000) {
        fs::create_directory(ref);
        fs::create_directory(out);
        const Bytes figure = Figure(3, points);
        converted = Converted(figure);
        old = Figure(8);
        for (int i = 0; i < files; ++i) {
            names.push_back("f" + std::to_string(i) + ".jws");
            WriteFile(ref / names.back(), figure);
            WriteFile(out / names.back(), old);
        }
    }
    std::vector<std::string> Args() const { return {"convert", "--to-real", "-o", out.string(), ref.string()}; }
    // Every target and backup is a whole file: the earlier one or the
    // converted one. Returns how many targets were converted.
    int CheckWhole() const {
        int done = 0;
        for (const std::string& n : names) {
            const Bytes t = ReadFile(out / n);
            EXPECT_TRUE(t == old || t == converted) << n << " is torn (" << t.size() << " bytes)";
            done += t == converted;
            const fs::path bak = out / (n.substr(0, n.size() - 4) + ".BAK");
            if (fs::exists(bak)) {
                const Bytes b = ReadFile(bak);
                EXPECT_TRUE(b == old || b == converted) << bak << " is torn (" << b.size() << " bytes)";
            }
        }
        EXPECT_TRUE(Leftovers(out).empty());
        return done;
    }
};

// A large new file is flushed while it is still being written; whichever way
// it ends, the target is whole or untouched and nothing is left behind.
TEST(SafeWrite, LargeFilesFlushedWhileWrittenEndWholeOrNotAtAll) {
    Bytes piece(1 << 20);
    for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
    constexpr int kPieces = 20;
    enum class End { Now, Later, Discard, Dropped };
    for (const End end : {End::Now, End::Later, End::Discard, End::Dropped}) {
        SCOPED_TRACE(static_cast<int>(end));
        TempDir dir;
        const fs::path target = dir.path() / "big.jww";
        WriteFile(target, Bytes{1, 2, 3});
        {
            platform::PendingFile file;
            ASSERT_FALSE(file.Open(target));
            for (int k = 0; k < kPieces; ++k) {
                piece[0] = static_cast<std::uint8_t>(k);
                ASSERT_FALSE(file.Write(piece));
            }
            if (end == End::Now || end == End::Later) {
                ASSERT_FALSE(file.Finish(end == End::Now ? platform::Flush::Now : platform::Flush::Later));
                ASSERT_FALSE(file.Commit());
            } else if (end == End::Discard) {
                file.Discard();
            }
        }
        const Bytes got = ReadFile(target);
        if (end == End::Now || end == End::Later) {
            ASSERT_EQ(got.size(), piece.size() * kPieces);
            for (int k = 0; k < kPieces; ++k) {
                piece[0] = static_cast<std::uint8_t>(k);
                EXPECT_TRUE(std::equal(piece.begin(), piece.end(), got.begin() + k * piece.size())) << "piece " << k;
            }
        } else {
            EXPECT_EQ(got, (Bytes{1, 2, 3}));
        }
        EXPECT_TRUE(Leftovers(dir.path()).empty());
    }
}

// A new file finished for a later flush is opened again by its name to be
// flushed: a link put under that name meanwhile is neither followed nor put
// in place, and goes with the new file.
TEST(SafeWrite, ALinkInPlaceOfAFinishedNewFileIsRefused) {
    TempDir dir;
    const fs::path target = dir.path() / "a.jww", other = dir.path() / "other.jww";
    WriteFile(other, Bytes{9});
    platform::FolderFlush flush(dir.path());
    platform::PendingFile file;
    ASSERT_FALSE(file.Open(target));
    ASSERT_FALSE(file.Write(Bytes{1, 2, 3}));
    ASSERT_FALSE(file.Finish(platform::Flush::Later));
    const fs::path temp = file.TempPath();
    fs::remove(temp);
    std::error_code ec;
    fs::create_symlink(other, temp, ec);
    if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
    platform::PendingFile* files[] = {&file};
    EXPECT_TRUE(flush.FlushFiles(files)[0]);
    EXPECT_TRUE(file.Commit());
    EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
    EXPECT_TRUE(Leftovers(dir.path()).empty());
    EXPECT_EQ(ReadFile(other), Bytes{9});
}

TEST(SafeWrite, ARunStoppedBySignalLeavesNoTornFile) {
#ifdef _WIN32
    GTEST_SKIP() << "starts tervalo-cli with posix_spawn and stops it with POSIX signals";
#else
    std::mt19937 random(12345);
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Rounds 8 and 9 stop a run of many small files, which goes in
        // several groups, one put in place while the next converts.
        const bool small = round >= 8;
        CliFixture f(small ? 700 : 6, small ? 4 : 60000);
        const pid_t pid = StartCli(f.Args(), f.dir.path() / "stdout");
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(small ? 150 + random() % 200 : random() % 120));
        // The last rounds end the run as the out-of-memory killer would: it
        // cannot clean up, so the next run into the folder does.
        const int sig = round == 6 || round == 7 ? SIGKILL : round % 2 ? SIGINT : SIGTERM;
        ::kill(pid, sig);
        const ProcessEnd end = WaitProcess(pid);
        ASSERT_TRUE(end.signal != 0 || end.exitCode >= 0);
        if (end.signal) EXPECT_EQ(end.signal, sig);
        else EXPECT_EQ(end.exitCode, 0) << "the run ended before the signal";
        if (sig == SIGKILL) {
            // Left behind a second ago; the next run, a second later, must
            // take them for old and not for another run's.
            for (const std::string& n : Leftovers(f.out))
                fs::last_write_time(f.out / n, fs::last_write_time(f.out / n) - std::chrono::seconds(2));
            const pid_t next = StartCli({"convert", "--to-real", "-o", f.out.string(), (f.ref / f.names[0]).string()},
                                        f.dir.path() / "next");
            ASSERT_GT(next, 0);
            WaitProcess(next);
        }
        const int done = f.CheckWhole();
        // Each file reported as converted was written whole.
        const Bytes out = ReadFile(f.dir.path() / "stdout");
        const std::string text(out.begin(), out.end());
        int reported = 0;
        for (std::size_t p = 0; (p = text.find("converted: ", p)) != std::string::npos; p += 11)
            if (p == 0 || text[p - 1] == '\n') ++reported;
        EXPECT_LE(reported, done);
    }
#endif
}

// New files left by a run that was killed go with the next run into the
// folder; those of a run still at work there, and newer ones, stay.
TEST(SafeWrite, LeftoversGoOnlyWhenNoOtherRunIsAtWork) {
    Fixture f;
    WriteFile(f.ref / "a.jws", Figure(1));
    const fs::path stale = f.out / ".tervalo-0123456789abcdef.tmp", fresh = f.out / ".tervalo-fedcba9876543210.tmp",
                   other = f.out / ".tervalo-notours.tmp";
    for (const fs::path& p : {stale, fresh, other}) WriteFile(p, {1});
    for (const fs::path& p : {stale, other}) fs::last_write_time(p, fs::last_write_time(p) - std::chrono::hours(1));
    fs::last_write_time(fresh, fs::last_write_time(fresh) + std::chrono::hours(1));
    {
        platform::FolderFlush otherRun(f.out);  // another run's new files may lie here
        EXPECT_EQ(f.Run({"a.jws"}).converted, 1);
        EXPECT_TRUE(fs::exists(stale));
    }
    EXPECT_EQ(f.Run({"a.jws"}).converted, 1);
#ifdef _WIN32
    EXPECT_TRUE(fs::exists(stale));  // nothing tells a live file from an abandoned one there
#else
    EXPECT_FALSE(fs::exists(stale));
#endif
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(other));

    // What the layer takes for its own names, and where one flush of the
    // file system is trusted to reach the device.
    for (const char* name : {".tervalo-0123456789abcdef.tmp", ".tervalo-00000000000000ff.tmp"})
        EXPECT_TRUE(platform::IsPendingFileName(name)) << name;
    for (const char* name : {".tervalo-0123456789ABCDEF.tmp", ".tervalo-0123456789abcde.tmp", "tervalo-0123456789abcdef.tmp",
                             ".tervalo-0123456789abcdef.tmp.BAK", ".tervalo-0123456789abcdeg.tmp", ""})
        EXPECT_FALSE(platform::IsPendingFileName(name)) << name;
    const struct {
        std::int64_t type;
        bool whole;
    } types[] = {
        {0xEF53, true},      {0x58465342, true}, {0x9123683E, true}, {0x01021994, true},  // ext4, XFS, Btrfs, tmpfs
        {0x65735546, false}, {0x6969, false},    {0xFF534D42, false}, {0xFE534D42, false},  // FUSE, NFS, CIFS, SMB2
        {0x517B, false},     {0x01021997, false}, {0x00C36400, false}, {0, false},          // SMB, 9p, Ceph, unknown
        // A signed 32-bit f_type of the same numbers.
        {static_cast<std::int32_t>(0x9123683Eu), true}, {static_cast<std::int32_t>(0xFF534D42u), false}};
    for (const auto& t : types) EXPECT_EQ(platform::FlushOfFileSystemReachesDevice(t.type), t.whole) << std::hex << t.type;
}

// A target that cannot be read is neither taken for different (which would
// replace its backup, maybe the user's earlier file, with a copy of it) nor
// for the same: its file fails with the reason, and nothing changes.
TEST(SafeWrite, ATargetThatCannotBeReadChangesNothing) {
    Fixture f;
    WriteFile(f.ref / "plan.jws", Figure(1));
    ASSERT_EQ(f.Run({"plan.jws"}).converted, 1);
    WriteFile(f.out / "plan.BAK", {9, 9});  // the user's earlier file
    const Bytes target = ReadFile(f.out / "plan.jws");
    platform::FailReadsForTesting(f.out / "plan.jws");
    for (bool dryRun : {false, true}) {
        SCOPED_TRACE(dryRun ? "dry run" : "run");
        BatchJob job;
        job.outputFolder = U16(f.out.string());
        job.items.push_back({U16(f.ref.string()), u"plan.jws"});
        job.dryRun = dryRun;
        f.rep.results.clear();
        const BatchSummary s = RunBatch(job, {f.jww, f.jws}, f.rep);
        ASSERT_EQ(f.rep.results.size(), 1u);
        EXPECT_EQ(f.rep.results[0].reason, NotConvertedReason::BackupFailed);
        EXPECT_NE(f.rep.results[0].detail.find("cannot read"), std::string::npos) << f.rep.results[0].detail;
        EXPECT_EQ(s.converted, 0);
    }
    platform::FailReadsForTesting({});
    EXPECT_EQ(ReadFile(f.out / "plan.BAK"), (Bytes{9, 9}));
    EXPECT_EQ(ReadFile(f.out / "plan.jws"), target);
    EXPECT_TRUE(Leftovers(f.out).empty());
}

// A run that finds another run putting files into its output folder waits,
// says so once after a second, and then goes on.
TEST(SafeWrite, ARunWaitingForAnotherSaysSo) {
    struct Waiting : Reporter {
        std::vector<std::u16string> folders;
        std::atomic<bool> told{false};
        void WaitingForFolder(const std::filesystem::path& folder) override {
            folders.push_back(folder.u16string());
            told = true;
        }
    };
    Fixture f;
    WriteFile(f.ref / "a.jws", Figure(1));
    Waiting rep;
    std::atomic<bool> locked{false};
    // The other run lets go once this one has said that it waits (or after
    // ten seconds, so that a run that never says so still ends).
    std::thread other([&] {
        platform::FolderLock lock(f.out);
        locked = true;
        for (int i = 0; i < 1000 && !rep.told; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    while (!locked) std::this_thread::yield();
    BatchJob job;
    job.outputFolder = U16(f.out.string());
    job.items.push_back({U16(f.ref.string()), u"a.jws"});
    const auto start = std::chrono::steady_clock::now();
    const BatchSummary s = RunBatch(job, {f.jww, f.jws}, rep);
    const auto waited = std::chrono::steady_clock::now() - start;
    other.join();
    EXPECT_EQ(s.converted, 1);
    ASSERT_EQ(rep.folders.size(), 1u);
    EXPECT_EQ(rep.folders[0], U16(f.out.string()));
    EXPECT_GE(waited, std::chrono::seconds(1));  // it says so only after a second of waiting
    EXPECT_EQ(WaitingStatusText(u"out"), u"別の変換が「out」にファイルを置き終わるのを待っています。");
}

TEST(SafeWrite, TwoRunsIntoOneFolderLeaveWholeFiles) {
#ifdef _WIN32
    GTEST_SKIP() << "starts tervalo-cli with posix_spawn and stops it with POSIX signals";
#else
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CliFixture f(5);
        const pid_t a = StartCli(f.Args(), f.dir.path() / "a");
        const pid_t b = StartCli(f.Args(), f.dir.path() / "b");
        ASSERT_GT(a, 0);
        ASSERT_GT(b, 0);
        EXPECT_EQ(WaitProcess(a).exitCode, 0);
        EXPECT_EQ(WaitProcess(b).exitCode, 0);
        EXPECT_EQ(f.CheckWhole(), 5);
        // The second run found its conversion already in place and kept the
        // backup of the previous file.
        for (const std::string& n : f.names)
            EXPECT_EQ(ReadFile(f.out / (n.substr(0, n.size() - 4) + ".BAK")), f.old) << n;
    }
#endif
}

}  // namespace
}  // namespace tervalo
