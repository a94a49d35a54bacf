// Path and file helpers. None of them throws (except ExtLower, which never
// fails on this platform); failures become false or an empty result.
// Paths are std::filesystem::path; names shown to people (TFileField) and
// names read from drawings are UTF-16 text. The system calls behind them are
// in fs/platform.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "text/encoding.h"

namespace tervalo {

struct TFileField {
    std::u16string name;
    std::int32_t size = 0;  // low 32 bits of the file size
    std::u16string date;    // yyyy/mm/dd, local time
    std::u16string time;    // hh:nn:ss, local time
    bool dirf = false;
    std::uint64_t fullSize = 0;  // the whole file size
    // The name on disk is not valid text: `name` shows it readably (decoded
    // as code page 932 where that fits), and it cannot be opened by `name`.
    bool nameNotText = false;
};

// The module-level result of ScanFolder.
extern std::vector<TFileField> FileList;
extern std::int32_t FileCount;

char16_t DirectorySeparator();
// The last component of a name given as text (names stored in drawings).
std::u16string ExtractNameOf(const std::u16string& path);
// The lower-cased extension of a name's last component, with its dot. A
// name is given as text (a listed or stored name) or as a path; the forms
// for a literal text keep calls like ExtLower(u"a.jww") unambiguous.
std::u16string ExtLower(const std::u16string& path);
std::u16string ExtLower(const std::filesystem::path& path);
std::u16string ExtLower(const char16_t* path);
// The name with its extension replaced by `newExt` (or `newExt` appended).
std::u16string ReplaceExt(const std::u16string& path, const std::u16string& newExt);
std::filesystem::path ReplaceExt(const std::filesystem::path& path, const std::u16string& newExt);
std::u16string ReplaceExt(const char16_t* path, const std::u16string& newExt);
bool FileFound(const std::filesystem::path& path);
bool FolderFound(const std::filesystem::path& path);
bool MakeFolder(const std::filesystem::path& path);
bool DeleteFileQuiet(const std::filesystem::path& path);
bool RemoveFolder(const std::filesystem::path& path);
void ClearFileList();
void ScanFolder(const std::filesystem::path& folder, const std::u16string& mask);
void CopyFileWithTimes(const std::filesystem::path& source, const std::filesystem::path& target);

// Copies a file byte for byte with its time stamps and permission bits into
// a new file beside the target, then puts it in place in one step; on any
// failure the target stays as it was. The reason of a failure is returned.
std::error_code CopyFileReplacing(const std::filesystem::path& source, const std::filesystem::path& target);

// Whole-file helpers used by the codecs: read a file into memory once (only
// regular files; a FIFO never blocks), and write a buffer as a new file that
// replaces the old one only once every byte is on the disk. Both return false
// on any failure and never throw; a failed write leaves the old file as it was.
bool ReadWholeFile(const std::filesystem::path& path, Bytes& out);
bool ReadFilePrefix(const std::filesystem::path& path, std::size_t maxBytes, Bytes& out);
bool WriteWholeFile(const std::filesystem::path& path, ByteSpan data);

// The path of a text (a name typed or stored as text); empty for a text that
// no file name can hold (empty, or with a NUL), which every helper here refuses.
std::filesystem::path PathOfText(const std::u16string& text);
// The text of a path for messages, in UTF-8.
std::string PathUtf8(const std::filesystem::path& path);

// The reason of the last failed file operation of this thread, and its text.
std::error_code LastFileError();
std::string LastSystemErrorText();

}  // namespace tervalo
