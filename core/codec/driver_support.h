// Small pieces the JWW and JWS drivers share: turning codec errors into a
// false result with a reason, reading and writing whole files with that
// reason, and the lenient read of a header's last field for file listings.
#pragma once

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "archive/archive.h"
#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "archive/io_error.h"
#include "fs/fsutil.h"
#include "fs/platform.h"
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

// Writes a drawing into `sink` under the guard: `header(w)` writes its
// header, then `body(ao)` the rest through an archive of version `ver`.
template <typename Header, typename Body>
bool WriteDrawingTo(std::string& lastError, const ByteWriter::Sink& sink, std::int32_t ver, std::int32_t fileOutOpt,
                    const StoredStrings* stored, Header&& header, Body&& body) {
    lastError.clear();
    return RunGuarded(lastError, [&] {
        ByteWriter w(sink);
        header(w);
        ArchiveOut ao(w, ver, fileOutOpt, stored);
        body(ao);
        w.Finish();
    }, kNoMemoryToWrite);
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
inline bool ReadInputFile(const std::filesystem::path& path, Bytes& data, std::string& lastError, std::size_t maxBytes = 0) {
    errno = 0;
    const bool ok = maxBytes ? ReadFilePrefix(path, maxBytes, data) : ReadWholeFile(path, data);
    if (!ok)
        lastError = LastFileError() == std::errc::not_enough_memory ? "not enough memory to read this drawing"
                                                                    : "cannot open file: " + LastSystemErrorText();
    return ok;
}

// Writes the file in one go; a failed write leaves no partial file.
inline bool WriteOutputFile(const std::filesystem::path& path, const Bytes& data, std::string& lastError) {
    errno = 0;
    const bool ok = WriteWholeFile(path, data);
    if (!ok) lastError = "cannot write file: " + LastSystemErrorText();
    return ok;
}

// Files up to this size are read into memory whole; larger ones are decoded
// through a window that follows the reading, so the file's bytes and the
// drawing decoded from them are not all in memory at once.
inline constexpr std::size_t kWholeFileLimit = 8 * 1024 * 1024;
inline constexpr std::size_t kReadWindow = 1024 * 1024;

// The bytes of an open file for a windowed ByteReader.
class FileByteSource : public ByteSource {
public:
    explicit FileByteSource(platform::InputFile& file) : file_(file) {}
    std::size_t size() const override { return static_cast<std::size_t>(file_.size()); }
    std::size_t read(std::span<std::uint8_t> out) override {
        std::size_t got = 0;
        if (std::error_code ec = file_.Read(out, got))
            throw IoError(kFileIoError, "cannot read file: " + platform::ErrorText(ec));
        return got;
    }

private:
    platform::InputFile& file_;
};

// Opens a drawing for reading; false with the reason when it cannot be opened.
inline bool OpenInputFile(const std::filesystem::path& path, platform::InputFile& file, std::string& lastError) {
    std::error_code ec = !path.empty() ? file.Open(path) : std::make_error_code(std::errc::invalid_argument);
    if (ec) lastError = "cannot open file: " + platform::ErrorText(ec);
    return !ec;
}

// Reads a drawing with `readFrom(ByteReader&)`: a small file from one buffer
// holding all of it, a large one through a window.
template <typename ReadFrom>
bool ReadDrawingFile(const std::filesystem::path& path, std::string& lastError, ReadFrom&& readFrom) {
    platform::InputFile file;
    if (!OpenInputFile(path, file, lastError)) return false;
    FileByteSource source(file);
    if (file.size() <= kWholeFileLimit) {
        // Not zero-filled first: every byte is read over.
        const std::size_t size = static_cast<std::size_t>(file.size());
        std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size ? size : 1]);
        if (!data) {
            lastError = kNoMemoryToRead;
            return false;
        }
        std::size_t got = 0;
        try {
            while (got < size) {
                const std::size_t n = source.read({data.get() + got, size - got});
                if (n == 0) break;
                got += n;
            }
        } catch (const IoError& e) {
            lastError = e.detail();
            return false;
        }
        ByteReader r(std::span<const std::uint8_t>(data.get(), got));
        return readFrom(r);
    }
    ByteReader r(source, kReadWindow);
    return readFrom(r);
}

// Writes a drawing with `writeTo(sink)` straight into a new file beside
// `path`, put in place only when complete; a failure leaves `path` as it was.
template <typename WriteTo>
bool WriteDrawingFile(const std::filesystem::path& path, std::string& lastError, WriteTo&& writeTo) {
    if (path.empty()) {
        lastError = "cannot write file: the name cannot be a file name";
        return false;
    }
    platform::PendingFile file;
    if (std::error_code ec = file.Open(path)) {
        lastError = "cannot write file: " + platform::ErrorText(ec);
        return false;
    }
    std::error_code failed;
    const ByteWriter::Sink sink = [&](std::span<const std::uint8_t> bytes) {
        if ((failed = file.Write(bytes))) throw IoError(kFileIoError, "cannot write file: " + platform::ErrorText(failed));
    };
    if (!writeTo(sink)) return false;
    if (std::error_code ec = file.Finish(); ec || (ec = file.Commit())) {
        lastError = "cannot write file: " + platform::ErrorText(ec);
        return false;
    }
    return true;
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
