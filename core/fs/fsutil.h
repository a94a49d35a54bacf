// Path and file helpers. None of them throws (except ExtLower, which never
// fails on this platform); failures become false or an empty result.
// Paths are UTF-16 text; the system calls behind them are in fs/platform.h.
#pragma once

#include <cstdint>
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
std::u16string ExtractNameOf(const std::u16string& path);
std::u16string ExtLower(const std::u16string& path);
std::u16string ReplaceExt(const std::u16string& path, const std::u16string& newExt);
bool FileFound(const std::u16string& path);
bool FolderFound(const std::u16string& path);
bool MakeFolder(const std::u16string& path);
bool DeleteFileQuiet(const std::u16string& path);
bool RemoveFolder(const std::u16string& path);
void ClearFileList();
void ScanFolder(const std::u16string& folder, const std::u16string& mask);
void CopyFileWithTimes(const std::u16string& source, const std::u16string& target);

// Copies a file byte for byte with its time stamps and permission bits into
// a new file beside the target, then puts it in place in one step; on any
// failure the target stays as it was. The reason of a failure is returned.
std::error_code CopyFileReplacing(const std::u16string& source, const std::u16string& target);

// Whole-file helpers used by the codecs: read a file into memory once (only
// regular files; a FIFO never blocks), and write a buffer as a new file that
// replaces the old one only once every byte is on the disk. Both return false
// on any failure and never throw; a failed write leaves the old file as it was.
bool ReadWholeFile(const std::u16string& path, Bytes& out);
bool ReadFilePrefix(const std::u16string& path, std::size_t maxBytes, Bytes& out);
bool WriteWholeFile(const std::u16string& path, ByteSpan data);

// The reason of the last failed file operation of this thread, and its text.
std::error_code LastFileError();
std::string LastSystemErrorText();

}  // namespace tervalo
