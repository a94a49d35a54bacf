#include "fs/fsutil.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "fs/platform.h"
#include "text/converter.h"
#include "text/func.h"

namespace tervalo {

std::vector<TFileField> FileList;
std::int32_t FileCount = 0;

namespace {

thread_local std::error_code t_lastError;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Index just past the last '/' or '\\' (0 when there is none).
std::size_t NameStart(const std::u16string& path) {
    for (std::size_t i = path.size(); i > 0; --i)
        if (IsSeparator(path[i - 1])) return i;
    return 0;
}

namespace stdfs = std::filesystem;

// Index just past the last '/' or '\\' of a path in the platform's form.
std::size_t NativeNameStart(const stdfs::path::string_type& path) {
    for (std::size_t i = path.size(); i > 0; --i)
        if (path[i - 1] == stdfs::path::value_type('/') || path[i - 1] == stdfs::path::value_type('\\')) return i;
    return 0;
}

bool InspectPath(const stdfs::path& path, bool followLinks, platform::NodeInfo& info) {
    return !path.empty() && !platform::Inspect(path, followLinks, info);
}

// Keeps the reason of the last failure where callers look for it.
void KeepError(const std::error_code& ec) { t_lastError = ec; }

// Case-insensitive wildcard match ('*' any run, '?' one character) over
// simple-case-folded code points.
std::vector<char32_t> FoldedCodePoints(const std::u16string& text) {
    const std::u16string s = textconv::FoldCase(text);
    std::vector<char32_t> cps;
    cps.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        cps.push_back(c);
    }
    return cps;
}

bool WildMatch(const std::vector<char32_t>& pat, const std::vector<char32_t>& name) {
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

// The platform's own separator: '/' on POSIX systems, '\\' on Windows.
char16_t DirectorySeparator() { return static_cast<char16_t>(std::filesystem::path::preferred_separator); }

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

std::u16string ExtLower(const char16_t* path) { return ExtLower(std::u16string(path)); }

std::u16string ExtLower(const stdfs::path& path) {
    // Found in the platform's form, so a name that is not text still shows
    // its extension when the extension itself is text.
    const stdfs::path::string_type& n = path.native();
    const std::size_t start = NativeNameStart(n);
    const std::size_t dot = n.rfind(stdfs::path::value_type('.'));
    if (dot == stdfs::path::string_type::npos || dot < start) return {};
    return ToLowerText(platform::TextFromPath(stdfs::path(n.substr(dot))));
}

std::u16string ReplaceExt(const char16_t* path, const std::u16string& newExt) {
    return ReplaceExt(std::u16string(path), newExt);
}

stdfs::path ReplaceExt(const stdfs::path& path, const std::u16string& newExt) {
    try {
        using C = stdfs::path::value_type;
        const stdfs::path::string_type& n = path.native();
        const C stops[] = {C('.'), C('/'), C('\\'), C(':'), C(0)};
        const std::size_t dot = n.find_last_of(stops);
        stdfs::path result(dot != stdfs::path::string_type::npos && n[dot] == C('.') ? n.substr(0, dot) : n);
        if (!newExt.empty()) {
            stdfs::path ext;
            if (!platform::PathFromText(newExt, ext)) return {};
            result += ext;
        }
        return result;
    } catch (...) {
        return {};
    }
}

bool FileFound(const stdfs::path& path) {
    platform::NodeInfo info;
    return InspectPath(path, true, info) && info.kind == platform::NodeKind::Regular;
}

bool FolderFound(const stdfs::path& path) {
    platform::NodeInfo info;
    return InspectPath(path, true, info) && info.kind == platform::NodeKind::Directory;
}

bool MakeFolder(const stdfs::path& path) {
    try {
        if (path.empty()) return false;
        std::error_code ec;
        const stdfs::path p = stdfs::absolute(path, ec);
        if (ec) return false;
        return !platform::MakeFolders(p);
    } catch (...) {
        return false;
    }
}

bool DeleteFileQuiet(const stdfs::path& path) {
    if (path.empty()) return false;
    const std::error_code ec = platform::RemoveFile(path);
    KeepError(ec);
    return !ec;
}

bool RemoveFolder(const stdfs::path& path) {
    if (!FolderFound(path)) return false;
    // Only an empty folder is removed.
    return !platform::RemoveEmptyFolder(path);
}

void ClearFileList() {
    FileList.clear();
    FileCount = 0;
}

void ScanFolder(const stdfs::path& dir, const std::u16string& mask) {
    ClearFileList();
    try {
        if (dir.empty()) return;
        std::vector<platform::FolderEntry> entries;
        platform::ListFolder(dir, entries);  // what could be read is listed
        for (const platform::FolderEntry& entry : entries) {
            // A name that is not text is listed by its readable form, marked.
            const std::u16string name = entry.validText ? platform::TextFromPath(entry.name) : entry.displayName;
            if (!MaskMatches(mask, name)) continue;
            // Following links: directories (and links to them), broken links
            // and special files are left out.
            platform::NodeInfo info;
            if (platform::Inspect(dir / entry.name, true, info) || info.kind != platform::NodeKind::Regular) continue;
            TFileField field;
            field.name = name;
            field.size = static_cast<std::int32_t>(static_cast<std::uint32_t>(info.size & 0xFFFFFFFFu));
            field.dirf = false;
            field.fullSize = info.size;
            field.nameNotText = !entry.validText;
            int y, mo, d, h, mi, se;
            if (platform::LocalTime(info.writeTimeSeconds, y, mo, d, h, mi, se)) {
                field.date = IntToText(y) + u"/" + TwoDigits(mo) + u"/" + TwoDigits(d);
                field.time = TwoDigits(h) + u":" + TwoDigits(mi) + u":" + TwoDigits(se);
            }
            AppendFileField(std::move(field));
        }
    } catch (...) {
    }
    FileList.resize(static_cast<std::size_t>(FileCount));
}

void CopyFileWithTimes(const stdfs::path& source, const stdfs::path& target) {
    CopyFileReplacing(source, target);
}

std::error_code CopyFileReplacing(const stdfs::path& src, const stdfs::path& dst) {
    try {
        if (src.empty() || dst.empty()) return std::make_error_code(std::errc::invalid_argument);
        platform::NodeInfo from, to;
        if (std::error_code ec = platform::Inspect(src, true, from)) return ec;
        if (from.kind != platform::NodeKind::Regular)
            return from.kind == platform::NodeKind::Missing ? std::make_error_code(std::errc::no_such_file_or_directory)
                                                            : platform::MakeError(platform::FsError::IsSpecial);
        // Copying a file onto itself changes nothing.
        if (!platform::Inspect(dst, true, to) && to.kind == platform::NodeKind::Regular && to.id == from.id) return {};
        platform::PendingFile file;
        if (std::error_code ec = file.CreateCopy(dst, src)) return ec;
        return file.Commit();
    } catch (...) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

bool ReadWholeFile(const stdfs::path& path, Bytes& out) {
    return ReadFilePrefix(path, static_cast<std::size_t>(-1), out);
}

bool ReadFilePrefix(const stdfs::path& path, std::size_t maxBytes, Bytes& out) {
    if (path.empty()) {
        KeepError(std::make_error_code(std::errc::invalid_argument));
        return false;
    }
    const std::error_code ec = platform::ReadFile(path, maxBytes, out);
    KeepError(ec);
    return !ec;
}

bool WriteWholeFile(const stdfs::path& path, ByteSpan data) {
    if (path.empty()) {
        KeepError(std::make_error_code(std::errc::invalid_argument));
        return false;
    }
    const std::error_code ec = platform::ReplaceFile(path, data);
    KeepError(ec);
    return !ec;
}

stdfs::path PathOfText(const std::u16string& text) {
    stdfs::path p;
    if (!platform::PathFromText(text, p)) return {};
    return p;
}

std::string PathUtf8(const stdfs::path& path) { return Utf16ToUtf8(platform::TextFromPath(path)); }

std::error_code LastFileError() { return t_lastError; }

std::string LastSystemErrorText() {
    if (t_lastError) return platform::ErrorText(t_lastError);
    return platform::ErrorText(std::make_error_code(std::errc::io_error));
}

}  // namespace tervalo
