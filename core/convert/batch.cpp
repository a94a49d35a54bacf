#include "convert/batch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "archive/io_error.h"
#include "convert/file_convert.h"
#include "fs/fsutil.h"
#include "fs/platform.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "text/converter.h"
#include "text/func.h"

namespace tervalo {

namespace {

namespace fs = std::filesystem;
using platform::NodeInfo;
using platform::NodeKind;

constexpr char kNotEnoughMemory[] = "not enough memory to read this drawing";

bool IsConvertedKind(const std::u16string& ext) { return ext == u".jww" || ext == u".jws"; }
bool IsListedKind(const std::u16string& ext) {
    return IsConvertedKind(ext) || ext == u".jwc" || ext == u".jwk";
}

// The file of a name in a folder; empty for a name no file name can hold.
fs::path JoinPath(const fs::path& folder, const std::u16string& name) {
    fs::path p;
    if (!platform::PathFromText(name, p)) return {};
    return folder / p;
}

// What a path stands for; Missing also for an empty path.
NodeInfo InspectPath(const fs::path& path, bool followLinks) {
    NodeInfo info;
    if (!path.empty()) platform::Inspect(path, followLinks, info);
    return info;
}

// The identity of an existing file (links followed), to recognise one file
// under several names without comparing every pair of paths.
std::optional<platform::FileId> IdOf(const fs::path& path) {
    const NodeInfo info = InspectPath(path, true);
    if (info.kind == NodeKind::Missing) return std::nullopt;
    return info.id;
}

// The folder a path names, for folders that do not exist (yet): absolute,
// with links resolved as far as the path exists and "." and ".." removed.
fs::path NormalFolder(const fs::path& p) {
    if (p.empty()) return {};
    std::error_code ec;
    fs::path absolute = fs::absolute(p, ec);
    if (ec) absolute = p;
    fs::path canonical = fs::weakly_canonical(absolute, ec);
    fs::path normal = (ec ? absolute : canonical).lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
    return normal;
}

// "out/plan.jww is a symbolic link" for a name that must not be replaced.
std::string NotAPlainFileText(const fs::path& path, NodeKind kind) {
    const platform::FsError e = kind == NodeKind::Symlink     ? platform::FsError::IsLink
                                : kind == NodeKind::Directory ? platform::FsError::IsDirectory
                                                              : platform::FsError::IsSpecial;
    return PathUtf8(path) + " " + platform::ErrorText(platform::MakeError(e));
}

// The folder that receives an item: the output folder, or a folder below it.
fs::path OutputFolderOf(const BatchJob& job, const BatchItem& item) {
    return item.subfolder.empty() ? job.outputFolder : job.outputFolder / item.subfolder;
}

bool IsPlainOrMissing(NodeKind kind) { return kind == NodeKind::Regular || kind == NodeKind::Missing; }

// The form in which the run compares paths: case folded, since names that a
// case-insensitive file system takes for one (plan.BAK and Plan.BAK, ＡＢ and
// ａｂ) lead to one file there, and some such file systems even give each
// spelling its own identity. On a case-sensitive folder this costs at most
// a plan.jws.BAK name or a refused duplicate, never a lost file.
std::u16string Folded(const std::u16string& path) { return textconv::FoldCase(path); }
std::u16string Folded(const fs::path& path) { return Folded(platform::TextFromPath(path)); }

// Paths already used by the run, recognised by their text (letter case
// aside) or, once they exist, by the file they lead to.
class PathSet {
public:
    // Adds a path whose file stays as it is for the rest of the run.
    void Add(const fs::path& path) {
        AddText(path);
        Refresh(path);
    }
    // The same for a path that leads to a file (links followed); false, and
    // nothing added, for any other path.
    bool AddFile(const fs::path& path) {
        const NodeInfo info = InspectPath(path, true);
        if (info.kind != NodeKind::Regular) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.insert(Folded(path));
        ids_.insert(info.id);
        return true;
    }
    // Adds a path by its text only (its file is about to be replaced, and the
    // identity of a replaced file may be given to another one).
    void AddText(const fs::path& path) {
        std::u16string folded = Folded(path);
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.insert(std::move(folded));
    }
    // Takes back a path added by its text only.
    void RemoveText(const fs::path& path) {
        const std::u16string folded = Folded(path);
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.erase(folded);
    }
    void AddId(const platform::FileId& id) {
        std::lock_guard<std::mutex> lock(mutex_);
        ids_.insert(id);
    }
    // Records the file a path leads to now.
    void Refresh(const fs::path& path) {
        if (auto id = IdOf(path)) {
            std::lock_guard<std::mutex> lock(mutex_);
            ids_.insert(*id);
        }
    }
    bool Contains(const fs::path& path) const {
        if (HasText(path)) return true;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (ids_.empty()) return false;
        }
        auto id = IdOf(path);
        std::lock_guard<std::mutex> lock(mutex_);
        return id && ids_.count(*id);
    }
    // The same, given what the name itself is now (links not followed): only
    // a link still has to be followed to know the file it leads to.
    bool Contains(const fs::path& path, const NodeInfo& name) const {
        if (name.kind == NodeKind::Symlink) return Contains(path);
        if (HasText(path)) return true;
        std::lock_guard<std::mutex> lock(mutex_);
        return name.kind != NodeKind::Missing && ids_.count(name.id) != 0;
    }
    // Whether the path itself was added (found when it was added, for AddFile).
    bool HasText(const fs::path& path) const {
        const std::u16string folded = Folded(path);
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_.count(folded) != 0;
    }

private:
    struct IdHash {
        std::size_t operator()(const platform::FileId& id) const {
            return std::hash<std::uint64_t>()(id.file * 0x9E3779B97F4A7C15ull ^ id.volume);
        }
    };
    // A run over thousands of files looks every target up: hashed, not searched.
    std::unordered_set<std::u16string> texts_;  // case folded
    std::unordered_set<platform::FileId, IdHash> ids_;
    // The group being put in place and the one being converted share the sets.
    mutable std::mutex mutex_;
};

// Whether an existing target already holds exactly the bytes of a new file.
// A target that cannot be read is neither: its backup must not be replaced
// on a guess (it may keep the user's previous file), so its file fails.
struct Comparison {
    bool same = false;
    std::error_code error;  // the target could not be read
};

// Compares the target with the new file (or, in a dry run, with the bytes
// it would get), piece by piece.
Comparison CompareTarget(const fs::path& target, const fs::path* newFile, const Bytes* bytes) {
    Comparison c;
    platform::InputFile ft, fn;
    if ((c.error = ft.Open(target))) return c;
    std::uint64_t size = bytes ? bytes->size() : 0;
    if (newFile) {
        // The new file is this run's own: a failure to read it only means
        // that no comparison could be made, and the target is replaced.
        if (fn.Open(*newFile)) return c;
        size = fn.size();
    }
    if (ft.size() != size) return c;
    std::vector<std::uint8_t> bt(64 * 1024), bn(newFile ? 64 * 1024 : 0);
    for (std::uint64_t at = 0;;) {
        std::size_t nt = 0, nn = 0;
        if ((c.error = ft.Read(bt, nt))) return c;
        const std::uint8_t* other = nullptr;
        if (newFile) {
            if (fn.Read(bn, nn)) return c;
            other = bn.data();
        } else {
            nn = static_cast<std::size_t>(std::min<std::uint64_t>(bt.size(), size - at));
            other = bytes->data() + at;
        }
        // Regular files deliver full pieces until their end.
        if (nt != nn) return c;
        if (nt == 0) {
            c.same = true;
            return c;
        }
        if (std::memcmp(bt.data(), other, nt) != 0) return c;
        at += nt;
    }
}

std::string CannotReadTargetText(const fs::path& target, const std::error_code& ec) {
    return "cannot read the existing " + PathUtf8(target) + " to compare it with the conversion: " +
           platform::ErrorText(ec);
}

// Files are put in place in groups: the new files of a group (and the backup
// copies they need) are written without a flush each, the file system is
// flushed once, and only then are the backups and the targets renamed. A
// group holds the files of one output folder and ends at these bounds, so
// that results still come promptly.
constexpr std::size_t kGroupFiles = 512;
// A stop removes every new file not yet in place: those of the group in
// flight with their backup copies, and those of the group being converted.
static_assert(3 * kGroupFiles <= platform::kMostPendingFiles);
constexpr std::uint64_t kGroupBytes = 32ull << 20;
constexpr auto kGroupTime = std::chrono::milliseconds(250);

// Files are converted side by side on threads of their own, as many as the
// machine has processors for (up to this many), while the run's own thread
// reads and checks the next files and reports results in order.
constexpr unsigned kMostConverters = 4;
// A file converting holds its drawing in memory (up to about 1.4 times a
// source of 8 MiB; larger ones are streamed and hold far less): a source that
// would bring the sources converting side by side above this many bytes
// waits until it can go alone.
constexpr std::uint64_t kSideBySideBytes = 32ull << 20;
// Files below this size are converted on the run's own thread.
constexpr std::uint64_t kHandedBytes = 1u << 20;
// Such a file is converted into memory and handed to the writing thread,
// which makes its new file while the run's thread reads and converts the
// next ones; at most this many files and bytes wait to be written.
constexpr std::size_t kMostWaitingWrites = 256;
constexpr std::uint64_t kWaitingWriteBytes = 16ull << 20;
// An output folder is listed once when at least this many items go there.
constexpr std::size_t kListedFolderItems = 64;
// The writing thread is woken when this many files wait for it.
constexpr std::size_t kWritesPerWake = 16;

// One item of a group: its result, and while it waits to be put in place,
// its new file and the backup copy of the file it replaces.
struct Entry {
    BatchFileResult r;
    fs::path backup;  // the backup name chosen when the names were checked
    fs::path target;
    std::unique_ptr<platform::PendingFile> file;  // set while the item waits
    std::unique_ptr<platform::PendingFile> copy;  // the backup copy, once made
    bool placed = false;  // the target was renamed into place
    bool claimed = false;  // this item holds its target's name in the run
    bool targetMissing = false;  // nothing was at the target when it was claimed
    std::uint64_t written = 0;  // bytes of its new file

    void Fail(NotConvertedReason reason, std::string detail) {
        r.reason = reason;
        r.outcome = FileOutcome::NotConverted;
        r.detail = std::move(detail);
        file.reset();  // removes the new file
        copy.reset();
    }
};

// The items of one output folder that go into place together: their
// results in order, and how many of them wait with a new file.
struct Group {
    // A deque: a file converting on another thread keeps its entry while
    // later ones are added.
    std::deque<Entry> entries;
    fs::path folder;
    std::unordered_set<std::u16string> names;  // the names its waiting files take, case folded
    std::unique_ptr<platform::FolderFlush> flush;
    std::size_t waiting = 0;
    std::uint64_t bytes = 0;
    std::chrono::steady_clock::time_point start;
};

class Converters;

// A file handed to another thread: its entry (in the group being converted)
// and either the source read for it, to be converted, or its converted
// bytes, to be written.
struct ConvertTask {
    Entry* entry = nullptr;
    Group* group = nullptr;
    Converters* server = nullptr;  // the threads it was handed to
    std::unique_ptr<SourceFile> source;
    Bytes output;
    std::uint64_t size = 0;  // the source's size, or the output's
    bool done = false;       // under the serving threads' mutex
};

// Threads that convert the files handed to them, each with containers of its
// own, one file at a time each.
class Converters {
public:
    using Work = std::function<void(ConvertTask&, BatchContainers)>;

    // Each thread gets containers made like `like`. The threads are woken
    // when `wakeAt` files wait (or one is waited for): short work is taken
    // in runs rather than a thread woken for each.
    Converters(unsigned count, BatchContainers like, Work work, std::size_t wakeAt = 1)
        : work_(std::move(work)), wakeAt_(wakeAt) {
        const BatchContainers first = like;
        try {
            for (unsigned i = 0; i < count; ++i) {
                own_.push_back(std::make_unique<Owned>());
                Owned& o = *own_.back();
                o.jww.BindImageExp = first.jww.BindImageExp;
                o.jww.BindImageExr = first.jww.BindImageExr;
                threads_.emplace_back([this, c = BatchContainers{o.jww, o.jws}] { Serve(c); });
            }
        } catch (...) {
            Stop();
            throw;
        }
    }
    ~Converters() { Stop(); }
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;

    void Start(ConvertTask& b) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(&b);
        if (queue_.size() >= wakeAt_) wake_.notify_one();
    }
    // Whether the file is converted; with `wait`, once it is.
    bool Done(ConvertTask& b, bool wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wait && !b.done) {
            wake_.notify_all();
            done_.wait(lock, [&] { return b.done; });
        }
        return b.done;
    }

private:
    struct Owned {
        TJwwData jww;
        TJwsData jws;
    };

    void Serve(BatchContainers c) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            ConvertTask* b = queue_.front();
            queue_.pop_front();
            lock.unlock();
            work_(*b, c);
            lock.lock();
            b->done = true;
            done_.notify_all();
        }
    }

    // Files not begun are left; the ones converting are finished first.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            queue_.clear();
            wake_.notify_all();
        }
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
    }

    Work work_;
    const std::size_t wakeAt_;
    std::vector<std::unique_ptr<Owned>> own_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<ConvertTask*> queue_;
    bool stop_ = false;
};

// How many files a run converts side by side (0: one after the other on the
// run's own thread). A dry run goes file by file: what it says of a backup
// depends on the files before it.
unsigned ConvertersFor(const BatchJob& job) {
    if (job.dryRun || job.items.size() < 2) return 0;
    const unsigned n = job.converters > 0 ? job.converters
                                          : std::min(std::max(std::thread::hardware_concurrency(), 1u), kMostConverters);
    return n >= 2 ? n : 0;
}

class Run {
public:
    Run(const BatchJob& job, BatchContainers containers, BatchReporter& reporter, BatchSummary& summary)
        : job_(job), containers_(containers), reporter_(reporter), summary_(summary),
          startSeconds_(static_cast<std::int64_t>(std::time(nullptr))) {
        for (const BatchItem& item : job.items) {
            const fs::path source = JoinPath(item.folder, item.name);
            if (!item.nameNotText) sources_.AddFile(source);
            ++itemsOfFolder_[OutputFolderOf(job_, item)];
        }
        if (const unsigned n = ConvertersFor(job)) {
            try {
                converters_ = std::make_unique<Converters>(n, containers_, [this](ConvertTask& t, BatchContainers c) {
                    Entry& e = *t.entry;
                    Settle(e, Guarded(e, [&] { return Build(e, *t.source, c, *t.group); }));
                });
                converterCount_ = n;
                writer_ = std::make_unique<Converters>(1, containers_, [this](ConvertTask& t, BatchContainers) {
                    Entry& e = *t.entry;
                    Settle(e, Guarded(e, [&] { return WriteOut(e, *t.group, t.output); }));
                }, kWritesPerWake);
            } catch (const std::system_error&) {
                // Without threads (or without the writing one), the run's
                // own thread does that work.
            }
        }
    }

    ~Run() {
        // Only when something threw past the run: its group is left to the
        // files' own clean-up.
        if (placer_.joinable()) placer_.join();
    }

    void Add(const BatchItem& item) {
        ReportIfPlaced();
        Collect(false);
        // Files of one group must not meet by name: when this item's target
        // or backup could be the name of one in a group not yet in place
        // (letter case aside), that group is put in place first, so the
        // checks of this item see it done, exactly as if each file went alone.
        const fs::path folder = OutputFolderOf(job_, item);
        std::vector<std::u16string> names;
        if (!item.nameNotText && IsConvertedKind(ExtLower(item.name))) {
            const std::u16string folded = textconv::FoldCase(item.name);
            names = {folded, ReplaceExt(folded, u".bak"), folded + u".bak"};
        }
        // By name alone, whatever the folder: two folder texts may lead to one
        // folder (letter case, a link), and a backup chosen beside a group
        // still in flight must see that group's backups made.
        const auto meets = [&](const Group& g) {
            return std::any_of(names.begin(), names.end(), [&](const auto& n) { return g.names.count(n) != 0; });
        };
        if (inFlight_ && meets(placing_)) WaitPlaced();
        if (group_.waiting > 0 && (folder != group_.folder || meets(group_))) {
            const bool wait = meets(group_);
            SendGroup();
            if (wait) WaitPlaced();
        }
        if (group_.waiting == 0 && folder != group_.folder) {
            group_.folder = folder;
            group_.flush.reset();  // it belongs to another folder
        }

        // Read and checked here, in the order of the items; a large file is
        // converted on a converter thread while the next ones are read, a
        // small one here (handing it over would cost more than it saves),
        // and its new file is written on the writing thread: the folder
        // takes one change at a time, and the run's thread goes on meanwhile.
        Entry e;
        std::unique_ptr<SourceFile> source;
        bool toWrite = false;
        Bytes output;
        if (Begin(item, e)) {
            source = TakeSource();
            const std::u16string& folded = names.empty() ? std::u16string() : names.front();
            NotConvertedReason reason = Guarded(e, [&] { return Check(e, *source, folder, folded); });
            if (reason != NotConvertedReason::None || !converters_ || source->fileSize() < kHandedBytes) {
                if (reason == NotConvertedReason::None) {
                    if (writer_) output = TakeOutput();
                    reason = Guarded(e, [&] { return Build(e, *source, containers_, group_, writer_ ? &output : nullptr); });
                    toWrite = writer_ && reason == NotConvertedReason::None;
                }
                if (!toWrite) {
                    Settle(e, reason);
                    group_.bytes += e.written;
                }
                reporter_.ConvertEnd();
                reporter_.Status(u"");
                freeSources_.push_back(std::move(source));
            }
        }
        if (!source && !e.file) {
            // Nothing waits: reported at once, unless files before it wait.
            if (group_.waiting == 0 && group_.entries.empty() && !inFlight_) Report(e);
            else group_.entries.push_back(std::move(e));
            return;
        }
        if (group_.waiting++ == 0) group_.start = std::chrono::steady_clock::now();
        group_.names.insert(names.begin(), names.end());
        group_.entries.push_back(std::move(e));
        if (source) Hand(group_.entries.back(), std::move(source));
        if (toWrite) HandWrite(group_.entries.back(), std::move(output));
        if (group_.waiting >= kGroupFiles || group_.bytes >= kGroupBytes ||
            std::chrono::steady_clock::now() - group_.start >= kGroupTime)
            SendGroup();
    }

    // Puts the files still waiting in place and reports them.
    void Finish() {
        SendGroup();
        WaitPlaced();
    }

private:
    // The checks of an item that need not read it; true when it goes on to
    // be read and converted (the status then says so), false when its result
    // is already final.
    bool Begin(const BatchItem& item, Entry& e) {
        BatchFileResult& r = e.r;
        r.name = item.name;
        r.ext = ExtLower(item.name);
        r.source = JoinPath(item.folder, item.name);
        r.target = JoinPath(OutputFolderOf(job_, item), item.name);
        if (item.nameNotText) {
            r.reason = NotConvertedReason::NameNotText;
            return false;
        }
        // A path that leads nowhere is reported as missing, whatever its
        // extension. A drawing found when the run started is not looked at
        // again here: if it is gone since, opening it says so.
        const bool foundAtStart = IsConvertedKind(r.ext) && sources_.HasText(r.source);
        if (!foundAtStart && InspectPath(r.source, false).kind == NodeKind::Missing) {
            r.reason = NotConvertedReason::SourceMissing;
            return false;
        }
        if (!IsListedKind(r.ext)) {
            // Its message is given right before its result (see Report).
            r.outcome = FileOutcome::UnsupportedExtension;
            r.reason = NotConvertedReason::UnsupportedExtension;
            return false;
        }
        reporter_.Status(ConvertingStatusText(r.source, r.target));
        reporter_.ConvertBegin();
        return true;
    }

    // Whether `folder` did not hold the (case folded) name when the run first
    // looked at it; false when that is not known.
    bool ListedAbsent(const fs::path& folder, const std::u16string& folded) {
        if (folded.empty()) return false;
        auto it = listed_.find(folder);
        if (it == listed_.end()) {
            std::optional<std::unordered_set<std::u16string>> names;
            std::vector<platform::FolderEntry> entries;
            // A listing costs in proportion to what the folder holds: worth
            // it for many files, not for a few.
            if (itemsOfFolder_[folder] >= kListedFolderItems && !platform::ListFolder(folder, entries)) {
                names.emplace();
                for (const platform::FolderEntry& entry : entries) names->insert(textconv::FoldCase(entry.displayName));
            }
            it = listed_.emplace(folder, std::move(names)).first;
        }
        return it->second && it->second->count(folded) == 0;
    }

    // Runs a step of the conversion; running out of memory or any other
    // failure on the way fails the file as unreadable.
    template <typename Step>
    NotConvertedReason Guarded(Entry& e, Step&& step) {
        try {
            return step();
        } catch (const std::bad_alloc&) {
            e.r.detail = kNotEnoughMemory;
        } catch (const std::exception& ex) {
            e.r.detail = ex.what();
        }
        return NotConvertedReason::ReadFailed;
    }

    // The outcome of a conversion; a file that failed leaves nothing behind
    // and gives its target's name back.
    void Settle(Entry& e, NotConvertedReason reason) {
        BatchFileResult& r = e.r;
        r.reason = reason;
        if (r.reason != NotConvertedReason::None) {
            e.file.reset();
            Unclaim(e);
        }
        r.outcome = r.reason == NotConvertedReason::None ? FileOutcome::Converted : FileOutcome::NotConverted;
    }

    Bytes TakeOutput() {
        if (freeOutputs_.empty()) return {};
        Bytes output = std::move(freeOutputs_.back());
        freeOutputs_.pop_back();
        output.clear();
        return output;
    }

    std::unique_ptr<SourceFile> TakeSource() {
        if (freeSources_.empty()) return std::make_unique<SourceFile>(SourceFile::kBatchRoom);
        std::unique_ptr<SourceFile> source = std::move(freeSources_.back());
        freeSources_.pop_back();
        return source;
    }

    // Hands a file of the group being converted to the converter threads,
    // once there is room for it: a free thread, and its source within the
    // bytes converted side by side (or nothing else converting).
    void Hand(Entry& e, std::unique_ptr<SourceFile> source) {
        const std::uint64_t size = source->fileSize();
        ConvertTask& task = Queue(*converters_, e, size, [&] {
            return converting_ > 0 && (converting_ >= converterCount_ || sideBySide_ + size > kSideBySideBytes);
        });
        task.source = std::move(source);
        sideBySide_ += size;
        ++converting_;
        converters_->Start(task);
    }

    // Hands a converted file to the writing thread, once there is room for it.
    void HandWrite(Entry& e, Bytes output) {
        const std::uint64_t size = output.size();
        ConvertTask& task = Queue(*writer_, e, size, [&] {
            return writing_ > 0 && (writing_ >= kMostWaitingWrites || toWriteBytes_ + size > kWaitingWriteBytes);
        });
        task.output = std::move(output);
        toWriteBytes_ += size;
        ++writing_;
        writer_->Start(task);
    }

    // A new task for `server` at the end of those handed out, once `full()`
    // no longer holds (files handed out before are collected until then).
    template <typename Full>
    ConvertTask& Queue(Converters& server, Entry& e, std::uint64_t size, Full&& full) {
        while (full()) CollectFront(true);
        auto task = std::make_unique<ConvertTask>();
        task->entry = &e;
        task->group = &group_;
        task->server = &server;
        task->size = size;
        tasks_.push_back(std::move(task));
        return *tasks_.back();
    }

    // Takes the first file handed out once it is converted (with `wait`,
    // waiting for it); false when there is none or it is still converting.
    bool CollectFront(bool wait) {
        if (tasks_.empty() || !tasks_.front()->server->Done(*tasks_.front(), wait)) return false;
        ConvertTask& task = *tasks_.front();
        Entry& e = *task.entry;
        group_.bytes += e.written;
        if (!e.file) --group_.waiting;  // nothing of it waits to be put in place
        if (task.source) {
            sideBySide_ -= task.size;
            --converting_;
            freeSources_.push_back(std::move(task.source));
            reporter_.ConvertEnd();
        } else {
            toWriteBytes_ -= task.size;
            --writing_;
            // Kept for the next files, unless it grew large.
            if (task.output.capacity() <= kHandedBytes * 2) freeOutputs_.push_back(std::move(task.output));
        }
        tasks_.pop_front();
        return true;
    }

    // Takes the files converted so far, in order; with `wait`, all of them.
    void Collect(bool wait) {
        while (CollectFront(wait)) {
        }
        // A group whose files all failed has nothing to put in place.
        if (tasks_.empty() && group_.waiting == 0 && !group_.entries.empty() && !inFlight_) ReportEntries(group_);
    }

    // Reads and checks one file and claims its target, in the order of the
    // items: None when it goes on to be converted (Build).
    NotConvertedReason Check(Entry& e, SourceFile& source, const fs::path& folder, const std::u16string& folded) {
        using R = NotConvertedReason;
        BatchFileResult& r = e.r;
        if (!IsConvertedKind(r.ext)) return R::KindNotConverted;
        const bool jww = r.ext == u".jww";
        // Opened and read once for the check and the conversion, into a
        // buffer of the run, which serves one file after another.
        if (!source.Read(r.source)) {
            if (InspectPath(r.source, true).kind == NodeKind::Missing) return R::SourceMissing;
            r.detail = "cannot read " + PathUtf8(r.source) + ": " + platform::ErrorText(source.error());
            return R::ReadFailed;
        }
        if (!(jww ? source.IsJww() : source.IsJws())) return R::CheckFailed;
        // The drawings read by this run are never written over, whatever
        // link may lead there. One look at the target name serves these
        // checks and the plain-file check below; only a link is followed.
        // A name the output folder did not hold when the run first looked at
        // it, letter case aside, is taken as missing without a look of its
        // own: whatever is there when the file is put in place is looked at
        // then, and decides its backup.
        const NodeInfo targetNow = ListedAbsent(folder, folded) ? NodeInfo{} : InspectPath(r.target, false);
        if (sources_.Contains(r.target, targetNow)) return R::TargetIsSource;
        // (A file of that name still converting has been waited for: its
        // name met the group's.)
        if (claimedTargets_.Contains(r.target, targetNow)) return R::DuplicateTarget;
        claimedTargets_.AddText(r.target);
        e.claimed = true;
        e.targetMissing = targetNow.kind == NodeKind::Missing;

        // Only plain files are ever replaced; a link, folder or special file
        // at the target name is refused before anything is read or written.
        return CheckNames(r, targetNow, e.backup);
    }

    // Converts a file that passed Check and writes it beside its target (on
    // a converter thread when files are converted side by side); on success
    // (but for a dry run) e.file holds the new file, to be put in place with
    // its group `g`. With `into`, the converted bytes are left there instead,
    // for WriteOut to write.
    NotConvertedReason Build(Entry& e, SourceFile& source, BatchContainers containers, Group& g,
                             Bytes* into = nullptr) {
        using R = NotConvertedReason;
        BatchFileResult& r = e.r;
        const bool jww = r.ext == u".jww";
        // The converted file is written beside the target as it is built
        // (a dry run builds it in memory) before anything in the output
        // folder changes.
        ConvertReport report;
        const ConvertDirection direction =
            job_.options.Direction == 0 ? ConvertDirection::ToReal : ConvertDirection::ToTemporary;
        if (r.target.empty()) return R::WriteFailed;
        e.target = r.target;
        Bytes local;
        Bytes& output = into ? *into : local;
        e.file = std::make_unique<platform::PendingFile>();
        NewFile file{e, g, false, {}};
        // The folder and the new file are made when the first bytes arrive,
        // that is once the source has been read and converted.
        const OutputSink toFile = [&](std::span<const std::uint8_t> bytes) { Put(file, bytes); };
        const OutputSink toMemory = [&](std::span<const std::uint8_t> bytes) {
            output.insert(output.end(), bytes.begin(), bytes.end());
        };
        const OutputSink& sink = job_.dryRun || into ? toMemory : toFile;
        const bool built = jww ? ConvertJwwTo(containers.jww, direction, source, job_.options, sink, &report)
                               : ConvertJwsTo(containers.jws, direction, source, job_.options, sink, &report);
        r.detail = report.detail;
        r.changedPoints = report.changedPoints;
        if (!built) {
            switch (report.failure) {
                case ConvertFailure::ReadFailed: return R::ReadFailed;
                case ConvertFailure::ImagesNotExtracted: return R::ImagesNotExtracted;
                default: return R::WriteFailed;
            }
        }
        if (job_.dryRun) {
            e.file.reset();
            return WhatARunWouldDo(r, e.backup, output);
        }
        if (into) {
            // The folder is found or made here, in the order of the items,
            // as if the file were written now.
            try {
                FolderOfGroup(e, g);
            } catch (const IoError& ex) {
                r.detail = ex.Describe();
                return R::WriteFailed;
            }
            return R::None;
        }
        return Close(file);
    }

    // Writes the bytes Build left in memory into the new file of `e` (on the
    // writing thread); the file fails as it would have failed being written
    // while it was built.
    NotConvertedReason WriteOut(Entry& e, Group& g, std::span<const std::uint8_t> bytes) {
        NewFile file{e, g, false, {}};
        try {
            Put(file, bytes);
        } catch (const IoError& ex) {
            e.r.detail = ex.Describe();
            return NotConvertedReason::WriteFailed;
        }
        return Close(file);
    }

    // A new file being written for an entry of group `g`.
    struct NewFile {
        Entry& e;
        Group& g;
        bool opened = false;
        std::error_code error;
    };

    // Writes a piece of a new file, making the folder and the file with the
    // first one; throws IoError on failure.
    // The folder of the new file of `e`, found or made once per group (the
    // group's flush holds it from then on); throws IoError on failure.
    void FolderOfGroup(Entry& e, Group& g) {
        const fs::path folder = e.target.parent_path();
        platform::FolderFlush* flush = nullptr;
        {
            std::lock_guard<std::mutex> lock(folderMutex_);
            if (!g.flush) {
                if (!FolderFound(folder) && !MakeFolder(folder))
                    throw IoError(kFileIoError, "cannot create the folder " + PathUtf8(folder));
                // Opened before the group's first file is written, so that
                // the group's flush hears of any failure to write them back.
                g.flush = std::make_unique<platform::FolderFlush>(folder);
            }
            flush = g.flush.get();
        }
        // Names put into a folder that cannot be flushed could be lost in a
        // crash after the run said they were in place.
        if (const std::error_code& ec = flush->error())
            throw IoError(kFileIoError, "cannot open the folder " + PathUtf8(folder) +
                                            " to make its files durable: " + platform::ErrorText(ec));
    }

    void Put(NewFile& f, std::span<const std::uint8_t> bytes) {
        Entry& e = f.e;
        if (!f.opened && !f.error) {
            FolderOfGroup(e, f.g);
            // What is at the target is looked at again before it is replaced.
            f.error = e.targetMissing ? e.file->OpenForMissing(e.target) : e.file->Open(e.target);
            f.opened = !f.error;
        }
        if (!f.error) f.error = e.file->Write(bytes);
        if (f.error)
            throw IoError(kFileIoError, "cannot write " + PathUtf8(e.r.target) + ": " + platform::ErrorText(f.error));
        e.written += bytes.size();
    }

    // Ends a new file that has all its bytes; it is flushed to the disk with
    // the rest of its group.
    NotConvertedReason Close(NewFile& f) {
        BatchFileResult& r = f.e.r;
        if (!f.opened) {
            try {
                Put(f, {});
            } catch (const IoError& ex) {
                r.detail = ex.detail();
                return NotConvertedReason::WriteFailed;
            }
        }
        if (std::error_code ec = f.e.file->Finish(platform::Flush::Later)) {
            r.detail = "cannot write " + PathUtf8(r.target) + ": " + platform::ErrorText(ec);
            return NotConvertedReason::WriteFailed;
        }
        return NotConvertedReason::None;
    }

    // The group converted so far goes to be put in place on a thread of its
    // own while the next group converts (one group in flight; the one
    // before it is reported first). A group with nothing to place is
    // reported at once.
    void SendGroup() {
        Collect(true);
        WaitPlaced();
        if (group_.waiting == 0) {
            ReportEntries(group_);
            return;
        }
        placing_ = std::move(group_);
        group_ = Group{};
        group_.folder = placing_.folder;
        inFlight_ = true;
        {
            std::lock_guard<std::mutex> lock(placerMutex_);
            placed_ = false;
        }
        try {
            placer_ = std::thread([this] { PlaceGroup(placing_); });
        } catch (...) {
            PlaceGroup(placing_);  // without a thread, in place now
        }
    }

    // Waits for the group in flight, passing on what it asks to tell, and
    // reports its items in order (then the items after it that wait for
    // nothing).
    void WaitPlaced() {
        if (!inFlight_) return;
        std::unique_lock<std::mutex> lock(placerMutex_);
        for (;;) {
            placerWake_.wait(lock, [this] { return placed_ || !notice_.empty(); });
            if (!notice_.empty()) {
                const fs::path folder = std::move(notice_);
                notice_.clear();
                lock.unlock();
                reporter_.WaitingForFolder(folder);
                lock.lock();
                continue;
            }
            if (placed_) break;
        }
        lock.unlock();
        if (placer_.joinable()) placer_.join();
        inFlight_ = false;
        ReportEntries(placing_);
        placing_ = Group{};
        if (group_.waiting == 0) ReportEntries(group_);
    }

    // Passes on what the group in flight asked to tell, and reports it if it
    // is already in place.
    void ReportIfPlaced() {
        if (!inFlight_) return;
        fs::path folder;
        bool done = false;
        {
            std::lock_guard<std::mutex> lock(placerMutex_);
            done = placed_;
            folder = std::move(notice_);
            notice_.clear();
        }
        if (!folder.empty()) reporter_.WaitingForFolder(folder);
        if (done) WaitPlaced();
    }

    void ReportEntries(Group& g) {
        for (Entry& e : g.entries) Report(e);
        g.entries.clear();
    }

    // Puts the waiting files of a group in place (on the placing thread).
    void PlaceGroup(Group& g) {
        try {
            Place(g);
        } catch (const std::exception& ex) {
            // Out of memory on the way: whatever is not in place yet is
            // not converted, and its new files are removed.
            for (Entry& e : g.entries)
                if (e.file && !e.placed)
                    e.Fail(NotConvertedReason::WriteFailed, std::string("cannot put the file in place: ") + ex.what());
        }
        // A target that nothing wrote is free for a later file of the run.
        for (Entry& e : g.entries)
            if (e.r.outcome != FileOutcome::Converted && !e.placed) Unclaim(e);
        g.flush.reset();
        std::lock_guard<std::mutex> lock(placerMutex_);
        placed_ = true;
        placerWake_.notify_all();
    }

    // Tells, through the run's own thread, that the placing waits for
    // another run.
    void Notice(const fs::path& folder) {
        std::lock_guard<std::mutex> lock(placerMutex_);
        notice_ = folder.empty() ? fs::path(".") : folder;
        placerWake_.notify_all();
    }

    void Place(Group& g) {
        using R = NotConvertedReason;
        const fs::path folder = g.folder.empty() ? g.entries.front().target.parent_path() : g.folder;
        if (!g.flush) g.flush = std::make_unique<platform::FolderFlush>(folder);
        // Another run into the same folder waits here, so that backups and
        // targets are put in place by one run after the other.
        platform::FolderLock lock(folder, [&] { Notice(folder); });
        if (const std::error_code& ec = lock.error()) {
            for (Entry& e : g.entries)
                if (e.file)
                    e.Fail(R::WriteFailed, "cannot lock the folder " + PathUtf8(folder) +
                                               " against other runs: " + platform::ErrorText(ec));
            return;
        }
        // New files that a run ended by force left here (older than this run,
        // and no other run at work in the folder) go, once per folder.
        if (cleanedFolders_.insert(Folded(folder)).second) g.flush->RemoveStaleFiles(startSeconds_);

        // What is at the targets now decides whether a backup is needed.
        std::vector<platform::PendingFile*> flush;
        for (Entry& e : g.entries) {
            if (!e.file) continue;
            BatchFileResult& r = e.r;
            const NodeInfo now = InspectPath(r.target, false);
            if (!IsPlainOrMissing(now.kind)) {
                e.Fail(R::NotAPlainFile, NotAPlainFileText(r.target, now.kind));
                continue;
            }
            if (now.kind == NodeKind::Regular) {
                // A target that already holds exactly this conversion (a
                // second run over the same files) stays as it is, and so does
                // its backup: replacing the backup with a copy of it would
                // lose the file it keeps.
                const Comparison c = CompareTarget(e.target, &e.file->TempPath(), nullptr);
                if (c.error) {
                    e.Fail(R::BackupFailed, CannotReadTargetText(r.target, c.error));
                    continue;
                }
                if (c.same) {
                    e.file.reset();
                    r.upToDate = true;
                    claimedTargets_.Refresh(r.target);
                    continue;
                }
                if (e.backup.empty() && !ChooseBackup(r, e.backup)) {
                    e.Fail(R::BackupFailed, r.detail);
                    continue;
                }
                if (R refused = CopyForBackup(e); refused != R::None) {
                    e.Fail(refused, r.detail);
                    continue;
                }
                flush.push_back(e.copy.get());
            }
            flush.push_back(e.file.get());
        }

        // One flush for all new files and backup copies.
        const std::vector<std::error_code> errors = g.flush->FlushFiles(flush);
        auto errorOf = [&](const platform::PendingFile* f) {
            return errors[static_cast<std::size_t>(std::find(flush.begin(), flush.end(), f) - flush.begin())];
        };
        for (Entry& e : g.entries) {
            if (!e.file) continue;
            if (e.copy) {
                if (std::error_code ec = errorOf(e.copy.get())) {
                    e.Fail(R::BackupFailed, CannotCopyText(e, ec));
                    continue;
                }
            }
            if (std::error_code ec = errorOf(e.file.get()))
                e.Fail(R::WriteFailed, "cannot write " + PathUtf8(e.r.target) + ": " + platform::ErrorText(ec));
        }

        // The backups first, and they are on the disk before any target
        // they keep is replaced.
        bool backups = false;
        for (Entry& e : g.entries) {
            if (!e.file || !e.copy) continue;
            if (std::error_code ec = e.copy->Commit()) {
                e.Fail(R::BackupFailed, CannotCopyText(e, ec));
                continue;
            }
            e.copy.reset();
            backupsMade_.Add(e.backup);
            e.r.backup = e.backup;
            backups = true;
        }
        if (backups) {
            if (std::error_code ec = g.flush->FlushNames()) {
                for (Entry& e : g.entries)
                    if (e.file && !e.r.backup.empty())
                        e.Fail(R::BackupFailed, "the backup " + PathUtf8(e.r.backup) +
                                                    " could not be flushed to the disk: " + platform::ErrorText(ec));
            }
        }

        std::vector<Entry*> placed;
        for (Entry& e : g.entries) {
            if (!e.file) continue;
            if (std::error_code ec = e.file->Commit()) {
                e.Fail(R::WriteFailed,
                       "cannot put " + PathUtf8(e.r.target) + " in place: " + platform::ErrorText(ec));
                continue;
            }
            // The target is now the new file, whose identity is known.
            if (const auto id = e.file->Id()) claimedTargets_.AddId(*id);
            else claimedTargets_.Refresh(e.r.target);
            e.file.reset();
            e.placed = true;
            placed.push_back(&e);
        }
        if (!placed.empty()) {
            if (std::error_code ec = g.flush->FlushNames()) {
                // In place, but it might not survive a crash: not counted as done.
                for (Entry* e : placed)
                    e->Fail(R::WriteFailed, PathUtf8(e->r.target) +
                                                " was put in place, but the folder could not be flushed to the disk: " +
                                                platform::ErrorText(ec));
            }
        }
    }

    // Gives the target's name back when the item that claimed it wrote nothing.
    void Unclaim(Entry& e) {
        if (!e.claimed) return;
        claimedTargets_.RemoveText(e.r.target);
        e.claimed = false;
    }

    std::string CannotCopyText(const Entry& e, const std::error_code& ec) const {
        return "cannot copy " + PathUtf8(e.r.target) + " to " + PathUtf8(e.backup) + ": " + platform::ErrorText(ec);
    }

    void Report(Entry& e) {
        switch (e.r.outcome) {
            case FileOutcome::Converted: ++summary_.converted; break;
            case FileOutcome::NotConverted: ++summary_.notConverted; break;
            case FileOutcome::UnsupportedExtension:
                ++summary_.unsupported;
                // Front ends take the message and the result that follows it
                // as one, even when the result waited behind others.
                reporter_.UnsupportedExtension(UnsupportedExtensionMessage(e.r.name, e.r.ext));
                break;
        }
        reporter_.FileResult(e.r);
        summary_.files.push_back(std::move(e.r));
    }

    // The result of a dry run: the target would be left as it is when it
    // already holds this output, else it would be written, with a backup of
    // an existing target.
    NotConvertedReason WhatARunWouldDo(BatchFileResult& r, const fs::path& backup, const Bytes& output) {
        const NodeInfo now = InspectPath(r.target, false);
        if (now.kind == NodeKind::Regular) {
            const Comparison c = !r.target.empty() ? CompareTarget(r.target, nullptr, &output) : Comparison{};
            if (c.error) {
                r.detail = CannotReadTargetText(r.target, c.error);
                return NotConvertedReason::BackupFailed;
            }
            if (c.same) {
                r.upToDate = true;
            } else {
                r.backup = backup;
                backupsMade_.AddText(backup);
            }
        }
        return NotConvertedReason::None;
    }

    // Checks the names that the file will replace: the target and, when a
    // target exists, its backup.
    NotConvertedReason CheckNames(BatchFileResult& r, const NodeInfo& target, fs::path& backup) {
        if (!IsPlainOrMissing(target.kind)) {
            r.detail = NotAPlainFileText(r.target, target.kind);
            return NotConvertedReason::NotAPlainFile;
        }
        if (target.kind == NodeKind::Missing) return NotConvertedReason::None;
        if (!ChooseBackup(r, backup)) return NotConvertedReason::BackupFailed;
        const NodeInfo old = InspectPath(backup, false);
        if (!IsPlainOrMissing(old.kind)) {
            r.detail = NotAPlainFileText(backup, old.kind);
            return NotConvertedReason::NotAPlainFile;
        }
        return NotConvertedReason::None;
    }

    // The backup name of the target: name.BAK; when this run already made
    // that backup (plan.jww and plan.jws both give plan.BAK), the later one
    // keeps its extension (plan.jws.BAK), so no backup of this run is lost.
    bool ChooseBackup(BatchFileResult& r, fs::path& backup) {
        backup = ReplaceExt(r.target, u".BAK");
        if (backup.empty() || backupsMade_.Contains(backup)) {
            backup = r.target;
            backup += ".BAK";
        }
        if (backupsMade_.Contains(backup)) {
            r.detail = "both backup names are taken by backups of this run";
            return false;
        }
        // A backup path that leads to the target itself or to a drawing of
        // this run would destroy what it should keep.
        if (sources_.Contains(backup) || (IdOf(backup) && IdOf(backup) == IdOf(r.target))) {
            r.detail = "the backup path leads to a file that must not be overwritten";
            return false;
        }
        return true;
    }

    // Copies the target into a new file beside the backup name, flushed and
    // renamed with the group.
    NotConvertedReason CopyForBackup(Entry& e) {
        BatchFileResult& r = e.r;
        const NodeInfo old = InspectPath(e.backup, false);
        if (!IsPlainOrMissing(old.kind)) {
            r.detail = NotAPlainFileText(e.backup, old.kind);
            return NotConvertedReason::NotAPlainFile;
        }
        if (e.backup.empty()) return NotConvertedReason::BackupFailed;
        e.copy = std::make_unique<platform::PendingFile>();
        if (std::error_code ec = e.copy->CreateCopy(e.backup, e.target, platform::Flush::Later)) {
            r.detail = CannotCopyText(e, ec);
            return NotConvertedReason::BackupFailed;
        }
        return NotConvertedReason::None;
    }

    const BatchJob& job_;
    BatchContainers containers_;
    BatchReporter& reporter_;
    BatchSummary& summary_;
    PathSet sources_;         // existing sources of the run
    PathSet claimedTargets_;  // targets of files attempted so far
    PathSet backupsMade_;
    const std::int64_t startSeconds_;  // when the run began, in seconds since 1970
    std::unordered_set<std::u16string> cleanedFolders_;  // case folded
    // The names each output folder held when the run first looked at it, case
    // folded; none for a folder that could not be listed.
    std::map<fs::path, std::optional<std::unordered_set<std::u16string>>> listed_;
    std::map<fs::path, std::size_t> itemsOfFolder_;  // the items that go into each output folder

    // The group being converted, and the one being put in place beside it.
    Group group_;
    Group placing_;
    bool inFlight_ = false;  // placing_ holds a group not yet reported
    std::thread placer_;
    std::mutex placerMutex_;
    std::condition_variable placerWake_;
    bool placed_ = false;     // the group in flight is in place (under placerMutex_)
    fs::path notice_;   // a folder the placing waits for, to be told (under placerMutex_)

    // Files converted side by side: those handed out (in order), the
    // sources free for the next ones, and the threads (last, so they have
    // ended before what they work on goes).
    std::mutex folderMutex_;  // making a group's folder and its flush
    std::deque<std::unique_ptr<ConvertTask>> tasks_;
    std::vector<std::unique_ptr<SourceFile>> freeSources_;
    std::uint64_t sideBySide_ = 0;  // bytes of the sources handed out
    unsigned converting_ = 0;       // files handed out to be converted
    std::size_t writing_ = 0;       // files handed out to be written
    std::uint64_t toWriteBytes_ = 0;  // their bytes
    std::vector<Bytes> freeOutputs_;
    unsigned converterCount_ = 0;
    std::unique_ptr<Converters> converters_;
    std::unique_ptr<Converters> writer_;  // one thread, so files are made in the order of the items
};

}  // namespace

std::u16string UnsupportedExtensionMessage(const std::u16string& name, const std::u16string& ext) {
    return u"このファイル拡張子（種類）の変換には対応していません。\r\nファイル名：" + name + u"\r\n　　拡張子：" + ext;
}

std::u16string WaitingStatusText(const fs::path& folder) {
    return u"別の変換が「" + platform::TextFromPath(folder) + u"」にファイルを置き終わるのを待っています。";
}

std::u16string ConvertingStatusText(const fs::path& source, const fs::path& target) {
    return u"ファイル「" + platform::TextFromPath(source) + u"」→「" + platform::TextFromPath(target) + u"」変換中です。";
}

std::u16string SummaryText(std::int32_t converted, std::int32_t notConverted) {
    std::u16string text = IntToText(converted) + u"個のファイルを変換しました。";
    if (notConverted > 0) text += IntToText(notConverted) + u"個のファイルは変換できませんでした。";
    return text;
}

std::string ReasonText(NotConvertedReason reason) {
    switch (reason) {
        case NotConvertedReason::None: return "converted";
        case NotConvertedReason::UnsupportedExtension: return "this file extension is not converted";
        case NotConvertedReason::KindNotConverted: return "JWC and JWK files are not converted";
        case NotConvertedReason::SourceMissing: return "file not found";
        case NotConvertedReason::CheckFailed: return "not a JWW/JWS file of a supported version";
        case NotConvertedReason::TargetIsSource: return "the target is a file this run reads from";
        case NotConvertedReason::DuplicateTarget: return "an earlier file of this run writes the same target";
        case NotConvertedReason::NameNotText: return "the file name is not valid UTF-8";
        case NotConvertedReason::NotAPlainFile: return "a name it would replace is not a regular file";
        case NotConvertedReason::BackupFailed: return "the existing target could not be backed up";
        case NotConvertedReason::ReadFailed: return "the file could not be read";
        case NotConvertedReason::ImagesNotExtracted: return "a bound image could not be copied out";
        case NotConvertedReason::WriteFailed: return "the converted file could not be written";
    }
    return "not converted";
}

std::u16string JapaneseReasonText(NotConvertedReason reason) {
    switch (reason) {
        case NotConvertedReason::None: return u"変換しました";
        case NotConvertedReason::UnsupportedExtension: return u"このファイル拡張子（種類）の変換には対応していません";
        case NotConvertedReason::KindNotConverted: return u"JWC・JWKファイルは変換できません";
        case NotConvertedReason::SourceMissing: return u"ファイルが見つかりません";
        case NotConvertedReason::CheckFailed: return u"対応するバージョンのJWW・JWSファイルではありません";
        case NotConvertedReason::TargetIsSource: return u"保存先がこの変換で読むファイルです";
        case NotConvertedReason::DuplicateTarget: return u"同じ保存先に先のファイルを書き込みました";
        case NotConvertedReason::NameNotText: return u"ファイル名の文字コードが正しくありません";
        case NotConvertedReason::NotAPlainFile: return u"置き換える名前が通常のファイルではありません";
        case NotConvertedReason::BackupFailed: return u"既存のファイルをバックアップできませんでした";
        case NotConvertedReason::ReadFailed: return u"ファイルを読み込めませんでした";
        case NotConvertedReason::ImagesNotExtracted: return u"画像を取り出せませんでした";
        case NotConvertedReason::WriteFailed: return u"変換したファイルを書き込めませんでした";
    }
    return u"変換できませんでした";
}

std::u16string StoppedSummaryText(std::int32_t converted, std::int32_t notConverted) {
    return u"変換を中止しました。" + SummaryText(converted, notConverted);
}

bool SameFolder(const fs::path& a, const fs::path& b) {
    if (a.empty() || b.empty()) return false;
    try {
        const NodeInfo x = InspectPath(a, true), y = InspectPath(b, true);
        if (x.kind != NodeKind::Missing && y.kind != NodeKind::Missing && x.id == y.id) return true;
        const fs::path na = NormalFolder(a), nb = NormalFolder(b);
        return !na.empty() && Folded(platform::TextFromPath(na)) == Folded(platform::TextFromPath(nb));
    } catch (...) {
        return false;
    }
}

std::vector<BatchItem> ItemsOfFolder(const fs::path& folder, const std::vector<std::u16string>& names) {
    std::vector<BatchItem> items;
    items.reserve(names.size());
    for (const std::u16string& name : names) items.push_back({folder, name});
    return items;
}

BatchCheck CheckOutputFolder(const BatchJob& job, BatchReporter& reporter, std::string* detail) {
    if (job.outputFolder.empty()) {
        reporter.Message(kTextNoOutputFolder);
        return BatchCheck::NoOutputFolder;
    }
    {
        // A folder that cannot be looked at (a path longer than the system
        // takes, a parent without permission) is not "missing": the reason
        // is told.
        NodeInfo info;
        const std::error_code ec = platform::Inspect(job.outputFolder, true, info);
        if (ec) {
            const std::string reason = platform::ErrorText(ec);
            if (detail) *detail = reason;
            reporter.Message(std::u16string(kTextOutputFolderUnusable) + u"\r\n" + Utf8ToUtf16(reason));
            return BatchCheck::OutputFolderUnusable;
        }
        if (info.kind != NodeKind::Directory) {
            reporter.Message(kTextOutputFolderMissing);
            return BatchCheck::OutputFolderMissing;
        }
    }
    // Every folder files are read from, against the folder its files go to.
    std::vector<std::pair<fs::path, fs::path>> pairs;
    if (!job.referenceFolder.empty()) pairs.emplace_back(job.referenceFolder, job.outputFolder);
    for (const BatchItem& item : job.items) {
        // An item without a folder is read from the current directory.
        std::pair<fs::path, fs::path> p(item.folder.empty() ? fs::path(".") : item.folder, OutputFolderOf(job, item));
        if (std::find(pairs.begin(), pairs.end(), p) == pairs.end()) pairs.push_back(std::move(p));
    }
    for (const auto& [source, output] : pairs) {
        if (SameFolder(source, output)) {
            reporter.Message(kTextSameFolder);
            return BatchCheck::SameAsReference;
        }
    }
    return BatchCheck::Ok;
}

BatchSummary RunBatch(const BatchJob& job, BatchContainers containers, BatchReporter& reporter) {
    BatchSummary summary;
    summary.check = CheckOutputFolder(job, reporter, &summary.checkDetail);
    if (summary.check != BatchCheck::Ok) return summary;

    // Bound images stay in memory: each drawing keeps the bytes of its images
    // and writes back those a text still refers to, whatever their stored
    // names, and nothing is copied out to the disk.
    containers.jww.BindImageExp = false;
    containers.jww.BindImageExr = true;

    Run run(job, containers, reporter, summary);
    for (std::size_t i = 0; i < job.items.size(); ++i) {
        if (reporter.StopRequested()) {
            summary.stopped = true;
            break;
        }
        reporter.ItemBegin(i);
        run.Add(job.items[i]);
    }
    // After a stop too: the files already written are put in place.
    run.Finish();
    reporter.Status(summary.stopped ? StoppedSummaryText(summary.converted, summary.notConverted)
                                    : SummaryText(summary.converted, summary.notConverted));
    return summary;
}

}  // namespace tervalo
