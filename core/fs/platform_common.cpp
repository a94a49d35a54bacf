// The parts of the file layer that are the same on every platform, built on
// the system calls of fs_posix.cpp or fs_win32.cpp.
#include "fs/platform.h"

#include <algorithm>
#include <iterator>

namespace tervalo::platform {

namespace {

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

}  // namespace

const std::error_category& FsCategory() {
    static const FsCategoryImpl category;
    return category;
}

bool FlushOfFileSystemReachesDevice(std::int64_t fileSystemType) {
    // Local file systems of the Linux kernel (statfs magic numbers): ext2-4,
    // XFS, Btrfs, F2FS, JFS, ReiserFS, FAT, exFAT, NTFS (both drivers),
    // HFS+, NILFS2, bcachefs, ZFS, overlayfs, tmpfs and ramfs.
    static constexpr std::int64_t kLocal[] = {
        0xEF53,     0x58465342, 0x9123683E, 0xF2F52010, 0x3153464A, 0x52654973, 0x4D44,     0x2011BAB0,
        0x7366746E, 0x5346544E, 0x482B,     0x3434,     0xCA451A4E, 0x2FC12FC1, 0x794C7630, 0x01021994,
        0x858458F6,
    };
    const std::int64_t type = fileSystemType & 0xFFFFFFFF;  // f_type is signed on some systems
    return std::find(std::begin(kLocal), std::end(kLocal), type) != std::end(kLocal);
}

bool IsPendingFileName(const std::string& name) {
    static constexpr char kPrefix[] = ".tervalo-", kSuffix[] = ".tmp";
    constexpr std::size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1, digits = 16;
    if (name.size() != prefix + digits + suffix || name.compare(0, prefix, kPrefix) != 0 ||
        name.compare(prefix + digits, suffix, kSuffix) != 0)
        return false;
    return std::all_of(name.begin() + prefix, name.begin() + prefix + digits,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

namespace {
stdfs::path& FailingReads() {
    static stdfs::path path;
    return path;
}
}  // namespace

void FailReadsForTesting(const stdfs::path& path) { FailingReads() = path; }

bool ReadsFailForTesting(const stdfs::path& path) { return !FailingReads().empty() && FailingReads() == path; }

std::error_code ReplaceFile(const stdfs::path& target, ByteSpan data) {
    PendingFile file;
    if (std::error_code ec = file.Create(target, data)) return ec;
    return file.Commit();
}

}  // namespace tervalo::platform
