// The file-system layer on POSIX systems (Linux): open/read/write with
// explicit flags, lstat for what a name stands for, rename for putting new
// files in place, flock for serialising runs, and signal handlers that remove
// files not yet in place. The steps of writing new files are in
// pending_file.cpp; the system calls beneath them are at the end here.
#include "fs/platform.h"
#include "fs/syscalls.h"

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
#include <cstring>
#include <cstdlib>
#include <ctime>
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

// A stop signal being handled, and how many threads are inside a section
// that creates and registers a new file, or puts one in place and
// unregisters it. The handler (on whichever thread takes the signal) waits
// for those sections to end before it removes the new files, and a section
// that would begin after the signal never begins, so no thread creates a
// file the handler has already passed over.
std::atomic<bool> g_stopping{false};
std::atomic<int> g_inSection{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// This thread's signal mask from before its section began.
thread_local sigset_t t_maskBeforeSection;

// The byte of the folder on which each run with new files in it holds a
// shared lock (an open-file-description lock, apart from the flock of
// FolderLock), so that a run can tell whether another one is at work there.
constexpr off_t kLiveByte = 0;

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
    return sys::Read(handle_, out, got);
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

// --- The system calls beneath the new files (syscalls.h) ----------------------

namespace sys {

std::error_code ErrorOf(Failure failure) {
    static constexpr int kCodes[] = {ENOSPC, ENOMEM, EBADF, EINVAL};  // in the order of Failure
    return Errno(kCodes[static_cast<int>(failure)]);
}

unsigned ProcessId() { return static_cast<unsigned>(::getpid()); }

// The stop signals are blocked in a section, so a handler on this thread
// never sees half of one; a handler on another thread waits for it.
void EnterSection() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, &t_maskBeforeSection);
    g_inSection.fetch_add(1);
    if (g_stopping.load()) {
        // The process is ending on another thread: nothing more is begun.
        g_inSection.fetch_sub(1);
        for (;;) ::pause();
    }
}

void LeaveSection() noexcept {
    g_inSection.fetch_sub(1);
    pthread_sigmask(SIG_SETMASK, &t_maskBeforeSection, nullptr);
}

void RemoveNow(const char* path) noexcept { ::unlink(path); }

stdfs::path SystemForm(const stdfs::path& folder) { return folder; }

std::error_code CreateExclusive(const stdfs::path& path, std::uint32_t, std::intptr_t& handle, bool& taken) {
    const int fd = OpenRetry(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    taken = fd < 0 && errno == EEXIST;
    if (fd < 0) return LastErrno();
    handle = fd;
    return {};
}

std::error_code IdOf(std::intptr_t handle, FileId& id) {
    struct stat st;
    if (::fstat(static_cast<int>(handle), &st) != 0) return LastErrno();
    id = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return {};
}

std::error_code SetBits(std::intptr_t handle, std::uint32_t bits) {
    if (::fchmod(static_cast<int>(handle), static_cast<mode_t>(bits)) != 0) return LastErrno();
    return {};
}

std::error_code Examine(const stdfs::path& target, NodeKind& kind, std::uint32_t& bits) {
    struct stat st {};
    kind = NodeKind::Missing;
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno == ENOENT) return {};
        return LastErrno();
    }
    if (S_ISLNK(st.st_mode)) kind = NodeKind::Symlink;
    else if (S_ISDIR(st.st_mode)) kind = NodeKind::Directory;
    else if (!S_ISREG(st.st_mode)) kind = NodeKind::Special;
    else kind = NodeKind::Regular;
    bits = static_cast<std::uint32_t>(st.st_mode & 07777);
    return {};
}

std::error_code OpenSource(const stdfs::path& path, std::intptr_t& handle, Source& source) {
    struct stat st {};
    std::error_code ec;
    const int fd = OpenRegularForReading(path, st, ec);
    if (fd < 0) return ec;
    handle = fd;
    source.bits = static_cast<std::uint32_t>(st.st_mode & 07777);
    source.times[0] = st.st_atim.tv_sec;
    source.times[1] = st.st_atim.tv_nsec;
    source.times[2] = st.st_mtim.tv_sec;
    source.times[3] = st.st_mtim.tv_nsec;
    return {};
}

std::error_code Read(std::intptr_t handle, std::span<std::uint8_t> out, std::size_t& got) {
    got = 0;
    for (;;) {
        const ssize_t r = ::read(static_cast<int>(handle), out.data(), out.size());
        if (r >= 0) {
            got = static_cast<std::size_t>(r);
            return {};
        }
        if (errno != EINTR) return LastErrno();
    }
}

std::error_code CopyTimes(std::intptr_t handle, const Source& source) {
    struct timespec times[2] {};
    times[0].tv_sec = static_cast<time_t>(source.times[0]);
    times[0].tv_nsec = static_cast<long>(source.times[1]);
    times[1].tv_sec = static_cast<time_t>(source.times[2]);
    times[1].tv_nsec = static_cast<long>(source.times[3]);
    if (::futimens(static_cast<int>(handle), times) != 0) return LastErrno();
    return {};
}

std::error_code WriteAll(std::intptr_t handle, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t w = ::write(static_cast<int>(handle), data + done, size - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return LastErrno();
        }
        if (w == 0) return Errno(EIO);
        done += static_cast<std::size_t>(w);
    }
    return {};
}

std::error_code FlushData(std::intptr_t handle) {
    if (::fdatasync(static_cast<int>(handle)) != 0) return LastErrno();
    return {};
}

std::error_code Close(std::intptr_t handle) {
    if (::close(static_cast<int>(handle)) != 0) return LastErrno();
    return {};
}

// Flushing works through any descriptor of the file, one for reading too.
std::error_code OpenToFlush(const stdfs::path& path, std::intptr_t& handle) {
    const int fd = OpenRetry(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return LastErrno();
    handle = fd;
    return {};
}

std::error_code RenameReplace(const stdfs::path& from, const stdfs::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return LastErrno();
    return {};
}

bool FlushesEarly() { return true; }

void StartWriteBack(std::intptr_t handle, std::uint64_t offset, std::uint64_t length) {
    ::sync_file_range(static_cast<int>(handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                      SYNC_FILE_RANGE_WRITE);
}

std::thread StartQuietThread(std::function<void()> run) {
    // The new thread inherits the mask in force while it is made.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        std::thread thread(std::move(run));
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return thread;
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        throw;
    }
}

std::error_code OpenFolder(const stdfs::path& folder, std::intptr_t& handle, bool& wholeFlush) {
    // A later syncfs() reports every error the system met writing back this
    // file system since the folder was opened.
    const int fd = OpenRetry(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastErrno();
    handle = fd;
    struct statfs sfs {};
    wholeFlush = ::fstatfs(fd, &sfs) == 0 && FlushOfFileSystemReachesDevice(static_cast<std::int64_t>(sfs.f_type));
    struct flock live {};
    live.l_type = F_RDLCK;
    live.l_whence = SEEK_SET;
    live.l_start = kLiveByte;
    live.l_len = 1;
    ::fcntl(fd, F_OFD_SETLK, &live);  // without it, other runs simply leave old files alone for longer
    return {};
}

bool FlushFileSystem(std::intptr_t folder) { return ::syncfs(static_cast<int>(folder)) == 0; }

std::error_code FlushFolder(std::intptr_t folder, const std::error_code& openError) {
    if (folder < 0) return openError ? openError : Errno(EBADF);
    if (::fsync(static_cast<int>(folder)) != 0) return LastErrno();
    return {};
}

std::size_t RemoveStale(std::intptr_t folder, std::int64_t olderThanSeconds) {
    const int fd = static_cast<int>(folder);
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

}  // namespace sys

}  // namespace tervalo::platform
