// The four file conversions: read one JWW drawing or JWS figure into its
// container, change its points, write it as a new file in the source's
// version, and empty the container again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <system_error>

#include "convert/convert_options.h"
#include "text/encoding.h"

namespace tervalo {

class TJwwData;
class TJwsData;

// Why a file conversion wrote nothing.
enum class ConvertFailure {
    None,               // the converted file was written
    ReadFailed,         // the source could not be read as a whole
    ImagesNotExtracted, // a bound image could not be copied out, so writing would lose it
    WriteFailed,        // the target could not be written (no file is left there)
};

struct ConvertReport {
    ConvertFailure failure = ConvertFailure::None;
    std::string detail;  // the container's reason, in English, when it gave one
    std::int64_t changedPoints = 0;  // points the rules changed
};

// Each returns true when the converted file was written. The new file is put
// in place only once complete, so on false the target path is exactly as it
// was before (an earlier file stays). The container is empty afterwards in
// every case. The callers check the source with the container's FileCheck first.
bool JwwToReal(TJwwData& jww, const std::filesystem::path& source, const std::filesystem::path& target,
               const TConvertOptions& options = ConvertOptions, ConvertReport* report = nullptr);
bool JwwToTemporary(TJwwData& jww, const std::filesystem::path& source, const std::filesystem::path& target,
                    const TConvertOptions& options = ConvertOptions, ConvertReport* report = nullptr);
bool JwsToReal(TJwsData& jws, const std::filesystem::path& source, const std::filesystem::path& target,
               const TConvertOptions& options = ConvertOptions, ConvertReport* report = nullptr);
bool JwsToTemporary(TJwsData& jws, const std::filesystem::path& source, const std::filesystem::path& target,
                    const TConvertOptions& options = ConvertOptions, ConvertReport* report = nullptr);

enum class ConvertDirection { ToReal, ToTemporary };

// The conversion without the write: reads the source, changes its points and
// builds the whole output file in `out`, in the source's version. True when
// `out` holds it; nothing is written to the disk here. The container is empty
// afterwards in every case.
bool ConvertJwwToBuffer(TJwwData& jww, ConvertDirection direction, const std::filesystem::path& source,
                        const TConvertOptions& options, Bytes& out, ConvertReport* report = nullptr);
bool ConvertJwsToBuffer(TJwsData& jws, ConvertDirection direction, const std::filesystem::path& source,
                        const TConvertOptions& options, Bytes& out, ConvertReport* report = nullptr);

// The same conversion with the output streamed: `sink` receives the file in
// pieces as it is built (and throws IoError to stop, which fails the
// conversion with WriteFailed). Nothing reaches the sink unless the source
// was read and converted.
using OutputSink = std::function<void(std::span<const std::uint8_t>)>;
bool ConvertJwwTo(TJwwData& jww, ConvertDirection direction, const std::filesystem::path& source,
                  const TConvertOptions& options, const OutputSink& sink, ConvertReport* report = nullptr);
bool ConvertJwsTo(TJwsData& jws, ConvertDirection direction, const std::filesystem::path& source,
                  const TConvertOptions& options, const OutputSink& sink, ConvertReport* report = nullptr);

// A source read once for both the check of its kind and its conversion. A
// file of up to 8 MiB is held whole, read straight into a buffer that is not
// zero-filled first; of a larger one only the start is held, and it is read
// again by name, through a window, when it is converted.
class SourceFile {
public:
    // Room for the bytes that a source used for one file after another keeps
    // (a batch's): the buffer of a whole file stays for the next one, so its
    // pages are not faulted in again for every file.
    static constexpr std::size_t kBatchRoom = std::size_t{8} << 20;

    // `keptRoom`: the largest buffer kept once its bytes are decoded (0: the
    // bytes are let go as soon as they are decoded).
    explicit SourceFile(std::size_t keptRoom = 0) : keptRoom_(keptRoom) {}
    // False when the file cannot be opened or read; it then passes no check,
    // and error() says why.
    bool Read(const std::filesystem::path& path);
    const std::filesystem::path& path() const { return path_; }
    const std::error_code& error() const { return error_; }
    // The size of the file when it was read.
    std::uint64_t fileSize() const { return fileSize_; }
    // What the containers' FileCheck says of the file.
    bool IsJww() const;
    bool IsJws() const;

private:
    friend bool ConvertJwwTo(TJwwData&, ConvertDirection, SourceFile&, const TConvertOptions&, const OutputSink&,
                             ConvertReport*);
    friend bool ConvertJwsTo(TJwsData&, ConvertDirection, SourceFile&, const TConvertOptions&, const OutputSink&,
                             ConvertReport*);
    std::span<const std::uint8_t> bytes() const { return {data_.get(), size_}; }
    // Reads the file into the container, and lets its bytes go (keeping the
    // buffer when it is at most keptRoom_).
    template <typename Container>
    bool ReadInto(Container& data);
    std::filesystem::path path_;
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t room_ = 0;  // the size of data_
    std::size_t keptRoom_ = 0;
    std::size_t size_ = 0;
    std::uint64_t fileSize_ = 0;
    bool whole_ = false;  // data_ holds the whole file, not just its start
    std::error_code error_;
};

// The conversions of a source already read; its bytes are let go once they
// are decoded.
bool ConvertJwwTo(TJwwData& jww, ConvertDirection direction, SourceFile& source, const TConvertOptions& options,
                  const OutputSink& sink, ConvertReport* report = nullptr);
bool ConvertJwsTo(TJwsData& jws, ConvertDirection direction, SourceFile& source, const TConvertOptions& options,
                  const OutputSink& sink, ConvertReport* report = nullptr);

// Empties a JWW container together with the image files it copied out:
// compressed images, then the others, then the data, then the image list.
// The image files are deleted only when the container copies images out.
void JwwDataFree(TJwwData& jww);

}  // namespace tervalo
