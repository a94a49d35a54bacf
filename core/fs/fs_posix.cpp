// The file-system layer on POSIX systems (Linux): open/read/write with
// explicit flags, lstat for what a name stands for, rename for putting new
// files in place, flock for serialising runs, and signal handlers that remove
// files not yet in place.
#include "fs/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

namespace tervalo::platform {

namespace {

std::error_code Errno(int e) { return {e, std::generic_category()}; }
std::error_code LastErrno() { return Errno(errno ? errno : EIO); }

int OpenRetry(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// --- Test hook: a failing step of writing a new file ---------------------------

std::atomic<int> g_failAt{0};
std::atomic<int> g_steps{0};

// One step of writing a new file; fails with "disk full" when it is the step
// a test asked to fail.
bool StepFails() {
    const int step = g_steps.fetch_add(1) + 1;
    const int failAt = g_failAt.load();
    if (failAt != 0 && step == failAt) {
        errno = ENOSPC;
        return true;
    }
    return false;
}

// --- Files not yet in place, for removal on a signal ---------------------------

// Enough for the new files and backup copies of a batch group at once. Each
// slot keeps its buffer once it has one, so a signal handler never sees a
// buffer freed under it.
constexpr int kSlots = 1024;
enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };
struct Slot {
    std::atomic<int> state{kFree};
    char* path = nullptr;
    std::size_t capacity = 0;
};
Slot g_slots[kSlots];

int Register(const std::string& path) {
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        Slot& slot = g_slots[i];
        if (slot.capacity < path.size() + 1) {
            // Only this thread touches a slot that is being filled.
            char* bigger = static_cast<char*>(std::realloc(slot.path, path.size() + 1));
            if (!bigger) {
                slot.state.store(kFree);
                return -1;
            }
            slot.path = bigger;
            slot.capacity = path.size() + 1;
        }
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.state.store(kReady);
        return i;
    }
    return -1;  // too many at once: this file is simply not removed on a signal
}

void Unregister(int& slot) {
    if (slot >= 0) g_slots[slot].state.store(kFree);
    slot = -1;
}

// A stop signal being handled, and how many threads are inside a section
// that creates and registers a new file, or puts one in place and
// unregisters it. The handler (on whichever thread takes the signal) waits
// for those sections to end before it removes the new files, and a section
// that would begin after the signal never begins, so no thread creates a
// file the handler has already passed over.
std::atomic<bool> g_stopping{false};
std::atomic<int> g_inSection{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// Blocks the stop signals while a new file is created and registered, or put
// in place and unregistered, so a handler never sees half of either.
class StopSignalsBlocked {
public:
    StopSignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
        g_inSection.fetch_add(1);
        if (g_stopping.load()) {
            // The process is ending on another thread: nothing more is begun.
            g_inSection.fetch_sub(1);
            for (;;) ::pause();
        }
    }
    ~StopSignalsBlocked() {
        g_inSection.fetch_sub(1);
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t old_;
};

std::string RandomSuffix() {
    thread_local std::mt19937_64 gen([] {
        std::random_device rd;
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::seed_seq seq{rd(), rd(), static_cast<unsigned>(::getpid()), static_cast<unsigned>(now),
                          static_cast<unsigned>(now >> 32)};
        return std::mt19937_64(seq);
    }());
    static const char kHex[] = "0123456789abcdef";
    std::uint64_t v = gen();
    std::string s(16, '0');
    for (int i = 0; i < 16; ++i, v >>= 4) s[static_cast<std::size_t>(i)] = kHex[v & 15];
    return s;
}

stdfs::path FolderOf(const stdfs::path& target) {
    stdfs::path folder = target.parent_path();
    return folder.empty() ? stdfs::path(".") : folder;
}

// Creates a new empty file in `folder` under a name nobody else has, and
// registers it for removal on a signal.
int CreateTemp(const stdfs::path& folder, stdfs::path& temp, int& slot) {
    if (StepFails()) return -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        stdfs::path candidate = folder / (".tervalo-" + RandomSuffix() + ".tmp");
        StopSignalsBlocked blocked;
        slot = Register(candidate.native());
        const int fd = OpenRetry(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temp = std::move(candidate);
            return fd;
        }
        const int e = errno;
        Unregister(slot);
        if (e != EEXIST) {
            errno = e;
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

// How much of a new file is written before its writing to the disk is started.
constexpr std::uint64_t kEarlyWriteBytes = 8u << 20;
// A file flushed later with others of its folder starts going to the disk
// when it is closed from this size on (for small files one flush of them all
// costs less than starting each).
constexpr std::uint64_t kEarlyStartBytes = 1u << 20;

}  // namespace

// Flushes a large new file to the disk on a thread of its own while the rest
// of it is still being built, so that the flush at the end waits only for the
// last few MiB: handing data to the disk is quick, but the flush that makes
// it durable takes about as long again as writing it, and it can overlap the
// building. The thread runs one fdatasync per request (requests made while
// one runs are joined into the next). The first error is kept for Finish(),
// since a failed flush may clear the error that a later one would have seen.
struct EarlyFlush {
    explicit EarlyFlush(int fd) : fd_(fd) {
        // The thread takes no signals: the stop signals stay with the threads
        // that block them while they put files in place.
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (...) {
            pthread_sigmask(SIG_SETMASK, &old, nullptr);
            throw;
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    ~EarlyFlush() { Stop(); }

    void Request() {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_ = true;
        wake_.notify_one();
    }
    // Waits for the flush under way and ends the thread; the first error of
    // the early flushes, 0 for none.
    int Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            wake_.notify_one();
        }
        if (thread_.joinable()) thread_.join();
        return error_;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return requested_ || stop_; });
            if (stop_) return;
            requested_ = false;
            lock.unlock();
            const int e = ::fdatasync(fd_) == 0 ? 0 : (errno ? errno : EIO);
            lock.lock();
            if (e != 0 && error_ == 0) error_ = e;
        }
    }

    const int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool requested_ = false, stop_ = false;
    int error_ = 0;
    std::thread thread_;
};

namespace {

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t w = ::write(fd, data + done, size - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(w);
    }
    return true;
}

// Writes the bytes; a failure injected by a test stops half-way, as a full
// disk would.
bool WriteStep(int fd, const std::uint8_t* data, std::size_t size) {
    if (StepFails()) {
        WriteAll(fd, data, size / 2);
        errno = ENOSPC;
        return false;
    }
    return WriteAll(fd, data, size);
}

bool SyncAndClose(int fd) {
    bool ok = !StepFails() && ::fdatasync(fd) == 0;
    int e = errno;
    if (StepFails()) {
        ok = false;
        e = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        e = errno;
    }
    errno = e;
    return ok;
}

// Closes a new file whose bytes the system may still hold in memory only.
bool CloseUnflushed(int fd) {
    bool ok = !StepFails();
    int e = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        e = errno;
    }
    errno = e;
    return ok;
}

std::error_code CheckReplaceable(const stdfs::path& target, std::uint32_t& mode, bool& replacing) {
    struct stat st {};
    replacing = false;
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno == ENOENT) return {};
        return LastErrno();
    }
    if (S_ISLNK(st.st_mode)) return MakeError(FsError::IsLink);
    if (S_ISDIR(st.st_mode)) return MakeError(FsError::IsDirectory);
    if (!S_ISREG(st.st_mode)) return MakeError(FsError::IsSpecial);
    mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    replacing = true;
    return {};
}

// Opens a file for reading without ever blocking on a FIFO, and makes sure it
// is a regular file.
int OpenRegularForReading(const stdfs::path& path, struct stat& st, std::error_code& ec) {
    const int fd = OpenRetry(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        ec = LastErrno();
        return -1;
    }
    if (::fstat(fd, &st) != 0) {
        ec = LastErrno();
    } else if (S_ISDIR(st.st_mode)) {
        ec = Errno(EISDIR);
    } else if (!S_ISREG(st.st_mode)) {
        ec = MakeError(FsError::IsSpecial);
    } else {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        return fd;
    }
    ::close(fd);
    return -1;
}

class FsCategoryImpl : public std::error_category {
public:
    const char* name() const noexcept override { return "tervalo-fs"; }
    std::string message(int e) const override {
        switch (static_cast<FsError>(e)) {
            case FsError::IsLink: return "is a symbolic link";
            case FsError::IsDirectory: return "is a folder";
            case FsError::IsSpecial: return "is not a regular file (a FIFO, socket or device)";
        }
        return "file system error";
    }
};

extern "C" void OnStopSignal(int sig) {
    g_stopping.store(true);
    // Another thread may be half-way through creating or placing a file. The
    // wait is bounded: that thread might itself wait for something this one
    // held when the signal came (an allocator's lock).
    for (int i = 0; i < 2000 && g_inSection.load() != 0; ++i) {
        const struct timespec pauseFor = {0, 100000};
        ::nanosleep(&pauseFor, nullptr);
    }
    RemovePendingFiles();
    // The handler was reset to the default action on entry; ending the process
    // by the same signal gives the parent the usual status (128 + signal).
    ::raise(sig);
}

}  // namespace

const std::error_category& FsCategory() {
    static const FsCategoryImpl category;
    return category;
}

bool PathFromText(const std::u16string& text, stdfs::path& out) {
    try {
        if (text.empty() || text.find(u'\0') != std::u16string::npos) return false;
        out = stdfs::path(Utf16ToUtf8(text));
        return true;
    } catch (...) {
        return false;
    }
}

std::u16string TextFromPath(const stdfs::path& path) {
    try {
        return Utf8ToUtf16(path.native());
    } catch (...) {
        return {};
    }
}

std::error_code Inspect(const stdfs::path& path, bool followLinks, NodeInfo& out) {
    out = NodeInfo{};
    struct stat st {};
    const int rc = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (rc != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {};
        return LastErrno();
    }
    if (S_ISREG(st.st_mode)) out.kind = NodeKind::Regular;
    else if (S_ISDIR(st.st_mode)) out.kind = NodeKind::Directory;
    else if (S_ISLNK(st.st_mode)) out.kind = NodeKind::Symlink;
    else out.kind = NodeKind::Special;
    out.size = static_cast<std::uint64_t>(st.st_size);
    out.writeTimeSeconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    out.id = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return {};
}

bool LocalTime(std::int64_t seconds, int& year, int& month, int& day, int& hour, int& minute, int& second) {
    std::tm tm {};
    const std::time_t t = static_cast<std::time_t>(seconds);
    if (!::localtime_r(&t, &tm)) return false;
    year = tm.tm_year + 1900;
    month = tm.tm_mon + 1;
    day = tm.tm_mday;
    hour = tm.tm_hour;
    minute = tm.tm_min;
    second = tm.tm_sec;
    return true;
}

std::error_code ReadFile(const stdfs::path& path, std::size_t limit, Bytes& out) {
    try {
        struct stat st {};
        std::error_code ec;
        const int fd = OpenRegularForReading(path, st, ec);
        if (fd < 0) return ec;
        // Size the buffer from the file, and grow only when it turns out longer.
        const std::size_t hint = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
        Bytes buf(std::min(hint, limit));
        std::size_t got = 0;
        std::uint8_t probe[65536];
        while (got < limit) {
            // With the buffer full, probe for more before growing it: a file
            // of the size it had costs no second allocation.
            const bool full = got == buf.size();
            std::uint8_t* into = full ? probe : buf.data() + got;
            const std::size_t want = full ? std::min(sizeof probe, limit - got) : buf.size() - got;
            const ssize_t r = ::read(fd, into, want);
            if (r < 0) {
                if (errno == EINTR) continue;
                ec = LastErrno();
                break;
            }
            if (r == 0) break;
            if (full) buf.insert(buf.end(), probe, probe + r);
            got += static_cast<std::size_t>(r);
        }
        ::close(fd);
        if (ec) return ec;
        buf.resize(got);
        out.swap(buf);
        return {};
    } catch (const std::bad_alloc&) {
        return Errno(ENOMEM);
    } catch (...) {
        return Errno(EIO);
    }
}

PendingFile::PendingFile() = default;
PendingFile::~PendingFile() { Discard(); }

std::error_code PendingFile::Open(const stdfs::path& target) {
    std::uint32_t mode = 0;
    bool replacing = false;
    if (std::error_code ec = Begin(target, mode, replacing)) return ec;
    const int fd = CreateTemp(FolderOf(target), temp_, slot_);
    if (fd < 0) return LastErrno();
    if (replacing && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
        const std::error_code ec = LastErrno();
        ::close(fd);
        Discard();
        return ec;
    }
    handle_ = fd;
    wrote_ = false;
    written_ = started_ = 0;
    return {};
}

std::error_code PendingFile::Write(ByteSpan data) {
    if (handle_ < 0) return Errno(EBADF);
    const int fd = static_cast<int>(handle_);
    // The first piece counts as the write step of a test's injected failure.
    const bool ok = wrote_ ? WriteAll(fd, data.data(), data.size()) : WriteStep(fd, data.data(), data.size());
    wrote_ = true;
    if (ok) {
        written_ += data.size();
        // A large file starts going to the disk while the rest is still being
        // built, so that the flush at the end has little left to wait for.
        if (written_ - started_ >= kEarlyWriteBytes) {
            ::sync_file_range(fd, static_cast<off_t>(started_), static_cast<off_t>(written_ - started_),
                              SYNC_FILE_RANGE_WRITE);
            started_ = written_;
            try {
                if (!early_) early_ = std::make_unique<EarlyFlush>(fd);
                early_->Request();
            } catch (...) {
                // Without a thread the file is flushed at the end alone.
            }
        }
        return {};
    }
    const int e = errno ? errno : EIO;
    Discard();
    return Errno(e);
}

std::error_code PendingFile::Finish(Flush when) {
    if (handle_ < 0) return Errno(EBADF);
    if (!wrote_) {
        if (std::error_code ec = Write({})) return ec;
    }
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    if (const int early = StopEarlyFlush()) {
        ::close(fd);
        Discard();
        return Errno(early);
    }
    // A file flushed later with its folder starts going to the disk now, so
    // that the disk works while the next files are built and the folder's
    // flush has only the last of them left to wait for.
    if (when == Flush::Later && written_ - started_ >= kEarlyStartBytes)
        ::sync_file_range(fd, static_cast<off_t>(started_), 0, SYNC_FILE_RANGE_WRITE);
    if (when == Flush::Later ? CloseUnflushed(fd) : SyncAndClose(fd)) {
        unflushed_ = when == Flush::Later;
        return {};
    }
    const int e = errno ? errno : EIO;
    Discard();
    return Errno(e);
}

std::error_code PendingFile::FlushAlone() {
    if (temp_.empty()) return Errno(EINVAL);
    // Flushing works through any descriptor of the file, one for reading too.
    const int fd = StepFails() ? -1 : OpenRetry(temp_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && SyncAndClose(fd)) {
        unflushed_ = false;
        return {};
    }
    const int e = errno ? errno : EIO;
    Discard();
    return Errno(e);
}

InputFile::~InputFile() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::error_code InputFile::Open(const stdfs::path& path) {
    struct stat st {};
    std::error_code ec;
    const int fd = OpenRegularForReading(path, st, ec);
    if (fd < 0) return ec;
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = fd;
    size_ = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    failReads_ = ReadsFailForTesting(path);
    return {};
}

std::error_code InputFile::Read(std::span<std::uint8_t> out, std::size_t& got) {
    got = 0;
    if (handle_ < 0) return Errno(EBADF);
    if (failReads_) return Errno(EIO);
    for (;;) {
        const ssize_t r = ::read(static_cast<int>(handle_), out.data(), out.size());
        if (r >= 0) {
            got = static_cast<std::size_t>(r);
            return {};
        }
        if (errno != EINTR) return LastErrno();
    }
}

int PendingFile::StopEarlyFlush() {
    if (!early_) return 0;
    const int e = early_->Stop();
    early_.reset();
    return e;
}

void PendingFile::Discard() {
    StopEarlyFlush();  // before the file it flushes is closed
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
    unflushed_ = false;
    if (temp_.empty()) return;
    StopSignalsBlocked blocked;
    ::unlink(temp_.c_str());
    Unregister(slot_);
    temp_.clear();
}

std::error_code PendingFile::Begin(const stdfs::path& target, std::uint32_t& mode, bool& replacing) {
    Discard();
    target_ = target;
    return CheckReplaceable(target, mode, replacing);
}

std::error_code PendingFile::Create(const stdfs::path& target, ByteSpan data) {
    std::uint32_t mode = 0;
    bool replacing = false;
    if (std::error_code ec = Begin(target, mode, replacing)) return ec;
    const int fd = CreateTemp(FolderOf(target), temp_, slot_);
    if (fd < 0) return LastErrno();
    bool ok = true;
    if (replacing && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) ok = false;
    if (ok) ok = WriteStep(fd, data.data(), data.size());
    int e = errno;
    if (ok) {
        ok = SyncAndClose(fd);
        e = errno;
    } else {
        ::close(fd);
    }
    if (ok) return {};
    Discard();
    return Errno(e ? e : EIO);
}

std::error_code PendingFile::CreateCopy(const stdfs::path& target, const stdfs::path& source, Flush when) {
    std::uint32_t mode = 0;
    bool replacing = false;
    if (std::error_code ec = Begin(target, mode, replacing)) return ec;
    struct stat st {};
    std::error_code ec;
    const int src = OpenRegularForReading(source, st, ec);
    if (src < 0) return ec;
    const int fd = CreateTemp(FolderOf(target), temp_, slot_);
    if (fd < 0) {
        ec = LastErrno();
        ::close(src);
        return ec;
    }
    bool ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    int e = errno;
    try {
        std::vector<std::uint8_t> buf(1 << 20);
        bool first = true;
        while (ok) {
            const ssize_t r = ::read(src, buf.data(), buf.size());
            if (r < 0) {
                if (errno == EINTR) continue;
                ok = false;
                break;
            }
            if (r == 0) break;
            ok = first ? WriteStep(fd, buf.data(), static_cast<std::size_t>(r))
                       : WriteAll(fd, buf.data(), static_cast<std::size_t>(r));
            first = false;
        }
        if (ok && first) ok = WriteStep(fd, buf.data(), 0);  // an empty file passes the step too
        e = errno;
    } catch (...) {
        ok = false;
        e = ENOMEM;
    }
    if (ok) {
        // The copy keeps the time stamps of what it copies.
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ok = !StepFails() && ::futimens(fd, times) == 0;
        e = errno;
    }
    if (ok) {
        ok = when == Flush::Later ? CloseUnflushed(fd) : SyncAndClose(fd);
        e = errno;
    } else {
        ::close(fd);
    }
    ::close(src);
    if (ok) {
        unflushed_ = when == Flush::Later;
        return {};
    }
    Discard();
    return Errno(e ? e : EIO);
}

std::error_code PendingFile::Commit() {
    if (temp_.empty()) return Errno(EINVAL);
    // Never a name for bytes that might not be on the disk yet.
    if (unflushed_) {
        if (std::error_code ec = FlushAlone()) return ec;
    }
    StopSignalsBlocked blocked;
    if (StepFails() || ::rename(temp_.c_str(), target_.c_str()) != 0) {
        const std::error_code ec = LastErrno();
        ::unlink(temp_.c_str());
        Unregister(slot_);
        temp_.clear();
        return ec;
    }
    Unregister(slot_);
    temp_.clear();
    return {};
}

// The byte of the folder on which each run with new files in it holds a
// shared lock (an open-file-description lock, apart from the flock of
// FolderLock), so that a run can tell whether another one is at work there.
constexpr off_t kLiveByte = 0;

FolderFlush::FolderFlush(const stdfs::path& folder) {
    // Opened before the files are written: a later syncfs() reports every
    // error the system met writing back this file system since then.
    const int fd = OpenRetry(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error_ = LastErrno();
        return;
    }
    handle_ = fd;
    struct statfs sfs {};
    wholeFlush_ = ::fstatfs(fd, &sfs) == 0 && FlushOfFileSystemReachesDevice(static_cast<std::int64_t>(sfs.f_type));
    struct flock live {};
    live.l_type = F_RDLCK;
    live.l_whence = SEEK_SET;
    live.l_start = kLiveByte;
    live.l_len = 1;
    ::fcntl(fd, F_OFD_SETLK, &live);  // without it, other runs simply leave old files alone for longer
}

FolderFlush::~FolderFlush() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::vector<std::error_code> FolderFlush::FlushFiles(std::span<PendingFile* const> files) {
    std::vector<std::error_code> errors(files.size());
    // One flush of the whole file system costs about what flushing one small
    // file costs, but it also writes out what other programs have written:
    // a single file is flushed on its own. When the flush of the file system
    // reports an error (which may be another program's), each file is
    // flushed on its own, to tell which of them failed. FUSE and network
    // file systems may never hear of that flush, so there each file is
    // flushed on its own too.
    const auto unflushed = std::count_if(files.begin(), files.end(), [](const PendingFile* f) { return f->unflushed_; });
    const bool all = wholeFlush_ && unflushed > 1 && handle_ >= 0 && ::syncfs(static_cast<int>(handle_)) == 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        PendingFile& file = *files[i];
        if (!file.unflushed_) continue;
        if (!all) {
            errors[i] = file.FlushAlone();
        } else if (StepFails()) {
            // A test's injected failure of this file's flush.
            errors[i] = LastErrno();
            file.Discard();
        } else {
            file.unflushed_ = false;
        }
    }
    return errors;
}

std::error_code FolderFlush::FlushNames() {
    if (StepFails()) return LastErrno();
    if (handle_ < 0) return error_ ? error_ : Errno(EBADF);
    if (::fsync(static_cast<int>(handle_)) != 0) return LastErrno();
    return {};
}

std::size_t FolderFlush::RemoveStaleFiles(std::int64_t olderThanSeconds) {
    if (handle_ < 0) return 0;
    const int fd = static_cast<int>(handle_);
    // Another run with a FolderFlush of this folder may still put its files
    // in place; its lock is seen through any other open of the folder.
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kLiveByte;
    probe.l_len = 1;
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type != F_UNLCK) return 0;
    const int listFd = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return 0;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return 0;
    }
    std::size_t removed = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (!IsPendingFileName(entry->d_name)) continue;
        struct stat st {};
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (static_cast<std::int64_t>(st.st_mtim.tv_sec) >= olderThanSeconds) continue;
        if (::unlinkat(fd, entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

std::error_code RemoveFile(const stdfs::path& path) {
    if (::unlink(path.c_str()) != 0) return LastErrno();
    return {};
}

std::error_code MakeFolders(const stdfs::path& path) {
    // The folders that are missing, from the deepest up.
    std::vector<stdfs::path> missing;
    stdfs::path p = path.lexically_normal();
    if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    for (struct stat st {}; !p.empty() && ::stat(p.c_str(), &st) != 0; p = p.parent_path()) {
        if (errno != ENOENT) return LastErrno();
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0777) != 0) {
            if (errno == EEXIST) continue;  // made by someone else meanwhile
            return LastErrno();
        }
        // The new name is on the disk before anything is put in the folder.
        const stdfs::path parent = FolderOf(*it);
        const int fd = OpenRetry(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return LastErrno();
        const bool flushed = ::fsync(fd) == 0;
        const std::error_code ec = flushed ? std::error_code() : LastErrno();
        ::close(fd);
        if (ec) return ec;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return LastErrno();
    if (!S_ISDIR(st.st_mode)) return Errno(ENOTDIR);
    return {};
}

std::error_code RemoveEmptyFolder(const stdfs::path& path) {
    if (::rmdir(path.c_str()) != 0) return LastErrno();
    return {};
}

std::error_code ListFolder(const stdfs::path& folder, std::vector<FolderEntry>& out) {
    out.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return LastErrno();
    std::error_code ec;
    try {
        for (;;) {
            errno = 0;
            dirent* entry = ::readdir(dir);
            if (!entry) {
                if (errno != 0) ec = LastErrno();
                break;
            }
            const std::string raw = entry->d_name;
            if (raw == "." || raw == "..") continue;
            FolderEntry e;
            e.name = stdfs::path(raw);
            e.displayName = Utf8ToUtf16(raw);
            e.validText = Utf16ToUtf8(e.displayName) == raw;
            if (entry->d_type == DT_REG) e.listedKind = NodeKind::Regular;
            if (!e.validText) {
                // Names from archives made on Windows are often Shift_JIS.
                const ByteSpan bytes(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
                std::u16string cp932 = AnsiBytesToText(bytes);
                if (cp932.find(u'\uFFFD') == std::u16string::npos && cp932.size() > 0) e.displayName = std::move(cp932);
            }
            out.push_back(std::move(e));
        }
    } catch (...) {
        ec = Errno(ENOMEM);
    }
    ::closedir(dir);
    return ec;
}

std::error_code MakePrivateFolder(const std::string& prefix, stdfs::path& out) {
    std::error_code ec;
    stdfs::path base = stdfs::temp_directory_path(ec);
    if (ec || base.empty()) base = "/tmp";
    std::string pattern = (base / (prefix + "-XXXXXX")).native();
    if (!::mkdtemp(pattern.data())) return LastErrno();
    out = pattern;
    return {};
}

FolderLock::FolderLock(const stdfs::path& folder, const std::function<void()>& onWait) {
    const int fd = OpenRetry(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error_ = LastErrno();
        return;
    }
    // Taken at once when it is free; else tried again for a second, then the
    // wait is told and goes on until the other run lets go.
    const auto start = std::chrono::steady_clock::now();
    bool told = false;
    for (;;) {
        if (::flock(fd, told ? LOCK_EX : LOCK_EX | LOCK_NB) == 0) break;
        if (errno == EINTR) continue;
        if (told || errno != EWOULDBLOCK) {
            error_ = LastErrno();
            ::close(fd);
            return;
        }
        if (std::chrono::steady_clock::now() - start >= std::chrono::seconds(1)) {
            told = true;
            if (onWait) {
                try {
                    onWait();
                } catch (...) {
                    // Telling is a courtesy; the wait goes on without it.
                }
            }
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    handle_ = fd;
}

FolderLock::~FolderLock() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::string ErrorText(const std::error_code& error) {
    if (!error) return {};
    return error.message();
}

void RemovePendingFiles() noexcept {
    for (Slot& slot : g_slots)
        if (slot.state.load() == kReady) ::unlink(slot.path);
}

void RemovePendingFilesOnSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller chose to ignore (nohup) stays ignored.
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &sa, nullptr);
    }
}

void AdviseLargePages(void* data, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    if (bytes < kLarge || begin > UINTPTR_MAX - bytes) return;
    const std::uintptr_t from = (begin + kLarge - 1) & ~(kLarge - 1);
    const std::uintptr_t to = (begin + bytes) & ~(kLarge - 1);
    // Errors are of no concern: without the hint the pages are small.
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

int FailWriteStepForTesting(int n) {
    const int passed = g_steps.exchange(0);
    g_failAt.store(n);
    return passed;
}

}  // namespace tervalo::platform
