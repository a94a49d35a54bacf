// What the file list shows of one file from its header: the version text and
// the memo, chosen by the file's extension. Drawings (.jww and the names
// Jw_cad gives their backups), figures (.jws) and the DOS-era .jwc and .jwk
// files have headers; other files show neither.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace tervalo {

enum class ListedKind {
    Other,  // no header is read
    Jww,    // .jww, .bak, .jw$ and .bk1 ... .bk9
    Jws,
    Jwc,
    Jwk,
};

// The kind of header a file of this lower-cased extension (with its dot) has.
// Only the nine one-digit backup names .bk1 ... .bk9 are drawings; .bk10 or
// .bk1x are not.
ListedKind ListedKindOfExtension(const std::u16string& ext);

struct FileInfoCells {
    std::u16string version;  // "700", "DOS", or empty
    std::u16string memo;     // one line without spaces
    bool read = false;       // the header was read
};

// Reads headers one file after another with one container of each kind,
// reused for every file. Not shared between threads.
class FileInfoReader {
public:
    FileInfoReader();
    ~FileInfoReader();
    FileInfoReader(const FileInfoReader&) = delete;
    FileInfoReader& operator=(const FileInfoReader&) = delete;

    // The cells of the file at `path`; both empty when it is of no listed
    // kind or its check or header read fails.
    FileInfoCells Read(const std::filesystem::path& path);

private:
    struct Containers;
    std::unique_ptr<Containers> c_;
};

}  // namespace tervalo
