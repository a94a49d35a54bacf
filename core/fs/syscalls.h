// The system calls beneath the new files of the file layer (pending_file.cpp),
// one implementation per platform (fs_posix.cpp, fs_win32.cpp). Internal to
// core/fs: everything that decides (names, steps, flushes, the registry of
// files not yet in place) is written once above these; each of them does one
// system thing and reports the system's error. A handle is a file descriptor
// or a Windows HANDLE, kNoHandle when there is none.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <system_error>
#include <thread>

#include "fs/platform.h"

namespace tervalo::platform {

// Sixteen random lowercase hex digits, different in every thread and run.
std::string RandomHex16();
// The folder a file is in ("." for a bare name).
stdfs::path FolderOf(const stdfs::path& target);

namespace sys {

constexpr std::intptr_t kNoHandle = -1;

// The system's own codes for the failures this layer reports by itself.
enum class Failure {
    DiskFull,   // a test's injected failure of a step
    NoMemory,
    BadHandle,  // a step on a file that is not open
    BadState,   // a step on a file that does not exist (yet or any more)
};
std::error_code ErrorOf(Failure failure);

// The id of this process (mixed into the seed of the random names).
unsigned ProcessId();

// A section in which a new file is created and registered, or put in place
// or removed and unregistered: a stop (signal or console event) never sees
// half of either. Not nested.
void EnterSection();
void LeaveSection() noexcept;

// Removes a file by its name as the system takes it; safe in a signal handler.
void RemoveNow(const stdfs::path::value_type* path) noexcept;

// The folder's path in the form in which the system takes it at any length.
stdfs::path SystemForm(const stdfs::path& folder);

// Creates a new file for writing, failing when the name exists (`taken` then
// says so). `bits` are the attributes to create it with where the system
// takes them at creation (Windows); elsewhere SetBits gives them.
std::error_code CreateExclusive(const stdfs::path& path, std::uint32_t bits, std::intptr_t& handle, bool& taken);
// Gives an open new file the permission bits (where the system has them).
std::error_code SetBits(std::intptr_t handle, std::uint32_t bits);
// The identity of an open file, as Inspect gives it for its name.
std::error_code IdOf(std::intptr_t handle, FileId& id);

// What a target name stands for (links not followed) and, for a file, the
// bits its replacement keeps.
std::error_code Examine(const stdfs::path& target, NodeKind& kind, std::uint32_t& bits);

// A regular source file opened for reading (links followed, never blocking
// on a FIFO), with what its copy keeps: its bits and time stamps (in the
// system's own form, for CopyTimes).
struct Source {
    std::uint32_t bits = 0;
    std::int64_t times[6] = {};
};
std::error_code OpenSource(const stdfs::path& path, std::intptr_t& handle, Source& source);
// Reads up to out.size() bytes; `got` is 0 at the end of the file.
std::error_code Read(std::intptr_t handle, std::span<std::uint8_t> out, std::size_t& got);
std::error_code CopyTimes(std::intptr_t handle, const Source& source);

// Writes every byte.
std::error_code WriteAll(std::intptr_t handle, const std::uint8_t* data, std::size_t size);
// Flushes the file's bytes to the disk.
std::error_code FlushData(std::intptr_t handle);
std::error_code Close(std::intptr_t handle);
// Opens a closed new file again, only to flush it.
std::error_code OpenToFlush(const stdfs::path& path, std::intptr_t& handle);
// Puts a new file onto its target's name in one step, replacing what is there.
std::error_code RenameReplace(const stdfs::path& from, const stdfs::path& to);

// True where a large new file is flushed while it is still being written;
// StartWriteBack starts writing a range of it to the disk without waiting.
bool FlushesEarly();
void StartWriteBack(std::intptr_t handle, std::uint64_t offset, std::uint64_t length);
// A thread that takes no signals.
std::thread StartQuietThread(std::function<void()> run);

// A folder opened to flush its files and names (kNoHandle where the system
// needs no handle for it); `wholeFlush` when one flush of its file system
// reaches the device. Tells other runs that this one may have new files there.
std::error_code OpenFolder(const stdfs::path& folder, std::intptr_t& handle, bool& wholeFlush);
// One flush of the whole file system of the folder; true when it succeeded.
bool FlushFileSystem(std::intptr_t folder);
// Makes the renames in the folder durable; `openError` is why it could not
// be opened, if it could not.
std::error_code FlushFolder(std::intptr_t folder, const std::error_code& openError);
// Removes the leftover new files of runs ended by force (see
// FolderFlush::RemoveStaleFiles); how many were removed.
std::size_t RemoveStale(std::intptr_t folder, std::int64_t olderThanSeconds);

}  // namespace sys
}  // namespace tervalo::platform
