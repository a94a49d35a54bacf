// The file-system layer on Windows: CreateFileW with explicit sharing for
// every open (always binary), GetFileInformationByHandle for what a name
// stands for and which file it is, MoveFileExW for putting new files in
// place, FindFirstFileExW for folder scans, FormatMessageW for error texts
// and a console control handler that removes files not yet in place. The
// steps of writing new files are in pending_file.cpp; the system calls
// beneath them are at the end here.
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
#include "fs/syscalls.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

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

// The attributes a new file takes over from the file it replaces or copies.
// Read-only is left out: a read-only copy could never be replaced again.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t FromHandle(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }
using sys::kNoHandle;  // INVALID_HANDLE_VALUE

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

// Ctrl-C, Ctrl-Break, closing the console window, logging off and shutting
// down: the pending files are removed and the process ends as Ctrl-C ends it.
BOOL WINAPI OnConsoleStop(DWORD) {
    sys::EnterSection();  // waits for a creation or commit under way; never left
    RemovePendingFiles();
    ::ExitProcess(static_cast<UINT>(0xC000013AL));  // STATUS_CONTROL_C_EXIT
    return TRUE;
}

}  // namespace

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
    return sys::Read(handle_, out, got);
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
        const std::string hex = RandomHex16();
        const std::wstring candidate = base + wprefix + L"-" + std::wstring(hex.begin(), hex.end());
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

void RemovePendingFilesOnSignals() { ::SetConsoleCtrlHandler(OnConsoleStop, TRUE); }

// Large pages on Windows need a privilege that a user's program does not
// hold; memory stays in small pages.
void AdviseLargePages(void*, std::size_t) noexcept {}

// --- The system calls beneath the new files (syscalls.h) ----------------------

namespace sys {

std::error_code ErrorOf(Failure failure) {
    // In the order of Failure.
    static constexpr DWORD kCodes[] = {ERROR_DISK_FULL, ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_HANDLE,
                                       ERROR_INVALID_PARAMETER};
    return Win32Error(kCodes[static_cast<int>(failure)]);
}

unsigned ProcessId() { return static_cast<unsigned>(::GetCurrentProcessId()); }

void EnterSection() {
    ::InitOnceExecuteOnce(&g_pendingLockOnce, InitPendingLock, nullptr, nullptr);
    ::EnterCriticalSection(&g_pendingLock);
}

void LeaveSection() noexcept { ::LeaveCriticalSection(&g_pendingLock); }

void RemoveNow(const wchar_t* path) noexcept { ::DeleteFileW(path); }

stdfs::path SystemForm(const stdfs::path& folder) { return stdfs::path(SystemPath(folder)); }

// Opened for writing by this process alone; deleting stays allowed, so the
// control handler can remove the file while it is still open.
std::error_code CreateExclusive(const stdfs::path& path, std::uint32_t bits, std::intptr_t& handle, bool& taken) {
    // Read-attributes access too, so that IdOf can ask for its identity.
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   bits ? bits : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = ::GetLastError();
        taken = e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS;
        return Win32Error(e ? e : ERROR_GEN_FAILURE);
    }
    handle = FromHandle(h);
    return {};
}

// The attributes were given when the file was created.
std::error_code SetBits(std::intptr_t, std::uint32_t) { return {}; }

std::error_code IdOf(std::intptr_t handle, FileId& id) {
    BY_HANDLE_FILE_INFORMATION bi;
    if (!::GetFileInformationByHandle(AsHandle(handle), &bi)) return Win32Error(::GetLastError());
    id = FileId{bi.dwVolumeSerialNumber, (static_cast<std::uint64_t>(bi.nFileIndexHigh) << 32) | bi.nFileIndexLow};
    return {};
}

std::error_code Examine(const stdfs::path& target, NodeKind& kind, std::uint32_t& bits) {
    NodeInfo info;
    if (std::error_code ec = Inspect(target, false, info)) return ec;
    kind = info.kind;
    if (kind == NodeKind::Regular) {
        const DWORD a = ::GetFileAttributesW(SystemPath(target).c_str());
        bits = a == INVALID_FILE_ATTRIBUTES ? 0 : (a & kKeptAttributes);
    }
    return {};
}

namespace {

std::int64_t TicksOf(const FILETIME& ft) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

FILETIME FileTimeOf(std::int64_t ticks) {
    const auto t = static_cast<std::uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(t & 0xFFFFFFFFu), static_cast<DWORD>(t >> 32)};
}

}  // namespace

std::error_code OpenSource(const stdfs::path& path, std::intptr_t& handle, Source& source) {
    BY_HANDLE_FILE_INFORMATION bi{};
    std::error_code ec;
    const HANDLE h = OpenRegularForReading(path, bi, ec);
    if (h == INVALID_HANDLE_VALUE) return ec;
    handle = FromHandle(h);
    source.bits = bi.dwFileAttributes & kKeptAttributes;
    source.times[0] = TicksOf(bi.ftCreationTime);
    source.times[1] = TicksOf(bi.ftLastAccessTime);
    source.times[2] = TicksOf(bi.ftLastWriteTime);
    return {};
}

std::error_code Read(std::intptr_t handle, std::span<std::uint8_t> out, std::size_t& got) {
    got = 0;
    DWORD r = 0;
    if (!::ReadFile(AsHandle(handle), out.data(), static_cast<DWORD>(std::min<std::size_t>(out.size(), 1u << 30)), &r,
                    nullptr))
        return LastError();
    got = r;
    return {};
}

// The copy keeps all three time stamps.
std::error_code CopyTimes(std::intptr_t handle, const Source& source) {
    const FILETIME created = FileTimeOf(source.times[0]), accessed = FileTimeOf(source.times[1]),
                   written = FileTimeOf(source.times[2]);
    if (!::SetFileTime(AsHandle(handle), &created, &accessed, &written)) return LastError();
    return {};
}

std::error_code WriteAll(std::intptr_t handle, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD wrote = 0;
        if (!::WriteFile(AsHandle(handle), data + done, want, &wrote, nullptr)) return LastError();
        if (wrote == 0) return Win32Error(ERROR_WRITE_FAULT);
        done += wrote;
    }
    return {};
}

std::error_code FlushData(std::intptr_t handle) {
    if (!::FlushFileBuffers(AsHandle(handle))) return LastError();
    return {};
}

std::error_code Close(std::intptr_t handle) {
    if (!::CloseHandle(AsHandle(handle))) return LastError();
    return {};
}

// Flushing needs a handle with write access; nobody else can have the file
// open, as it was created for this process alone. A link put under its name
// since it was closed is opened itself, not followed, and refused.
std::error_code OpenToFlush(const stdfs::path& path, std::intptr_t& handle) {
    Handle h(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.ok()) return LastError();
    BY_HANDLE_FILE_INFORMATION bi{};
    if (!::GetFileInformationByHandle(h.get(), &bi)) return LastError();
    if (IsLinkReparse(h.get(), bi.dwFileAttributes)) return MakeError(FsError::IsLink);
    handle = FromHandle(h.release());
    return {};
}

// Written through: the rename is on the disk when it returns.
std::error_code RenameReplace(const stdfs::path& from, const stdfs::path& to) {
    if (!::MoveFileExW(from.c_str(), SystemPath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return LastError();
    return {};
}

// Each file is flushed when it is finished; nothing runs early here.
bool FlushesEarly() { return false; }
void StartWriteBack(std::intptr_t, std::uint64_t, std::uint64_t) {}
std::thread StartQuietThread(std::function<void()> run) { return std::thread(std::move(run)); }

// A volume can be flushed as a whole only with administrator rights, so each
// file is flushed by itself, and the renames are written through.
std::error_code OpenFolder(const stdfs::path&, std::intptr_t& handle, bool& wholeFlush) {
    handle = kNoHandle;
    wholeFlush = false;
    return {};
}

bool FlushFileSystem(std::intptr_t) { return false; }

std::error_code FlushFolder(std::intptr_t, const std::error_code&) { return {}; }

// A new file of a run that was ended by force is left to the user here:
// nothing tells a file another run still writes from an abandoned one.
std::size_t RemoveStale(std::intptr_t, std::int64_t) { return 0; }

}  // namespace sys

}  // namespace tervalo::platform
