// The parts of the file layer that are the same on every platform, built on
// the system calls of fs_posix.cpp or fs_win32.cpp.
#include "fs/platform.h"

namespace tervalo::platform {

std::error_code ReplaceFile(const stdfs::path& target, ByteSpan data) {
    PendingFile file;
    if (std::error_code ec = file.Create(target, data)) return ec;
    return file.Commit();
}

}  // namespace tervalo::platform
