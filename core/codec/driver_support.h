// Small pieces the JWW and JWS drivers share: turning codec errors into a
// false result with a reason, reading and writing whole files with that
// reason, and the lenient read of a header's last field for file listings.
#pragma once

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "archive/byte_reader.h"
#include "archive/io_error.h"
#include "fs/fsutil.h"

namespace tervalo {

// Runs `step`; a read or write error, or running out of memory, becomes false
// with its reason in `lastError`.
template <typename Step>
bool RunGuarded(std::string& lastError, Step&& step) {
    try {
        step();
        return true;
    } catch (const IoError& e) {
        lastError = e.Describe();
    } catch (const std::bad_alloc&) {
        lastError = "out of memory";
    }
    return false;
}

// Reads the whole file, or at most `maxBytes` of it when that is not 0.
inline bool ReadInputFile(const std::u16string& path, Bytes& data, std::string& lastError, std::size_t maxBytes = 0) {
    errno = 0;
    const bool ok = maxBytes ? ReadFilePrefix(path, maxBytes, data) : ReadWholeFile(path, data);
    if (!ok) lastError = "cannot open file: " + LastSystemErrorText();
    return ok;
}

// Writes the file in one go; a failed write leaves no partial file.
inline bool WriteOutputFile(const std::u16string& path, const Bytes& data, std::string& lastError) {
    errno = 0;
    const bool ok = WriteWholeFile(path, data);
    if (!ok) lastError = "cannot write file: " + LastSystemErrorText();
    return ok;
}

// The last double of a header. For a file listing (lenient) a file that ends
// inside this field still counts: the bytes there are replace the leading
// bytes of the field, the others keep its current value.
inline void ReadLastHeaderDouble(ByteReader& r, bool lenient, double& field) {
    if (lenient && r.remaining() > 0 && r.remaining() < sizeof(double)) {
        auto tail = r.bytes(r.remaining());
        std::memcpy(&field, tail.data(), tail.size());
    } else {
        field = r.f64();
    }
}

}  // namespace tervalo
