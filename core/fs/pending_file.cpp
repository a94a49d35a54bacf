// New files beside their final names (PendingFile, FolderFlush) and the
// registry of those not yet in place, which a stop removes: the same steps on
// every platform, built on the system calls of syscalls.h.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "fs/syscalls.h"

namespace tervalo::platform {

namespace {

using sys::Failure;
using sys::kNoHandle;

std::error_code DiskFull() { return sys::ErrorOf(Failure::DiskFull); }

// --- Test hook: a failing step of writing a new file ---------------------------

std::atomic<int> g_failAt{0};
std::atomic<int> g_steps{0};

// One step of writing a new file; true when it is the step a test asked to
// fail (as if the disk were full).
bool StepFails() {
    const int step = g_steps.fetch_add(1) + 1;
    const int failAt = g_failAt.load();
    return failAt != 0 && step == failAt;
}

// --- Files not yet in place, for removal on a stop -----------------------------

// Each slot keeps its buffer once it has one, so a stop never sees a buffer
// freed under it; slots are filled and emptied only inside a Section.
using PathChar = stdfs::path::value_type;
constexpr int kSlots = kMostPendingFiles;
enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };
struct Slot {
    std::atomic<int> state{kFree};
    PathChar* path = nullptr;
    std::size_t capacity = 0;  // in characters
};
Slot g_slots[kSlots];

int Register(const stdfs::path::string_type& path) {
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        Slot& slot = g_slots[i];
        const std::size_t length = path.size() + 1;
        if (slot.capacity < length) {
            // Only this thread touches a slot that is being filled.
            auto* bigger = static_cast<PathChar*>(std::realloc(slot.path, length * sizeof(PathChar)));
            if (!bigger) {
                slot.state.store(kFree);
                return -1;
            }
            slot.path = bigger;
            slot.capacity = length;
        }
        std::memcpy(slot.path, path.c_str(), length * sizeof(PathChar));
        slot.state.store(kReady);
        return i;
    }
    return -1;  // too many at once: this file is simply not removed on a stop
}

void Unregister(int& slot) {
    if (slot >= 0) g_slots[slot].state.store(kFree);
    slot = -1;
}

class Section {
public:
    Section() { sys::EnterSection(); }
    ~Section() { sys::LeaveSection(); }
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;
};

// Creates a new empty file in `folder` under a name nobody else has, and
// registers it for removal on a stop.
std::error_code CreateTemp(const stdfs::path& folder, std::uint32_t bits, stdfs::path& temp, int& slot,
                           std::intptr_t& handle) {
    if (StepFails()) return DiskFull();
    const stdfs::path::string_type base = sys::SystemForm(folder).native();
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
        stdfs::path::string_type name = base;
        if (!name.empty() && name.back() != stdfs::path::preferred_separator) name += stdfs::path::preferred_separator;
        const std::string own = ".tervalo-" + RandomHex16() + ".tmp";
        name.append(own.begin(), own.end());
        stdfs::path candidate(std::move(name));
        Section section;
        slot = Register(candidate.native());
        bool taken = false;
        ec = sys::CreateExclusive(candidate, bits, handle, taken);
        if (!ec) {
            temp = std::move(candidate);
            return {};
        }
        Unregister(slot);
        if (!taken) return ec;
    }
    return ec;
}

// Writes the bytes; a failure injected by a test stops half-way, as a full
// disk would.
std::error_code WriteStep(std::intptr_t handle, const std::uint8_t* data, std::size_t size) {
    if (StepFails()) {
        (void)sys::WriteAll(handle, data, size / 2);
        return DiskFull();
    }
    return sys::WriteAll(handle, data, size);
}

std::error_code FlushAndClose(std::intptr_t handle) {
    std::error_code ec = StepFails() ? DiskFull() : sys::FlushData(handle);
    if (StepFails()) ec = DiskFull();
    const std::error_code closed = sys::Close(handle);
    return ec ? ec : closed;
}

// Closes a new file whose bytes the system may still hold in memory only.
std::error_code CloseUnflushed(std::intptr_t handle) {
    const std::error_code ec = StepFails() ? DiskFull() : std::error_code();
    const std::error_code closed = sys::Close(handle);
    return ec ? ec : closed;
}

// Refuses a target that is a link, a folder or a special file; `bits` are
// those its replacement keeps when it is a file.
std::error_code CheckReplaceable(const stdfs::path& target, std::uint32_t& bits, bool& replacing) {
    replacing = false;
    NodeKind kind = NodeKind::Missing;
    if (std::error_code ec = sys::Examine(target, kind, bits)) return ec;
    switch (kind) {
        case NodeKind::Missing: return {};
        case NodeKind::Symlink: return MakeError(FsError::IsLink);
        case NodeKind::Directory: return MakeError(FsError::IsDirectory);
        case NodeKind::Special: return MakeError(FsError::IsSpecial);
        case NodeKind::Regular: break;
    }
    replacing = true;
    return {};
}

// How much of a new file is written before its writing to the disk is started.
constexpr std::uint64_t kEarlyWriteBytes = 8u << 20;
// A file flushed later with others of its folder starts going to the disk
// when it is closed from this size on, so that the disk works while the next
// files are built and the folder's flush has only the last of them left to
// wait for (for small files one flush of them all costs less than starting
// each).
constexpr std::uint64_t kEarlyStartBytes = 1u << 20;

}  // namespace

stdfs::path FolderOf(const stdfs::path& target) {
    stdfs::path folder = target.parent_path();
    return folder.empty() ? stdfs::path(".") : folder;
}

std::string RandomHex16() {
    thread_local std::mt19937_64 gen([] {
        std::random_device rd;
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::seed_seq seq{rd(), rd(), sys::ProcessId(), static_cast<unsigned>(now), static_cast<unsigned>(now >> 32)};
        return std::mt19937_64(seq);
    }());
    static const char kHex[] = "0123456789abcdef";
    std::uint64_t v = gen();
    std::string s(16, '0');
    for (int i = 0; i < 16; ++i, v >>= 4) s[static_cast<std::size_t>(i)] = kHex[v & 15];
    return s;
}

// Flushes a large new file to the disk on a thread of its own while the rest
// of it is still being built, so that the flush at the end waits only for the
// last few MiB: handing data to the disk is quick, but the flush that makes
// it durable takes about as long again as writing it, and it can overlap the
// building. The thread runs one flush per request (requests made while one
// runs are joined into the next) and takes no signals: the stop signals stay
// with the threads that block them while they put files in place. The first
// error is kept for Finish(), since a failed flush may clear the error that a
// later one would have seen.
struct EarlyFlush {
    explicit EarlyFlush(std::intptr_t handle) : handle_(handle) { thread_ = sys::StartQuietThread([this] { Run(); }); }
    ~EarlyFlush() { Stop(); }

    void Request() {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_ = true;
        wake_.notify_one();
    }
    // Waits for the flush under way and ends the thread; the first error of
    // the early flushes.
    std::error_code Stop() {
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
            const std::error_code ec = sys::FlushData(handle_);
            lock.lock();
            if (ec && !error_) error_ = ec;
        }
    }

    const std::intptr_t handle_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool requested_ = false, stop_ = false;
    std::error_code error_;
    std::thread thread_;
};

PendingFile::PendingFile() = default;
PendingFile::~PendingFile() { Discard(); }

std::error_code PendingFile::Begin(const stdfs::path& target, std::uint32_t& mode, bool& replacing) {
    Discard();
    target_ = target;
    return CheckReplaceable(target, mode, replacing);
}

std::error_code PendingFile::Open(const stdfs::path& target) {
    std::uint32_t bits = 0;
    bool replacing = false;
    if (std::error_code ec = Begin(target, bits, replacing)) return ec;
    return OpenTemp(replacing, bits);
}

std::error_code PendingFile::OpenForMissing(const stdfs::path& target) {
    Discard();
    target_ = target;
    return OpenTemp(false, 0);
}

std::error_code PendingFile::OpenTemp(bool replacing, std::uint32_t bits) {
    std::intptr_t handle = kNoHandle;
    if (std::error_code ec = CreateTemp(FolderOf(target_), replacing ? bits : 0, temp_, slot_, handle)) return ec;
    if (replacing) {
        if (std::error_code ec = sys::SetBits(handle, bits)) {
            (void)sys::Close(handle);
            Discard();
            return ec;
        }
    }
    FileId id;
    id_.reset();
    if (!sys::IdOf(handle, id)) id_ = id;
    handle_ = handle;
    wrote_ = false;
    written_ = started_ = 0;
    return {};
}

std::error_code PendingFile::Write(ByteSpan data) {
    if (handle_ == kNoHandle) return sys::ErrorOf(Failure::BadHandle);
    // The first piece counts as the write step of a test's injected failure.
    const std::error_code ec =
        wrote_ ? sys::WriteAll(handle_, data.data(), data.size()) : WriteStep(handle_, data.data(), data.size());
    wrote_ = true;
    if (ec) {
        Discard();
        return ec;
    }
    written_ += data.size();
    // A large file starts going to the disk while the rest is still being
    // built, so that the flush at the end has little left to wait for.
    if (sys::FlushesEarly() && written_ - started_ >= kEarlyWriteBytes) {
        sys::StartWriteBack(handle_, started_, written_ - started_);
        started_ = written_;
        try {
            if (!early_) early_ = std::make_unique<EarlyFlush>(handle_);
            early_->Request();
        } catch (...) {
            // Without a thread the file is flushed at the end alone.
        }
    }
    return {};
}

std::error_code PendingFile::Finish(Flush when) {
    if (handle_ == kNoHandle) return sys::ErrorOf(Failure::BadHandle);
    if (!wrote_) {
        if (std::error_code ec = Write({})) return ec;
    }
    const std::intptr_t handle = handle_;
    handle_ = kNoHandle;
    std::error_code ec = StopEarlyFlush();
    if (ec) {
        (void)sys::Close(handle);
    } else {
        if (when == Flush::Later && sys::FlushesEarly() && written_ - started_ >= kEarlyStartBytes)
            sys::StartWriteBack(handle, started_, written_ - started_);
        ec = when == Flush::Later ? CloseUnflushed(handle) : FlushAndClose(handle);
        if (!ec) {
            unflushed_ = when == Flush::Later;
            return {};
        }
    }
    Discard();
    return ec;
}

std::error_code PendingFile::FlushAlone() {
    if (temp_.empty()) return sys::ErrorOf(Failure::BadState);
    std::intptr_t handle = kNoHandle;
    std::error_code ec = StepFails() ? DiskFull() : sys::OpenToFlush(temp_, handle);
    if (!ec) ec = FlushAndClose(handle);
    if (!ec) {
        unflushed_ = false;
        return {};
    }
    Discard();
    return ec;
}

std::error_code PendingFile::StopEarlyFlush() {
    if (!early_) return {};
    const std::error_code ec = early_->Stop();
    early_.reset();
    return ec;
}

void PendingFile::Discard() {
    StopEarlyFlush();  // before the file it flushes is closed
    if (handle_ != kNoHandle) {
        (void)sys::Close(handle_);
        handle_ = kNoHandle;
    }
    unflushed_ = false;
    if (temp_.empty()) return;
    id_.reset();
    Section section;
    sys::RemoveNow(temp_.c_str());
    Unregister(slot_);
    temp_.clear();
}

std::error_code PendingFile::Create(const stdfs::path& target, ByteSpan data) {
    std::uint32_t bits = 0;
    bool replacing = false;
    if (std::error_code ec = Begin(target, bits, replacing)) return ec;
    std::intptr_t handle = kNoHandle;
    if (std::error_code ec = CreateTemp(FolderOf(target), replacing ? bits : 0, temp_, slot_, handle)) return ec;
    std::error_code ec = replacing ? sys::SetBits(handle, bits) : std::error_code();
    if (!ec) ec = WriteStep(handle, data.data(), data.size());
    if (!ec) {
        ec = FlushAndClose(handle);
    } else {
        (void)sys::Close(handle);
    }
    if (!ec) return {};
    Discard();
    return ec;
}

std::error_code PendingFile::CreateCopy(const stdfs::path& target, const stdfs::path& source, Flush when) {
    std::uint32_t bits = 0;
    bool replacing = false;
    if (std::error_code ec = Begin(target, bits, replacing)) return ec;
    sys::Source kept;
    std::intptr_t in = kNoHandle;
    if (std::error_code ec = sys::OpenSource(source, in, kept)) return ec;
    std::intptr_t handle = kNoHandle;
    if (std::error_code ec = CreateTemp(FolderOf(target), kept.bits, temp_, slot_, handle)) {
        (void)sys::Close(in);
        return ec;
    }
    // The copy keeps the permission bits and time stamps of what it copies.
    std::error_code ec = sys::SetBits(handle, kept.bits);
    try {
        std::vector<std::uint8_t> buf(1 << 20);
        bool first = true;
        while (!ec) {
            std::size_t got = 0;
            if ((ec = sys::Read(in, buf, got)) || got == 0) break;
            ec = first ? WriteStep(handle, buf.data(), got) : sys::WriteAll(handle, buf.data(), got);
            first = false;
        }
        if (!ec && first) ec = WriteStep(handle, buf.data(), 0);  // an empty file passes the step too
    } catch (...) {
        ec = sys::ErrorOf(Failure::NoMemory);
    }
    if (!ec) ec = StepFails() ? DiskFull() : sys::CopyTimes(handle, kept);
    if (!ec) {
        ec = when == Flush::Later ? CloseUnflushed(handle) : FlushAndClose(handle);
    } else {
        (void)sys::Close(handle);
    }
    (void)sys::Close(in);
    if (!ec) {
        unflushed_ = when == Flush::Later;
        return {};
    }
    Discard();
    return ec;
}

std::error_code PendingFile::Commit() {
    if (temp_.empty()) return sys::ErrorOf(Failure::BadState);
    // Never a name for bytes that might not be on the disk yet.
    if (unflushed_) {
        if (std::error_code ec = FlushAlone()) return ec;
    }
    Section section;
    const std::error_code ec = StepFails() ? DiskFull() : sys::RenameReplace(temp_, target_);
    if (ec) {
        sys::RemoveNow(temp_.c_str());
        id_.reset();
    }
    Unregister(slot_);
    temp_.clear();
    return ec;
}

FolderFlush::FolderFlush(const stdfs::path& folder) {
    // Opened before the files are written: a later flush of the file system
    // reports every error the system met writing it back since then.
    error_ = sys::OpenFolder(folder, handle_, wholeFlush_);
}

FolderFlush::~FolderFlush() {
    if (handle_ != kNoHandle) (void)sys::Close(handle_);
}

std::vector<std::error_code> FolderFlush::FlushFiles(std::span<PendingFile* const> files) {
    std::vector<std::error_code> errors(files.size());
    // One flush of the whole file system costs about what flushing one small
    // file costs, but it also writes out what other programs have written:
    // a single file is flushed on its own. When the flush of the file system
    // reports an error (which may be another program's), each file is
    // flushed on its own, to tell which of them failed. Where such a flush
    // may not reach the device (FUSE, network file systems, Windows), each
    // file is flushed on its own too.
    const auto unflushed = std::count_if(files.begin(), files.end(), [](const PendingFile* f) { return f->unflushed_; });
    const bool all = wholeFlush_ && unflushed > 1 && handle_ != kNoHandle && sys::FlushFileSystem(handle_);
    for (std::size_t i = 0; i < files.size(); ++i) {
        PendingFile& file = *files[i];
        if (!file.unflushed_) continue;
        if (!all) {
            errors[i] = file.FlushAlone();
        } else if (StepFails()) {
            // A test's injected failure of this file's flush.
            errors[i] = DiskFull();
            file.Discard();
        } else {
            file.unflushed_ = false;
        }
    }
    return errors;
}

std::error_code FolderFlush::FlushNames() {
    if (StepFails()) return DiskFull();
    return sys::FlushFolder(handle_, error_);
}

std::size_t FolderFlush::RemoveStaleFiles(std::int64_t olderThanSeconds) {
    if (handle_ == kNoHandle) return 0;
    return sys::RemoveStale(handle_, olderThanSeconds);
}

void RemovePendingFiles() noexcept {
    for (Slot& slot : g_slots)
        if (slot.state.load() == kReady) sys::RemoveNow(slot.path);
}

int FailWriteStepForTesting(int n) {
    const int passed = g_steps.exchange(0);
    g_failAt.store(n);
    return passed;
}

}  // namespace tervalo::platform
