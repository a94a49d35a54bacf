#include "convert/file_convert.h"

#include <algorithm>
#include <new>

#include "archive/io_error.h"
#include "codec/driver_support.h"
#include "convert/point_rules.h"
#include "convert/stream_convert.h"
#include "fs/fsutil.h"
#include "fs/platform.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "text/encoding.h"

namespace tervalo {

namespace {

constexpr char kNotEnoughMemory[] = "not enough memory to read this drawing";

// Output option that keeps the Unicode string form of a source that used it.
constexpr std::int32_t kUnicodeStrings = 32;

using Direction = ConvertDirection;

void Fail(ConvertReport* report, ConvertFailure failure, const std::string& detail) {
    if (!report) return;
    report->failure = failure;
    report->detail = detail;
}


// Steps shared by the four conversions once the file has been read: change
// the points and build the output in the source's version and string form.
template <typename Container>
bool ConvertAndBuild(Container& data, Direction direction, const TConvertOptions& options, const OutputSink& sink,
                     ConvertReport* report) {
    const std::int32_t version = data.Enthd.jwVer;
    const std::int64_t changed = direction == Direction::ToReal ? ConvertPointsToReal(data, version, options)
                                                                : ConvertPointsToTemporary(data, version, options);
    if (report) report->changedPoints = changed;
    data.SetFileOutOption(data.MojiEncode ? kUnicodeStrings : 0);
    if (data.WriteTo(version, sink)) return true;
    Fail(report, ConvertFailure::WriteFailed, data.LastError());
    return false;
}

// Streams the conversion into a new file beside the target; an earlier file
// at the target stays until the new one is complete, and stays as it was
// when anything fails.
template <typename Convert>
bool WriteTarget(const std::filesystem::path& target, ConvertReport* report, Convert&& convert) {
    const std::filesystem::path& path = target;
    platform::PendingFile file;
    std::error_code ec;
    if (path.empty()) ec = std::make_error_code(std::errc::invalid_argument);
    bool opened = false;
    const OutputSink sink = [&](std::span<const std::uint8_t> bytes) {
        if (!opened && !ec) {
            ec = file.Open(path);
            opened = !ec;
        }
        if (!ec) ec = file.Write(bytes);
        if (ec) throw IoError(kFileIoError, "cannot write " + PathUtf8(target) + ": " + platform::ErrorText(ec));
    };
    if (!convert(sink)) return false;
    if (!opened && !ec) ec = file.Open(path);
    if (!ec) ec = file.Finish();
    if (!ec) ec = file.Commit();
    if (!ec) return true;
    Fail(report, ConvertFailure::WriteFailed, "cannot write " + PathUtf8(target) + ": " + platform::ErrorText(ec));
    return false;
}

bool ConvertJww(TJwwData& jww, Direction direction, const std::filesystem::path& source, const std::filesystem::path& target,
                const TConvertOptions& options, ConvertReport* report) {
    return WriteTarget(target, report, [&](const OutputSink& sink) {
        return ConvertJwwTo(jww, direction, source, options, sink, report);
    });
}

bool ConvertJws(TJwsData& jws, Direction direction, const std::filesystem::path& source, const std::filesystem::path& target,
                const TConvertOptions& options, ConvertReport* report) {
    return WriteTarget(target, report, [&](const OutputSink& sink) {
        return ConvertJwsTo(jws, direction, source, options, sink, report);
    });
}

OutputSink AppendTo(Bytes& out) {
    out.clear();
    return [&out](std::span<const std::uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); };
}

}  // namespace

// Every image the drawing carries with data must have been copied into the
// work folder; the writer takes them back from there and would silently drop
// any that is missing.
bool BoundImagesExtracted(const TJwwData& jww, std::string& missing) {
    if (!jww.BindImageExp) return true;  // not copied out by design: nothing to check
    const std::size_t n = jww.BindImageN > 0 ? std::min(jww.BindImage.size(), static_cast<std::size_t>(jww.BindImageN)) : 0;
    for (std::size_t i = 0; i < n; ++i) {
        const TBindImageType& image = jww.BindImage[i];
        if (image.Fname.empty() || image.Fsize == 0) continue;
        if (!FileFound(jww.BindImagePath(image.Fname))) {
            missing = Utf16ToUtf8(image.Fname);
            return false;
        }
    }
    return true;
}

bool ConvertJwwToBuffer(TJwwData& jww, ConvertDirection direction, const std::filesystem::path& source,
                        const TConvertOptions& options, Bytes& out, ConvertReport* report) {
    return ConvertJwwTo(jww, direction, source, options, AppendTo(out), report);
}

bool ConvertJwsToBuffer(TJwsData& jws, ConvertDirection direction, const std::filesystem::path& source,
                        const TConvertOptions& options, Bytes& out, ConvertReport* report) {
    return ConvertJwsTo(jws, direction, source, options, AppendTo(out), report);
}

namespace {

// The conversion once `readIn()` has read the source into the container.
template <typename ReadIn>
bool ConvertJwwRead(TJwwData& jww, ConvertDirection direction, const TConvertOptions& options, const OutputSink& out,
                    ConvertReport* report, ReadIn&& readIn) {
    if (report) *report = ConvertReport{};
    bool built = false;
    try {
        if (!readIn()) {
            Fail(report, ConvertFailure::ReadFailed, jww.LastError());
        } else if (std::string missing; !BoundImagesExtracted(jww, missing)) {
            Fail(report, ConvertFailure::ImagesNotExtracted, "bound image " + missing + " could not be copied out");
        } else {
            built = ConvertAndBuild(jww, direction, options, out, report);
        }
    } catch (const std::bad_alloc&) {
        Fail(report, ConvertFailure::ReadFailed, kNotEnoughMemory);
        built = false;
    }
    JwwDataFree(jww);
    return built;
}

template <typename ReadIn>
bool ConvertJwsRead(TJwsData& jws, ConvertDirection direction, const TConvertOptions& options, const OutputSink& out,
                    ConvertReport* report, ReadIn&& readIn) {
    if (report) *report = ConvertReport{};
    bool built = false;
    try {
        if (!readIn())
            Fail(report, ConvertFailure::ReadFailed, jws.LastError());
        else
            built = ConvertAndBuild(jws, direction, options, out, report);
    } catch (const std::bad_alloc&) {
        Fail(report, ConvertFailure::ReadFailed, kNotEnoughMemory);
        built = false;
    }
    jws.DataFree();
    return built;
}

// The start of a large file, enough for either check.
constexpr std::size_t kHeadBytes = 4096;

}  // namespace

bool ConvertJwwTo(TJwwData& jww, ConvertDirection direction, const std::filesystem::path& source,
                  const TConvertOptions& options, const OutputSink& out, ConvertReport* report) {
    return ConvertJwwRead(jww, direction, options, out, report, [&] { return jww.FileIn(source); });
}

bool ConvertJwsTo(TJwsData& jws, ConvertDirection direction, const std::filesystem::path& source,
                  const TConvertOptions& options, const OutputSink& out, ConvertReport* report) {
    return ConvertJwsRead(jws, direction, options, out, report, [&] { return jws.FileIn(source); });
}

template <typename Container>
bool SourceFile::ReadInto(Container& data) {
    if (!whole_) return data.FileIn(path_);
    const bool ok = data.ReadFromBuffer(bytes());
    // The container keeps what it needs of the bytes.
    if (room_ > keptRoom_) {
        data_.reset();
        room_ = 0;
    }
    size_ = 0;
    whole_ = false;
    return ok;
}

bool ConvertJwwTo(TJwwData& jww, ConvertDirection direction, SourceFile& source, const TConvertOptions& options,
                  const OutputSink& out, ConvertReport* report) {
    // A large drawing is converted without its model.
    if (!source.whole_) return StreamConvertJwwTo(jww, direction, source.path_, options, out, report);
    return ConvertJwwRead(jww, direction, options, out, report, [&] { return source.ReadInto(jww); });
}

bool ConvertJwsTo(TJwsData& jws, ConvertDirection direction, SourceFile& source, const TConvertOptions& options,
                  const OutputSink& out, ConvertReport* report) {
    if (!source.whole_) return StreamConvertJwsTo(jws, direction, source.path_, options, out, report);
    return ConvertJwsRead(jws, direction, options, out, report, [&] { return source.ReadInto(jws); });
}

bool SourceFile::Read(const std::filesystem::path& path) {
    path_ = path;
    size_ = 0;
    fileSize_ = 0;
    whole_ = false;
    error_.clear();
    platform::InputFile file;
    if (path.empty()) {
        error_ = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    if ((error_ = file.Open(path))) return false;
    fileSize_ = file.size();
    whole_ = file.size() <= kWholeFileLimit;
    const std::size_t want = whole_ ? static_cast<std::size_t>(file.size()) : kHeadBytes;
    if (!data_ || room_ < want) {
        // A buffer to be kept gets a quarter more (within what is kept), so
        // that sources of about one size settle on one buffer.
        std::size_t room = want ? want : 1;
        if (room + room / 4 <= keptRoom_) room += room / 4;
        data_.reset();
        room_ = 0;
        data_.reset(new (std::nothrow) std::uint8_t[room]);
        if (!data_) {
            error_ = std::make_error_code(std::errc::not_enough_memory);
            return false;
        }
        room_ = room;
    }
    while (size_ < want) {
        std::size_t got = 0;
        if ((error_ = file.Read({data_.get() + size_, want - size_}, got))) return false;
        if (got == 0) break;
        size_ += got;
    }
    return true;
}

bool SourceFile::IsJww() const { return TJwwData::HeadCheck(bytes()); }
bool SourceFile::IsJws() const { return TJwsData::HeadCheck(bytes()); }

void JwwDataFree(TJwwData& jww) {
    // The image files are this program's own copies only when they were
    // copied out; otherwise files of those names in the folder are not ours.
    if (jww.BindImageExp) {
        jww.BindImageDeleteGzFile();
        jww.BindImageDeleteNonGzFile();
    }
    jww.DataFree();
    jww.BindImageInit();
}

bool JwwToReal(TJwwData& jww, const std::filesystem::path& source, const std::filesystem::path& target,
               const TConvertOptions& options, ConvertReport* report) {
    return ConvertJww(jww, Direction::ToReal, source, target, options, report);
}

bool JwwToTemporary(TJwwData& jww, const std::filesystem::path& source, const std::filesystem::path& target,
                    const TConvertOptions& options, ConvertReport* report) {
    return ConvertJww(jww, Direction::ToTemporary, source, target, options, report);
}

bool JwsToReal(TJwsData& jws, const std::filesystem::path& source, const std::filesystem::path& target,
               const TConvertOptions& options, ConvertReport* report) {
    return ConvertJws(jws, Direction::ToReal, source, target, options, report);
}

bool JwsToTemporary(TJwsData& jws, const std::filesystem::path& source, const std::filesystem::path& target,
                    const TConvertOptions& options, ConvertReport* report) {
    return ConvertJws(jws, Direction::ToTemporary, source, target, options, report);
}

}  // namespace tervalo
