// The conversion of a large drawing without its model: a first read counts
// the drawing's own list and keeps only what the output needs in advance
// (header, block definitions and their numbering, the string form, the
// images); a second read takes the list a part at a time, changes its points
// and writes it, so memory stays flat and the output starts long before the
// source has been decoded a second time.
#pragma once

#include <string>

#include "convert/file_convert.h"

namespace tervalo {

// What the whole-model conversion (ConvertJwwTo/ConvertJwsTo) gives: the same
// bytes to `sink`, the same report, the same failure with the same reason.
// A source the first read refuses is converted (and so refused) by the
// whole-model conversion. The container is empty afterwards.
bool StreamConvertJwwTo(TJwwData& jww, ConvertDirection direction, const std::filesystem::path& source,
                        const TConvertOptions& options, const OutputSink& sink, ConvertReport* report = nullptr);
bool StreamConvertJwsTo(TJwsData& jws, ConvertDirection direction, const std::filesystem::path& source,
                        const TConvertOptions& options, const OutputSink& sink, ConvertReport* report = nullptr);

// Whether every image the drawing carries with data was copied into its work
// folder (the writer takes them back from there); `missing` names the first
// that was not.
bool BoundImagesExtracted(const TJwwData& jww, std::string& missing);

}  // namespace tervalo
