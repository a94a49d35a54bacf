// The operating-system side of the file helpers: everything that needs a
// system call lives behind these declarations, with one implementation per
// platform (fs_posix.cpp, fs_win32.cpp), chosen when the project is built.
// Paths cross this seam as std::filesystem::path; errors as std::error_code.
// Nothing here throws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "text/encoding.h"

namespace tervalo::platform {

namespace stdfs = std::filesystem;

// The path of a text, and the text of a path (UTF-16 <-> the platform's form).
// PathFromText fails (false) for text that no file name can hold.
bool PathFromText(const std::u16string& text, stdfs::path& out);
std::u16string TextFromPath(const stdfs::path& path);

// What a name in a folder stands for.
enum class NodeKind {
    Missing,    // nothing of that name
    Regular,    // a file
    Directory,  // a folder
    Symlink,    // a symbolic link (only when links are not followed)
    Special,    // a FIFO, socket, device or other non-file
};

// Identifies one file whatever name or link leads to it.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    bool operator==(const FileId&) const = default;
};

struct NodeInfo {
    NodeKind kind = NodeKind::Missing;
    std::uint64_t size = 0;
    std::int64_t writeTimeSeconds = 0;  // last write, seconds since 1970 (UTC)
    FileId id;
};

// Looks at a name. A missing name is no error: kind Missing, empty error.
// With followLinks false a final symbolic link is reported as Symlink.
std::error_code Inspect(const stdfs::path& path, bool followLinks, NodeInfo& out);

// The broken-down local time of a time in seconds since 1970.
bool LocalTime(std::int64_t seconds, int& year, int& month, int& day, int& hour, int& minute, int& second);

// Reads at most `limit` bytes from the start of a regular file (links are
// followed). Anything but a regular file is refused without being opened for
// long, so a FIFO never blocks the reader. `out` is untouched on failure.
std::error_code ReadFile(const stdfs::path& path, std::size_t limit, Bytes& out);

// A complete new file beside its final name, not yet in place. Create()
// writes it under a fresh name in the target's folder (created exclusively,
// so no other run can take that name), writes every byte, flushes it to the
// disk and closes it; Commit() renames it onto the target in one step. Until
// the commit the target is exactly as it was; a PendingFile that is never
// committed removes its file. The new file takes the permission bits of the
// file it replaces. An existing target that is a link, a folder or a special
// file is refused before anything is created.
class FolderFlush;

// When a new file is flushed to the disk: at once, or later together with
// other new files of its folder by a FolderFlush.
enum class Flush { Now, Later };

struct EarlyFlush;

class PendingFile {
public:
    PendingFile();
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    std::error_code Create(const stdfs::path& target, ByteSpan data);
    // The same with the bytes of `source` (a regular file, links followed),
    // which also keeps its time stamps and permission bits: a backup copy.
    std::error_code CreateCopy(const stdfs::path& target, const stdfs::path& source, Flush when = Flush::Now);
    // Create in pieces, for a file built while it is written: Open() makes
    // the new file, Write() appends (as often as needed), Finish() flushes it
    // to the disk and closes it; then Commit(). A failed step removes the new
    // file; so does a PendingFile that is never committed. With Flush::Later
    // the file is closed but may still be in the system's memory only: a
    // FolderFlush of its folder puts it on the disk (a Commit() before that
    // flushes it on its own first).
    std::error_code Open(const stdfs::path& target);
    // The same for a target the caller has just found missing, and looks at
    // again before Commit(): the target is not looked at here (a file put
    // there meanwhile would be replaced by one with the default permission
    // bits).
    std::error_code OpenForMissing(const stdfs::path& target);
    std::error_code Write(ByteSpan data);
    std::error_code Finish(Flush when = Flush::Now);
    // The new file while it is not committed (empty otherwise).
    const stdfs::path& TempPath() const { return temp_; }
    // The identity of the file made by Open(), which its target has once it
    // is committed; nothing when the system could not tell it.
    std::optional<FileId> Id() const { return id_; }
    std::error_code Commit();
    // Removes the new file if it was not committed.
    void Discard();

private:
    friend class FolderFlush;
    std::error_code Begin(const stdfs::path& target, std::uint32_t& mode, bool& replacing);
    std::error_code OpenTemp(bool replacing, std::uint32_t bits);
    // Flushes the closed new file to the disk by itself; removes it on failure.
    std::error_code FlushAlone();
    // Ends the early flushing of the file being written; its first error.
    std::error_code StopEarlyFlush();
    stdfs::path target_;
    stdfs::path temp_;
    int slot_ = -1;
    std::intptr_t handle_ = -1;  // the new file, open between Open() and Finish()
    bool wrote_ = false;   // Write() was called since Open()
    bool unflushed_ = false;  // finished with Flush::Later and not flushed since
    std::uint64_t written_ = 0;  // bytes written since Open()
    std::uint64_t started_ = 0;  // bytes whose writing to the disk was started early
    std::optional<FileId> id_;
    std::unique_ptr<EarlyFlush> early_;  // flushes a large file while it is written
};

// How many new files (PendingFile, not yet committed or discarded) a stop
// can remove at once; those made beyond that are not removed on a stop.
inline constexpr int kMostPendingFiles = 4096;

// Puts many new files of one folder on the disk with one flush instead of
// one per file. Made before the first of them is written; then FlushFiles()
// flushes the files finished with Flush::Later (on Linux one flush of the
// whole file system for two or more where such a flush reaches the device,
// each file on its own when that fails or where it does not; on Windows each
// file), the caller renames them, and FlushNames() makes the renames durable.
// While it exists it also tells other runs that new files of this run may
// lie in the folder (see RemoveStaleFiles).
class FolderFlush {
public:
    explicit FolderFlush(const stdfs::path& folder);
    ~FolderFlush();
    FolderFlush(const FolderFlush&) = delete;
    FolderFlush& operator=(const FolderFlush&) = delete;

    // Why the folder could not be opened to flush its names (empty when it
    // was, and always on systems that flush names with the files). Files put
    // into such a folder could lose their names in a crash.
    const std::error_code& error() const { return error_; }
    // The outcome for each file, in order. A file that could not be flushed
    // is removed, as a failed Finish() removes it.
    std::vector<std::error_code> FlushFiles(std::span<PendingFile* const> files);
    // Flushes the folder's names: the renames made since the files were
    // flushed survive a crash once this returns without error.
    std::error_code FlushNames();
    // Removes the new files that runs ended by force (a kill, a crash, the
    // out-of-memory killer) left in the folder: files named as this layer
    // names its new files, last written before `olderThanSeconds` (since
    // 1970), and only while no other run holds a FolderFlush of the folder.
    // Call it while holding the folder's FolderLock. Returns how many were
    // removed.
    std::size_t RemoveStaleFiles(std::int64_t olderThanSeconds);

private:
    std::intptr_t handle_ = -1;
    std::error_code error_;
    bool wholeFlush_ = false;  // one flush of the file system reaches the device
};

// True for the Linux file-system types (statfs f_type) on which one flush of
// the whole file system puts every file written to it on the device: local
// file systems of the kernel. FUSE and network file systems may not pass such
// a flush on to their daemon or server, so their files are flushed one by
// one; so are those of any type not known here.
bool FlushOfFileSystemReachesDevice(std::int64_t fileSystemType);

// True for a name this layer gives its new files (".tervalo-" 16 hex digits ".tmp").
bool IsPendingFileName(const std::string& name);

// A regular file opened for reading in pieces (links followed; anything but
// a regular file is refused without blocking, as ReadFile does).
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::error_code Open(const stdfs::path& path);
    // The size of the file when it was opened.
    std::uint64_t size() const { return size_; }
    // Reads up to out.size() bytes; `got` is 0 at the end of the file.
    std::error_code Read(std::span<std::uint8_t> out, std::size_t& got);

private:
    std::intptr_t handle_ = -1;
    std::uint64_t size_ = 0;
    bool failReads_ = false;  // a test asked reads of this file to fail
};

// Writes a whole file through a PendingFile (create, then commit).
std::error_code ReplaceFile(const stdfs::path& target, ByteSpan data);

std::error_code RemoveFile(const stdfs::path& path);
// Creates a folder and every missing parent; an existing folder is no error.
// Each folder it creates is made durable (its parent flushed) before it
// returns.
std::error_code MakeFolders(const stdfs::path& path);
// Removes a folder only when it is empty.
std::error_code RemoveEmptyFolder(const stdfs::path& path);

struct FolderEntry {
    stdfs::path name;   // the name alone, in the platform's form
    bool validText = true;  // false when the name cannot be read as text
    // The name for people: the name itself, or for a name that is not valid
    // text, its bytes decoded as code page 932 where that fits, else with
    // replacement characters.
    std::u16string displayName;
    // Regular when the listing itself says the name is a plain file (no
    // link); Missing when it does not say.
    NodeKind listedKind = NodeKind::Missing;
};
// The names in a folder, without "." and "..", in the order the system gives.
std::error_code ListFolder(const stdfs::path& folder, std::vector<FolderEntry>& out);

// A new folder that only this user can enter, in the system's temporary folder.
std::error_code MakePrivateFolder(const std::string& prefix, stdfs::path& out);

// Serialises the replacing of files in one folder between runs of this
// program: held while a backup and its target are put in place, so that two
// runs into one folder behave as if one had gone after the other. Advisory
// only. When another run holds it for more than a second, `onWait` is called
// once (to tell the user) and the wait goes on.
class FolderLock {
public:
    explicit FolderLock(const stdfs::path& folder, const std::function<void()>& onWait = {});
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Why the folder could not be locked (empty when it is locked, and where
    // the system has no such lock).
    const std::error_code& error() const { return error_; }

private:
    std::intptr_t handle_ = -1;
    std::error_code error_;
};

// People's text for an error ("No space left on device", "is a symbolic link").
std::string ErrorText(const std::error_code& error);

// Errors of this layer beyond the system's own.
enum class FsError {
    IsLink = 1,    // the name is a symbolic link
    IsDirectory,   // the name is a folder
    IsSpecial,     // the name is a FIFO, socket or device
};
const std::error_category& FsCategory();
inline std::error_code MakeError(FsError e) { return {static_cast<int>(e), FsCategory()}; }

// Removes every new file that is not yet in place. Safe to call from a
// signal handler.
void RemovePendingFiles() noexcept;

// Makes SIGINT, SIGTERM and SIGHUP (or the platform's equivalents) remove the
// pending files and then end the process as the signal would have.
void RemovePendingFilesOnSignals();

// Asks the system to back the whole large pages (2 MiB) inside
// [data, data + bytes) with large pages once they are first touched. A hint
// for big lists filled once, like the records of a large drawing: they then
// take a few page faults instead of tens of thousands, and fewer address
// translation misses later. Where the system has no such hint, nothing.
void AdviseLargePages(void* data, std::size_t bytes) noexcept;

// Tests: the n-th step (counting from 1) of writing a new file from now on
// fails as if the disk were full; 0 turns this off. Returns how many steps
// were passed since the last call.
int FailWriteStepForTesting(int n);
// Tests: every InputFile opened on exactly this path from now on fails its
// reads with an I/O error, as a failing disk would; an empty path turns this
// off. Other ways of reading the file are not affected, as with a transient
// error.
void FailReadsForTesting(const stdfs::path& path);
bool ReadsFailForTesting(const stdfs::path& path);

}  // namespace tervalo::platform
