// The four file conversions: read one JWW drawing or JWS figure into its
// container, change its points, write it as a new file in the source's
// version, and empty the container again.
#pragma once

#include <cstdint>
#include <string>

#include "convert/convert_options.h"

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
};

// Each returns true when the converted file was written. On false nothing is
// left at the target path by the write. The container is empty afterwards in
// every case. The callers check the source with the container's FileCheck first.
bool JwwToReal(TJwwData& jww, const std::u16string& source, const std::u16string& target,
               const TConvertOptions& options = ConvertOptions, ConvertReport* report = nullptr);
bool JwwToTemporary(TJwwData& jww, const std::u16string& source, const std::u16string& target,
                    const TConvertOptions& options = ConvertOptions, ConvertReport* report = nullptr);
bool JwsToReal(TJwsData& jws, const std::u16string& source, const std::u16string& target,
               const TConvertOptions& options = ConvertOptions, ConvertReport* report = nullptr);
bool JwsToTemporary(TJwsData& jws, const std::u16string& source, const std::u16string& target,
                    const TConvertOptions& options = ConvertOptions, ConvertReport* report = nullptr);

// Empties a JWW container together with the image files it copied out:
// compressed images, then the others, then the data, then the image list.
// The image files are deleted only when the container copies images out.
void JwwDataFree(TJwwData& jww);

}  // namespace tervalo
