#include "fs/fsutil.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <unicode/uchar.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "text/func.h"

namespace tervalo {

std::vector<TFileField> FileList;
std::int32_t FileCount = 0;

namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Index just past the last '/' or '\\' (0 when there is none).
std::size_t NameStart(const std::u16string& path) {
    for (std::size_t i = path.size(); i > 0; --i)
        if (IsSeparator(path[i - 1])) return i;
    return 0;
}

bool StatPath(const std::u16string& path, struct stat& st) {
    if (path.empty()) return false;
    std::string native = NativePath(path);
    // A NUL inside the text cannot name anything on disk.
    if (native.find('\0') != std::string::npos) return false;
    return ::stat(native.c_str(), &st) == 0;
}

int OpenRetry(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads up to `limit` bytes from an open descriptor, sizing the buffer from
// the file size first and growing only when the file turns out longer.
// False on a read error.
bool ReadUpTo(int fd, std::size_t limit, std::size_t sizeHint, Bytes& out) {
    Bytes buf(std::min(sizeHint, limit));
    std::size_t got = 0;
    while (got < limit) {
        if (got == buf.size()) {
            // Buffer full: probe for more before growing it.
            std::uint8_t probe[65536];
            std::size_t want = std::min(sizeof probe, limit - got);
            ssize_t r = ::read(fd, probe, want);
            if (r < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (r == 0) break;
            buf.insert(buf.end(), probe, probe + r);
            got += static_cast<std::size_t>(r);
            continue;
        }
        ssize_t r = ::read(fd, buf.data() + got, buf.size() - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    buf.resize(got);
    out.swap(buf);
    return true;
}

bool ReadFileImpl(const std::u16string& path, std::size_t limit, Bytes& out) {
    try {
        if (path.empty()) return false;
        std::string native = NativePath(path);
        if (native.find('\0') != std::string::npos) return false;
        int fd = OpenRetry(native.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
        if (ok) {
            std::size_t hint = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
            ok = ReadUpTo(fd, limit, hint, out);
        }
        ::close(fd);
        return ok;
    } catch (...) {
        return false;
    }
}

// Writes every byte, continuing after short writes. False on an error or a
// write that makes no progress.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t w = ::write(fd, data + done, size - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

// Case-insensitive wildcard match ('*' any run, '?' one character) over
// simple-case-folded code points.
std::vector<UChar32> FoldedCodePoints(const std::u16string& s) {
    std::vector<UChar32> cps;
    cps.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        UChar32 c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        cps.push_back(u_foldCase(c, U_FOLD_CASE_DEFAULT));
    }
    return cps;
}

bool WildMatch(const std::vector<UChar32>& pat, const std::vector<UChar32>& name) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pat.size() && (pat[p] == U'?' || pat[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pat.size() && pat[p] == U'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == U'*') ++p;
    return p == pat.size();
}

// Matches a name against a directory mask the way users of the drawing
// program expect: letters compare without regard to case (PLAN.JWW matches
// "*.jww"), and a mask ending in ".*" also takes names without an extension,
// so "*.*" lists every file.
bool MaskMatches(const std::u16string& mask, const std::u16string& name) {
    if (mask.empty()) return true;
    auto n = FoldedCodePoints(name);
    auto m = FoldedCodePoints(mask);
    if (WildMatch(m, n)) return true;
    if (m.size() >= 2 && m[m.size() - 2] == U'.' && m.back() == U'*' &&
        name.find(u'.') == std::u16string::npos) {
        m.resize(m.size() - 2);
        return WildMatch(m, n);
    }
    return false;
}

std::u16string TwoDigits(int v) {
    std::u16string s;
    s.push_back(static_cast<char16_t>(u'0' + (v / 10) % 10));
    s.push_back(static_cast<char16_t>(u'0' + v % 10));
    return s;
}

void AppendFileField(TFileField&& field) {
    ++FileCount;
    // Grow in steps of 100 entries rather than per file.
    if (FileCount % 100 == 1) FileList.resize(static_cast<std::size_t>(FileCount) + 99);
    FileList[static_cast<std::size_t>(FileCount) - 1] = std::move(field);
}

}  // namespace

char16_t DirectorySeparator() { return u'/'; }

std::u16string ExtractNameOf(const std::u16string& path) {
    try {
        if (path.find(u'\0') != std::u16string::npos) return {};
        return path.substr(NameStart(path));
    } catch (...) {
        return {};
    }
}

std::u16string ExtLower(const std::u16string& path) {
    std::size_t start = NameStart(path);
    std::size_t dot = path.rfind(u'.');
    if (dot == std::u16string::npos || dot < start) return {};
    return ToLowerText(path.substr(dot));
}

std::u16string ReplaceExt(const std::u16string& path, const std::u16string& newExt) {
    try {
        std::size_t dot = path.find_last_of(u"./\\:");
        if (dot != std::u16string::npos && path[dot] == u'.') return path.substr(0, dot) + newExt;
        return path + newExt;
    } catch (...) {
        return {};
    }
}

bool FileFound(const std::u16string& path) {
    try {
        struct stat st {};
        return StatPath(path, st) && S_ISREG(st.st_mode);
    } catch (...) {
        return false;
    }
}

bool FolderFound(const std::u16string& path) {
    try {
        struct stat st {};
        return StatPath(path, st) && S_ISDIR(st.st_mode);
    } catch (...) {
        return false;
    }
}

bool MakeFolder(const std::u16string& path) {
    try {
        if (path.empty()) return false;
        std::string native = NativePath(path);
        if (native.find('\0') != std::string::npos) return false;
        std::error_code ec;
        std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(native), ec);
        if (ec) return false;
        std::filesystem::create_directories(p, ec);
        if (ec) return false;
        return std::filesystem::is_directory(p, ec);
    } catch (...) {
        return false;
    }
}

bool DeleteFileQuiet(const std::u16string& path) {
    try {
        if (path.empty()) return false;
        std::string native = NativePath(path);
        if (native.find('\0') != std::string::npos) return false;
        return ::unlink(native.c_str()) == 0;
    } catch (...) {
        return false;
    }
}

bool RemoveFolder(const std::u16string& path) {
    try {
        if (!FolderFound(path)) return false;
        // rmdir refuses a folder that still holds anything.
        return ::rmdir(NativePath(path).c_str()) == 0;
    } catch (...) {
        return false;
    }
}

void ClearFileList() {
    FileList.clear();
    FileCount = 0;
}

void ScanFolder(const std::u16string& folder, const std::u16string& mask) {
    ClearFileList();
    try {
        if (folder.empty()) return;
        std::u16string prefix = folder;
        if (prefix.back() != u'/') prefix.push_back(u'/');
        std::string native = NativePath(prefix);
        if (native.find('\0') != std::string::npos) return;
        DIR* dir = ::opendir(native.c_str());
        if (!dir) return;
        try {
            while (dirent* entry = ::readdir(dir)) {
                std::string raw = entry->d_name;
                if (raw == "." || raw == "..") continue;
                std::u16string name = Utf8ToUtf16(raw);
                if (!MaskMatches(mask, name)) continue;
                // Following links: directories (and links to them), broken
                // links and names that do not survive the UTF-16 round trip
                // are left out.
                struct stat st {};
                if (!StatPath(prefix + name, st) || !S_ISREG(st.st_mode)) continue;
                TFileField field;
                field.name = name;
                field.size = static_cast<std::int32_t>(static_cast<std::uint32_t>(
                    static_cast<std::uint64_t>(st.st_size) & 0xFFFFFFFFu));
                field.dirf = false;
                std::tm tm {};
                std::time_t t = st.st_mtim.tv_sec;
                if (::localtime_r(&t, &tm)) {
                    field.date = IntToText(tm.tm_year + 1900) + u"/" + TwoDigits(tm.tm_mon + 1) + u"/" +
                                 TwoDigits(tm.tm_mday);
                    field.time = TwoDigits(tm.tm_hour) + u":" + TwoDigits(tm.tm_min) + u":" + TwoDigits(tm.tm_sec);
                }
                AppendFileField(std::move(field));
            }
        } catch (...) {
        }
        ::closedir(dir);
    } catch (...) {
    }
    FileList.resize(static_cast<std::size_t>(FileCount));
}

void CopyFileWithTimes(const std::u16string& source, const std::u16string& target) {
    int src = -1;
    int dst = -1;
    bool created = false;
    std::string nativeTarget;
    try {
        if (source.empty() || target.empty()) return;
        std::string nativeSource = NativePath(source);
        nativeTarget = NativePath(target);
        if (nativeSource.find('\0') != std::string::npos || nativeTarget.find('\0') != std::string::npos) return;

        src = OpenRetry(nativeSource.c_str(), O_RDONLY | O_CLOEXEC);
        if (src < 0) return;
        struct stat sst {};
        if (::fstat(src, &sst) != 0 || !S_ISREG(sst.st_mode)) {
            ::close(src);
            return;
        }
        // Copying a file onto itself would truncate it before it is read.
        struct stat tst {};
        if (::stat(nativeTarget.c_str(), &tst) == 0 && tst.st_dev == sst.st_dev && tst.st_ino == sst.st_ino) {
            ::close(src);
            return;
        }

        bool ok = false;
        dst = OpenRetry(nativeTarget.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (dst >= 0) {
            // Only a regular file may be removed again on failure: never
            // unlink a device or other special file that happened to be named.
            struct stat dstSt {};
            created = ::fstat(dst, &dstSt) == 0 && S_ISREG(dstSt.st_mode);
            std::uint8_t buf[65536];
            ok = true;
            for (;;) {
                ssize_t r = ::read(src, buf, sizeof buf);
                if (r < 0) {
                    if (errno == EINTR) continue;
                    ok = false;
                    break;
                }
                if (r == 0) break;
                if (!WriteAll(dst, buf, static_cast<std::size_t>(r))) {
                    ok = false;
                    break;
                }
            }
            int closed = ::close(dst);
            dst = -1;
            if (closed != 0) ok = false;
            if (ok) {
                // Linux has no settable creation time: set access and
                // modification times, to the nanosecond.
                struct timespec times[2] = {sst.st_atim, sst.st_mtim};
                if (::utimensat(AT_FDCWD, nativeTarget.c_str(), times, 0) != 0) ok = false;
            }
        }
        if (!ok && created) ::unlink(nativeTarget.c_str());
        ::close(src);
    } catch (...) {
        if (dst >= 0) ::close(dst);
        if (created && !nativeTarget.empty()) ::unlink(nativeTarget.c_str());
        if (src >= 0) ::close(src);
    }
}

bool ReadWholeFile(const std::u16string& path, Bytes& out) {
    return ReadFileImpl(path, static_cast<std::size_t>(-1), out);
}

bool ReadFilePrefix(const std::u16string& path, std::size_t maxBytes, Bytes& out) {
    return ReadFileImpl(path, maxBytes, out);
}

bool WriteWholeFile(const std::u16string& path, ByteSpan data) {
    std::string native;
    bool created = false;
    try {
        if (path.empty()) return false;
        native = NativePath(path);
        if (native.find('\0') != std::string::npos) return false;
        int fd = OpenRetry(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return false;
        struct stat st {};
        created = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        bool ok = WriteAll(fd, data.data(), data.size());
        if (::close(fd) != 0) ok = false;
        if (!ok && created) ::unlink(native.c_str());
        return ok;
    } catch (...) {
        if (created && !native.empty()) ::unlink(native.c_str());
        return false;
    }
}

std::string NativePath(const std::u16string& path) { return Utf16ToUtf8(path); }

std::string LastSystemErrorText() { return std::strerror(errno ? errno : EIO); }

}  // namespace tervalo
