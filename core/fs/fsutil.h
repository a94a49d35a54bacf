// Path and file helpers. None of them throws (except ExtLower, which never
// fails on this platform); failures become false or an empty result.
// Paths are UTF-16 text; on disk they are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "text/encoding.h"

namespace tervalo {

struct TFileField {
    std::u16string name;
    std::int32_t size = 0;  // low 32 bits of the file size
    std::u16string date;    // yyyy/mm/dd, local time
    std::u16string time;    // hh:nn:ss, local time
    bool dirf = false;
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

// Whole-file helpers used by the codecs: read a file into memory once, and
// write a buffer to a file checking every byte (a failed write removes the
// partial file). Both return false on any failure and never throw.
bool ReadWholeFile(const std::u16string& path, Bytes& out);
bool ReadFilePrefix(const std::u16string& path, std::size_t maxBytes, Bytes& out);
bool WriteWholeFile(const std::u16string& path, ByteSpan data);

// The text of the last system error (errno), "Input/output error" when none is set.
std::string LastSystemErrorText();

// Native (UTF-8) form of a path for the C and POSIX interfaces.
std::string NativePath(const std::u16string& path);

}  // namespace tervalo
