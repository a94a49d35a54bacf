// Small pieces the JWW and JWS drivers share: turning codec errors into a
// false result with a reason, reading and writing whole files with that
// reason, and the lenient read of a header's last field for file listings.
#pragma once

#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "archive/byte_reader.h"
#include "archive/io_error.h"
#include "fs/fsutil.h"
#include "model/drawing_body.h"

namespace tervalo {

inline constexpr char kNoMemoryToRead[] = "not enough memory to read this drawing";
inline constexpr char kNoMemoryToWrite[] = "not enough memory to write this drawing";

// Runs `step`; a read or write error, running out of memory or any other
// exception becomes false with its reason in `lastError`, so nothing escapes
// a reader or writer.
template <typename Step>
bool RunGuarded(std::string& lastError, Step&& step, const char* noMemory = kNoMemoryToRead) {
    try {
        step();
        return true;
    } catch (const IoError& e) {
        lastError = e.Describe();
    } catch (const std::bad_alloc&) {
        lastError = noMemory;
    } catch (const std::length_error&) {
        lastError = noMemory;
    } catch (const std::exception& e) {
        lastError = std::string("unexpected error: ") + e.what();
    } catch (...) {
        lastError = "unexpected error";
    }
    return false;
}

// Decides the referenced block definitions and their output numbers after a
// read, under the same guard. An earlier failure's reason is kept.
inline bool MarkReferencesGuarded(DrawingBody& body, std::string& lastError) {
    std::string reason;
    const bool ok = RunGuarded(reason, [&] { body.MarkBlockReferences(); });
    if (!ok) {
        // Without the numbering nothing may be written from this container.
        for (TEntJwwBlockDef& d : body.EntBlockDef) d.ref_flag = false;
        body.EntBlockNum = 0;
        if (lastError.empty()) lastError = reason;
    }
    return ok;
}

// Reads the whole file, or at most `maxBytes` of it when that is not 0.
inline bool ReadInputFile(const std::u16string& path, Bytes& data, std::string& lastError, std::size_t maxBytes = 0) {
    errno = 0;
    const bool ok = maxBytes ? ReadFilePrefix(path, maxBytes, data) : ReadWholeFile(path, data);
    if (!ok)
        lastError = LastFileError() == std::errc::not_enough_memory ? "not enough memory to read this drawing"
                                                                    : "cannot open file: " + LastSystemErrorText();
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
