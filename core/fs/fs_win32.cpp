// The file-system layer on Windows: CreateFileW with explicit sharing for
// every open (always binary), GetFileInformationByHandle for what a name
// stands for and which file it is, MoveFileExW for putting new files in
// place, FindFirstFileExW for folder scans, FormatMessageW for error texts
// and a console control handler that removes files not yet in place.
//
// Every path is made absolute and given the "\\?\" (or "\\?\UNC\") prefix
// before it reaches the system, so paths longer than 260 characters and
// paths on network shares work like any other.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <sddl.h>
// The system's ReplaceFile macro would rename this layer's ReplaceFile.
#undef ReplaceFile

#include "fs/platform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>

namespace tervalo::platform {

namespace {

std::error_code Win32Error(DWORD e) { return {static_cast<int>(e), std::system_category()}; }
std::error_code LastError() {
    const DWORD e = ::GetLastError();
    return Win32Error(e ? e : ERROR_GEN_FAILURE);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Closes a handle when it goes out of scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (ok()) ::CloseHandle(h_);
        h_ = h;
    }
    HANDLE release() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    // Closes now and says whether the system accepted the close.
    bool close() {
        const bool r = !ok() || ::CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return r;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

bool StartsWith(const std::wstring& s, const wchar_t* prefix) { return s.rfind(prefix, 0) == 0; }

// The form of a path the system takes at any length: absolute, with "/" and
// ".." resolved, then "\\?\C:\..." or "\\?\UNC\server\share\...". Device
// names (\\.\NUL) and paths already in the extended form stay as they are.
std::wstring SystemPath(const stdfs::path& path) {
    const std::wstring& in = path.native();
    if (in.empty() || StartsWith(in, L"\\\\?\\") || StartsWith(in, L"\\\\.\\")) return in;
    std::wstring full(std::max<std::size_t>(in.size() + 1, MAX_PATH), L'\0');
    for (;;) {
        const DWORD n = ::GetFullPathNameW(in.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return in;
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n + 1);
    }
    if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) return full;
    if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 2 && full[1] == L':') return L"\\\\?\\" + full;
    return full;
}

bool IsMissingError(DWORD e) {
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_BAD_NETPATH ||
           e == ERROR_BAD_NET_NAME || e == ERROR_INVALID_NAME || e == ERROR_DIRECTORY ||
           e == ERROR_NOT_READY || e == ERROR_INVALID_DRIVE;
}

// 100-nanosecond ticks from 1601 to 1970.
constexpr std::int64_t kEpochTicks = 116444736000000000LL;

std::int64_t SecondsOfFileTime(const FILETIME& ft) {
    const std::int64_t ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    const std::int64_t d = ticks - kEpochTicks;
    return d >= 0 ? d / 10000000 : -((-d + 9999999) / 10000000);
}

// Links are the reparse points that stand for another name: symbolic links,
// junctions and mount points. Other reparse points (cloud placeholders,
// deduplicated files) are files and folders like any other.
bool IsLinkReparse(HANDLE h, DWORD attributes) {
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) return true;
    return IsReparseTagNameSurrogate(tag.ReparseTag);
}

// What an open handle stands for.
std::error_code InspectHandle(HANDLE h, bool openedLink, NodeInfo& out) {
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        out.kind = NodeKind::Special;
        return {};
    }
    BY_HANDLE_FILE_INFORMATION bi{};
    if (!::GetFileInformationByHandle(h, &bi)) return LastError();
    if (openedLink && IsLinkReparse(h, bi.dwFileAttributes)) out.kind = NodeKind::Symlink;
    else if (bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) out.kind = NodeKind::Directory;
    else out.kind = NodeKind::Regular;
    out.size = (static_cast<std::uint64_t>(bi.nFileSizeHigh) << 32) | bi.nFileSizeLow;
    out.writeTimeSeconds = SecondsOfFileTime(bi.ftLastWriteTime);
    out.id = FileId{bi.dwVolumeSerialNumber, (static_cast<std::uint64_t>(bi.nFileIndexHigh) << 32) | bi.nFileIndexLow};
    return {};
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
        ::SetLastError(ERROR_DISK_FULL);
        return true;
    }
    return false;
}

// --- Files not yet in place, for removal when the console is stopped ----------

// Enough for the new files and backup copies of a batch group at once. Each
// slot keeps its buffer once it has one; slots are filled and emptied only
// under the lock below, which the control handler holds too.
constexpr int kSlots = 1024;
enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };
struct Slot {
    std::atomic<int> state{kFree};
    wchar_t* path = nullptr;
    std::size_t capacity = 0;  // in characters
};
Slot g_slots[kSlots];

// Held while a new file is created and registered, or put in place and
// unregistered, and by the control handler while it removes pending files and
// ends the process: the handler runs on a thread of its own and so never sees
// half of either.
CRITICAL_SECTION g_pendingLock;
INIT_ONCE g_pendingLockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK InitPendingLock(PINIT_ONCE, PVOID, PVOID*) {
    ::InitializeCriticalSection(&g_pendingLock);
    return TRUE;
}

class PendingLocked {
public:
    PendingLocked() {
        ::InitOnceExecuteOnce(&g_pendingLockOnce, InitPendingLock, nullptr, nullptr);
        ::EnterCriticalSection(&g_pendingLock);
    }
    ~PendingLocked() { ::LeaveCriticalSection(&g_pendingLock); }
    PendingLocked(const PendingLocked&) = delete;
    PendingLocked& operator=(const PendingLocked&) = delete;
};

int Register(const std::wstring& path) {
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        Slot& slot = g_slots[i];
        if (slot.capacity < path.size() + 1) {
            auto* bigger = static_cast<wchar_t*>(std::realloc(slot.path, (path.size() + 1) * sizeof(wchar_t)));
            if (!bigger) {
                slot.state.store(kFree);
                return -1;
            }
            slot.path = bigger;
            slot.capacity = path.size() + 1;
        }
        std::memcpy(slot.path, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        slot.state.store(kReady);
        return i;
    }
    return -1;  // too many at once: this file is simply not removed on a stop
}

void Unregister(int& slot) {
    if (slot >= 0) g_slots[slot].state.store(kFree);
    slot = -1;
}

std::wstring RandomSuffix() {
    thread_local std::mt19937_64 gen([] {
        std::random_device rd;
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::seed_seq seq{rd(), rd(), static_cast<unsigned>(::GetCurrentProcessId()), static_cast<unsigned>(now),
                          static_cast<unsigned>(now >> 32)};
        return std::mt19937_64(seq);
    }());
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::uint64_t v = gen();
    std::wstring s(16, L'0');
    for (int i = 0; i < 16; ++i, v >>= 4) s[static_cast<std::size_t>(i)] = kHex[v & 15];
    return s;
}

stdfs::path FolderOf(const stdfs::path& target) {
    stdfs::path folder = target.parent_path();
    return folder.empty() ? stdfs::path(L".") : folder;
}

// Creates a new empty file in `folder` under a name nobody else has, opened
// for writing by this process alone, and registers it for removal on a stop.
// Deleting stays allowed, so the control handler can remove it while it is
// still open.
HANDLE CreateTemp(const stdfs::path& folder, DWORD attributes, stdfs::path& temp, int& slot) {
    if (StepFails()) return INVALID_HANDLE_VALUE;
    const std::wstring base = SystemPath(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate = base;
        if (!candidate.empty() && candidate.back() != L'\\') candidate += L'\\';
        candidate += L".tervalo-" + RandomSuffix() + L".tmp";
        PendingLocked locked;
        slot = Register(candidate);
        const HANDLE h = ::CreateFileW(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                       attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            temp = stdfs::path(candidate);
            return h;
        }
        const DWORD e = ::GetLastError();
        Unregister(slot);
        if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) {
            ::SetLastError(e);
            return INVALID_HANDLE_VALUE;
        }
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE h, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD wrote = 0;
        if (!::WriteFile(h, data + done, want, &wrote, nullptr)) return false;
        if (wrote == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += wrote;
    }
    return true;
}

// Writes the bytes; a failure injected by a test stops half-way, as a full
// disk would.
bool WriteStep(HANDLE h, const std::uint8_t* data, std::size_t size) {
    if (StepFails()) {
        WriteAll(h, data, size / 2);
        ::SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return WriteAll(h, data, size);
}

// Closes a new file whose bytes the system may still hold in memory only.
bool CloseUnflushed(Handle& h) {
    bool ok = !StepFails();
    DWORD e = ::GetLastError();
    if (!h.close() && ok) {
        ok = false;
        e = ::GetLastError();
    }
    ::SetLastError(e);
    return ok;
}

bool FlushAndClose(Handle& h) {
    bool ok = !StepFails() && ::FlushFileBuffers(h.get());
    DWORD e = ::GetLastError();
    if (StepFails()) {
        ok = false;
        e = ::GetLastError();
    }
    if (!h.close() && ok) {
        ok = false;
        e = ::GetLastError();
    }
    ::SetLastError(e);
    return ok;
}

// The attributes a new file takes over from the file it replaces or copies.
// Read-only is left out: a read-only copy could never be replaced again.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::error_code CheckReplaceable(const stdfs::path& target, std::uint32_t& attributes, bool& replacing) {
    replacing = false;
    NodeInfo info;
    if (std::error_code ec = Inspect(target, false, info)) return ec;
    switch (info.kind) {
        case NodeKind::Missing: return {};
        case NodeKind::Symlink: return MakeError(FsError::IsLink);
        case NodeKind::Directory: return MakeError(FsError::IsDirectory);
        case NodeKind::Special: return MakeError(FsError::IsSpecial);
        case NodeKind::Regular: break;
    }
    const DWORD a = ::GetFileAttributesW(SystemPath(target).c_str());
    attributes = a == INVALID_FILE_ATTRIBUTES ? 0 : (a & kKeptAttributes);
    replacing = true;
    return {};
}

// Opens a file for reading, shared with every other reader and writer, and
// makes sure it is a regular file on a disk.
HANDLE OpenRegularForReading(const stdfs::path& path, BY_HANDLE_FILE_INFORMATION& bi, std::error_code& ec) {
    Handle h(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h.ok()) {
        ec = LastError();
        return INVALID_HANDLE_VALUE;
    }
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) {
        ec = MakeError(FsError::IsSpecial);
    } else if (!::GetFileInformationByHandle(h.get(), &bi)) {
        ec = LastError();
    } else if (bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ec = std::make_error_code(std::errc::is_a_directory);
    } else {
        return h.release();
    }
    return INVALID_HANDLE_VALUE;
}

std::string Utf8OfWide(const wchar_t* s, int n) {
    if (n <= 0) return {};
    const int len = ::WideCharToMultiByte(CP_UTF8, 0, s, n, nullptr, 0, nullptr, nullptr);
    if (len <= 0) return {};
    std::string out(static_cast<std::size_t>(len), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s, n, out.data(), len, nullptr, nullptr);
    return out;
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

// Ctrl-C, Ctrl-Break, closing the console window, logging off and shutting
// down: the pending files are removed and the process ends as Ctrl-C ends it.
BOOL WINAPI OnConsoleStop(DWORD) {
    PendingLocked locked;  // waits for a creation or commit under way
    RemovePendingFiles();
    ::ExitProcess(static_cast<UINT>(0xC000013AL));  // STATUS_CONTROL_C_EXIT
    return TRUE;
}

}  // namespace

const std::error_category& FsCategory() {
    static const FsCategoryImpl category;
    return category;
}

bool PathFromText(const std::u16string& text, stdfs::path& out) {
    try {
        if (text.empty() || text.find(u'\0') != std::u16string::npos) return false;
        out = stdfs::path(std::wstring(text.begin(), text.end()));
        return true;
    } catch (...) {
        return false;
    }
}

std::u16string TextFromPath(const stdfs::path& path) {
    try {
        const std::wstring& w = path.native();
        return std::u16string(w.begin(), w.end());
    } catch (...) {
        return {};
    }
}

std::error_code Inspect(const stdfs::path& path, bool followLinks, NodeInfo& out) {
    out = NodeInfo{};
    const std::wstring p = SystemPath(path);
    if (p.empty()) return {};
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    Handle h(::CreateFileW(p.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!h.ok()) {
        const DWORD e = ::GetLastError();
        if (IsMissingError(e)) return {};
        // A file the system keeps open for itself may refuse even this;
        // its attributes are still known by its name.
        WIN32_FILE_ATTRIBUTE_DATA ad{};
        if (e == ERROR_SHARING_VIOLATION && ::GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &ad)) {
            out.kind = (ad.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? NodeKind::Directory : NodeKind::Regular;
            out.size = (static_cast<std::uint64_t>(ad.nFileSizeHigh) << 32) | ad.nFileSizeLow;
            out.writeTimeSeconds = SecondsOfFileTime(ad.ftLastWriteTime);
            return {};
        }
        return Win32Error(e);
    }
    return InspectHandle(h.get(), !followLinks, out);
}

bool LocalTime(std::int64_t seconds, int& year, int& month, int& day, int& hour, int& minute, int& second) {
    if (seconds < -11644473600LL || seconds > 910692730085LL) return false;
    const std::uint64_t ticks = static_cast<std::uint64_t>(seconds * 10000000 + kEpochTicks);
    FILETIME ft{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{}, local{};
    // The time zone rules in force at that date, daylight saving included.
    if (!::FileTimeToSystemTime(&ft, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
    year = local.wYear;
    month = local.wMonth;
    day = local.wDay;
    hour = local.wHour;
    minute = local.wMinute;
    second = local.wSecond;
    return true;
}

std::error_code ReadFile(const stdfs::path& path, std::size_t limit, Bytes& out) {
    try {
        BY_HANDLE_FILE_INFORMATION bi{};
        std::error_code ec;
        Handle h(OpenRegularForReading(path, bi, ec));
        if (!h.ok()) return ec;
        // Size the buffer from the file, and grow only when it turns out longer.
        const std::uint64_t size = (static_cast<std::uint64_t>(bi.nFileSizeHigh) << 32) | bi.nFileSizeLow;
        Bytes buf(static_cast<std::size_t>(std::min<std::uint64_t>(size, limit)));
        std::size_t got = 0;
        std::uint8_t probe[65536];
        while (got < limit) {
            // With the buffer full, probe for more before growing it: a file
            // of the size it had costs no second allocation.
            const bool full = got == buf.size();
            std::uint8_t* into = full ? probe : buf.data() + got;
            const std::size_t want = full ? std::min(sizeof probe, limit - got) : buf.size() - got;
            DWORD r = 0;
            if (!::ReadFile(h.get(), into, static_cast<DWORD>(std::min<std::size_t>(want, 1u << 30)), &r, nullptr)) {
                ec = LastError();
                break;
            }
            if (r == 0) break;
            if (full) buf.insert(buf.end(), probe, probe + r);
            got += r;
        }
        if (ec) return ec;
        buf.resize(got);
        out.swap(buf);
        return {};
    } catch (const std::bad_alloc&) {
        return Win32Error(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        return Win32Error(ERROR_GEN_FAILURE);
    }
}

// Each file is flushed when it is finished; nothing runs early here.
struct EarlyFlush {};

PendingFile::PendingFile() = default;
PendingFile::~PendingFile() { Discard(); }

namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t FromHandle(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }
constexpr std::intptr_t kNoHandle = -1;  // INVALID_HANDLE_VALUE

}  // namespace

std::error_code PendingFile::Open(const stdfs::path& target) {
    std::uint32_t attributes = 0;
    bool replacing = false;
    if (std::error_code ec = Begin(target, attributes, replacing)) return ec;
    Handle h(CreateTemp(FolderOf(target), replacing ? attributes : 0, temp_, slot_));
    if (!h.ok()) return LastError();
    handle_ = FromHandle(h.release());
    wrote_ = false;
    return {};
}

std::error_code PendingFile::Write(ByteSpan data) {
    if (handle_ == kNoHandle) return Win32Error(ERROR_INVALID_HANDLE);
    // The first piece counts as the write step of a test's injected failure.
    const bool ok = wrote_ ? WriteAll(AsHandle(handle_), data.data(), data.size())
                           : WriteStep(AsHandle(handle_), data.data(), data.size());
    wrote_ = true;
    if (ok) return {};
    const DWORD e = ::GetLastError();
    Discard();
    return Win32Error(e ? e : ERROR_GEN_FAILURE);
}

std::error_code PendingFile::Finish(Flush when) {
    if (handle_ == kNoHandle) return Win32Error(ERROR_INVALID_HANDLE);
    if (!wrote_) {
        if (std::error_code ec = Write({})) return ec;
    }
    Handle h(AsHandle(handle_));
    handle_ = kNoHandle;
    if (when == Flush::Later ? CloseUnflushed(h) : FlushAndClose(h)) {
        unflushed_ = when == Flush::Later;
        return {};
    }
    const DWORD e = ::GetLastError();
    Discard();
    return Win32Error(e ? e : ERROR_GEN_FAILURE);
}

std::error_code PendingFile::FlushAlone() {
    if (temp_.empty()) return Win32Error(ERROR_INVALID_PARAMETER);
    // Flushing needs a handle with write access; nobody else can have the
    // file open, as it was created for this process alone.
    Handle h;
    if (!StepFails())
        h.reset(::CreateFileW(temp_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.ok() && FlushAndClose(h)) {
        unflushed_ = false;
        return {};
    }
    const DWORD e = ::GetLastError();
    Discard();
    return Win32Error(e ? e : ERROR_GEN_FAILURE);
}

InputFile::~InputFile() {
    if (handle_ != kNoHandle) ::CloseHandle(AsHandle(handle_));
}

std::error_code InputFile::Open(const stdfs::path& path) {
    BY_HANDLE_FILE_INFORMATION bi{};
    std::error_code ec;
    Handle h(OpenRegularForReading(path, bi, ec));
    if (!h.ok()) return ec;
    if (handle_ != kNoHandle) ::CloseHandle(AsHandle(handle_));
    handle_ = FromHandle(h.release());
    size_ = (static_cast<std::uint64_t>(bi.nFileSizeHigh) << 32) | bi.nFileSizeLow;
    failReads_ = ReadsFailForTesting(path);
    return {};
}

std::error_code InputFile::Read(std::span<std::uint8_t> out, std::size_t& got) {
    got = 0;
    if (handle_ == kNoHandle) return Win32Error(ERROR_INVALID_HANDLE);
    if (failReads_) return Win32Error(ERROR_CRC);
    DWORD r = 0;
    if (!::ReadFile(AsHandle(handle_), out.data(), static_cast<DWORD>(std::min<std::size_t>(out.size(), 1u << 30)), &r,
                    nullptr))
        return LastError();
    got = r;
    return {};
}

void PendingFile::Discard() {
    // The new file is closed before it can be deleted.
    if (handle_ != kNoHandle) {
        ::CloseHandle(AsHandle(handle_));
        handle_ = kNoHandle;
    }
    unflushed_ = false;
    if (temp_.empty()) return;
    PendingLocked locked;
    ::DeleteFileW(temp_.c_str());
    Unregister(slot_);
    temp_.clear();
}

std::error_code PendingFile::Begin(const stdfs::path& target, std::uint32_t& mode, bool& replacing) {
    Discard();
    target_ = target;
    return CheckReplaceable(target, mode, replacing);
}

std::error_code PendingFile::Create(const stdfs::path& target, ByteSpan data) {
    std::uint32_t attributes = 0;
    bool replacing = false;
    if (std::error_code ec = Begin(target, attributes, replacing)) return ec;
    Handle h(CreateTemp(FolderOf(target), replacing ? attributes : 0, temp_, slot_));
    if (!h.ok()) return LastError();
    bool ok = WriteStep(h.get(), data.data(), data.size());
    DWORD e = ::GetLastError();
    if (ok) {
        ok = FlushAndClose(h);
        e = ::GetLastError();
    } else {
        h.close();
    }
    if (ok) return {};
    Discard();
    return Win32Error(e ? e : ERROR_GEN_FAILURE);
}

std::error_code PendingFile::CreateCopy(const stdfs::path& target, const stdfs::path& source, Flush when) {
    std::uint32_t attributes = 0;
    bool replacing = false;
    if (std::error_code ec = Begin(target, attributes, replacing)) return ec;
    BY_HANDLE_FILE_INFORMATION bi{};
    std::error_code ec;
    Handle src(OpenRegularForReading(source, bi, ec));
    if (!src.ok()) return ec;
    Handle h(CreateTemp(FolderOf(target), bi.dwFileAttributes & kKeptAttributes, temp_, slot_));
    if (!h.ok()) return LastError();
    bool ok = true;
    DWORD e = 0;
    try {
        std::vector<std::uint8_t> buf(1 << 20);
        bool first = true;
        while (ok) {
            DWORD r = 0;
            if (!::ReadFile(src.get(), buf.data(), static_cast<DWORD>(buf.size()), &r, nullptr)) {
                ok = false;
                break;
            }
            if (r == 0) break;
            ok = first ? WriteStep(h.get(), buf.data(), r) : WriteAll(h.get(), buf.data(), r);
            first = false;
        }
        if (ok && first) ok = WriteStep(h.get(), buf.data(), 0);  // an empty file passes the step too
        e = ::GetLastError();
    } catch (...) {
        ok = false;
        e = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (ok) {
        // The copy keeps the three time stamps of what it copies.
        ok = !StepFails() && ::SetFileTime(h.get(), &bi.ftCreationTime, &bi.ftLastAccessTime, &bi.ftLastWriteTime);
        e = ::GetLastError();
    }
    if (ok) {
        ok = when == Flush::Later ? CloseUnflushed(h) : FlushAndClose(h);
        e = ::GetLastError();
    } else {
        h.close();
    }
    if (ok) {
        unflushed_ = when == Flush::Later;
        return {};
    }
    Discard();
    return Win32Error(e ? e : ERROR_GEN_FAILURE);
}

std::error_code PendingFile::Commit() {
    if (temp_.empty()) return Win32Error(ERROR_INVALID_PARAMETER);
    // Never a name for bytes that might not be on the disk yet.
    if (unflushed_) {
        if (std::error_code ec = FlushAlone()) return ec;
    }
    PendingLocked locked;
    if (StepFails() || !::MoveFileExW(temp_.c_str(), SystemPath(target_).c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::error_code ec = LastError();
        ::DeleteFileW(temp_.c_str());
        Unregister(slot_);
        temp_.clear();
        return ec;
    }
    Unregister(slot_);
    temp_.clear();
    return {};
}

// A volume can be flushed as a whole only with administrator rights, so each
// file is flushed by itself; the renames are written through (see Commit).
FolderFlush::FolderFlush(const stdfs::path&) {}

FolderFlush::~FolderFlush() = default;

std::vector<std::error_code> FolderFlush::FlushFiles(std::span<PendingFile* const> files) {
    std::vector<std::error_code> errors(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        PendingFile& file = *files[i];
        if (file.unflushed_) errors[i] = file.FlushAlone();
    }
    return errors;
}

std::error_code FolderFlush::FlushNames() {
    if (StepFails()) return LastError();
    return {};
}

std::size_t FolderFlush::RemoveStaleFiles(std::int64_t) {
    // A new file of a run that was ended by force is left to the user here:
    // nothing tells a file another run still writes from an abandoned one.
    return 0;
}

std::error_code RemoveFile(const stdfs::path& path) {
    if (!::DeleteFileW(SystemPath(path).c_str())) return LastError();
    return {};
}

std::error_code MakeFolders(const stdfs::path& path) {
    // Through the long form of the path, one folder after the other, so that
    // folders deeper than 260 characters can be made.
    const std::wstring full = SystemPath(path);
    std::size_t start = 0;
    if (StartsWith(full, L"\\\\?\\UNC\\")) {
        // \\?\UNC\server\share\ is the root: skip server and share.
        start = full.find(L'\\', 8);
        if (start != std::wstring::npos) start = full.find(L'\\', start + 1);
    } else if (StartsWith(full, L"\\\\?\\")) {
        start = full.find(L'\\', 4);  // after "\\?\C:"
    }
    if (start == std::wstring::npos) start = full.size();
    for (std::size_t i = start + 1; i <= full.size(); ++i) {
        if (i != full.size() && full[i] != L'\\') continue;
        const std::wstring part = full.substr(0, i);
        if (!::CreateDirectoryW(part.c_str(), nullptr)) {
            const DWORD e = ::GetLastError();
            if (e != ERROR_ALREADY_EXISTS) return Win32Error(e);
        }
    }
    const DWORD attributes = ::GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Win32Error(ERROR_DIRECTORY);
    return {};
}

std::error_code RemoveEmptyFolder(const stdfs::path& path) {
    if (!::RemoveDirectoryW(SystemPath(path).c_str())) return LastError();
    return {};
}

std::error_code ListFolder(const stdfs::path& folder, std::vector<FolderEntry>& out) {
    out.clear();
    std::wstring pattern = SystemPath(folder);
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW fd{};
    HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD e = ::GetLastError();
        // The root of a drive has no "." entry: nothing found there is an empty folder.
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES) return {};
        return Win32Error(e);
    }
    std::error_code ec;
    try {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            FolderEntry entry;
            entry.name = stdfs::path(name);
            // A name with an unpaired surrogate cannot be written as UTF-8.
            const std::u16string text(name.begin(), name.end());
            entry.validText = Utf8ToUtf16(Utf16ToUtf8(text)) == text;
            // Shown with a replacement character where the surrogate stands.
            entry.displayName = entry.validText ? text : Utf8ToUtf16(Utf16ToUtf8(text));
            out.push_back(std::move(entry));
        } while (::FindNextFileW(find, &fd));
        const DWORD e = ::GetLastError();
        if (e != ERROR_NO_MORE_FILES) ec = Win32Error(e);
    } catch (...) {
        ec = Win32Error(ERROR_NOT_ENOUGH_MEMORY);
    }
    ::FindClose(find);
    return ec;
}

std::error_code MakePrivateFolder(const std::string& prefix, stdfs::path& out) {
    wchar_t buf[MAX_PATH + 2];
    const DWORD n = ::GetTempPathW(MAX_PATH + 2, buf);
    if (n == 0 || n > MAX_PATH + 1) return LastError();
    const std::wstring base(buf, n);
    // Only the user running the program (and the system) may enter it, and
    // nothing is inherited from the folder above.
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
    PSECURITY_DESCRIPTOR sd = nullptr;
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        alignas(TOKEN_USER) unsigned char info[512];
        DWORD len = 0;
        LPWSTR sid = nullptr;
        if (::GetTokenInformation(token, TokenUser, info, sizeof info, &len) &&
            ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(info)->User.Sid, &sid)) {
            const std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")(A;OICI;FA;;;SY)";
            if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
                sa.lpSecurityDescriptor = sd;
            ::LocalFree(sid);
        }
        ::CloseHandle(token);
    }
    const std::wstring wprefix(prefix.begin(), prefix.end());
    std::error_code ec = Win32Error(ERROR_ALREADY_EXISTS);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring candidate = base + wprefix + L"-" + RandomSuffix();
        if (::CreateDirectoryW(SystemPath(stdfs::path(candidate)).c_str(), sa.lpSecurityDescriptor ? &sa : nullptr)) {
            out = stdfs::path(candidate);
            ec.clear();
            break;
        }
        const DWORD e = ::GetLastError();
        if (e != ERROR_ALREADY_EXISTS) {
            ec = Win32Error(e);
            break;
        }
    }
    if (sd) ::LocalFree(sd);
    return ec;
}

// Files in a folder cannot be locked as a whole, and a lock file would be
// left in the user's folder: runs are serialised by a named mutex of the
// user's session, named after the folder's identity (so every spelling of the
// folder's path shares it).
FolderLock::FolderLock(const stdfs::path& folder, const std::function<void()>& onWait) {
    NodeInfo info;
    if (Inspect(folder, true, info) || info.kind != NodeKind::Directory) return;
    wchar_t name[96];
    swprintf(name, 96, L"Local\\tervalo-folder-%016llx-%016llx", static_cast<unsigned long long>(info.id.volume),
             static_cast<unsigned long long>(info.id.file));
    const HANDLE m = ::CreateMutexW(nullptr, FALSE, name);
    if (!m) return;
    // Taken at once when it is free; after a second of waiting the wait is
    // told and goes on until the other run lets go.
    DWORD w = ::WaitForSingleObject(m, 1000);
    if (w == WAIT_TIMEOUT) {
        if (onWait) {
            try {
                onWait();
            } catch (...) {
            }
        }
        w = ::WaitForSingleObject(m, INFINITE);
    }
    // An abandoned mutex (a run that ended without releasing it) is ours now.
    if (w != WAIT_OBJECT_0 && w != WAIT_ABANDONED) {
        ::CloseHandle(m);
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(m);
}

FolderLock::~FolderLock() {
    if (handle_ == -1) return;
    const HANDLE m = reinterpret_cast<HANDLE>(handle_);
    ::ReleaseMutex(m);
    ::CloseHandle(m);
}

std::string ErrorText(const std::error_code& error) {
    if (!error) return {};
    if (error.category() != std::system_category()) return error.message();
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(error.value()), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string s = n ? Utf8OfWide(text, static_cast<int>(n)) : std::string();
    if (text) ::LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    if (s.empty()) s = "system error " + std::to_string(error.value());
    return s;
}

void RemovePendingFiles() noexcept {
    for (Slot& slot : g_slots)
        if (slot.state.load() == kReady) ::DeleteFileW(slot.path);
}

void RemovePendingFilesOnSignals() { ::SetConsoleCtrlHandler(OnConsoleStop, TRUE); }

// Large pages on Windows need a privilege that a user's program does not
// hold; memory stays in small pages.
void AdviseLargePages(void*, std::size_t) noexcept {}

int FailWriteStepForTesting(int n) {
    const int passed = g_steps.exchange(0);
    g_failAt.store(n);
    return passed;
}

}  // namespace tervalo::platform
