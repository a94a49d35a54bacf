// The properties the fuzz targets check, one function per target. Each takes
// arbitrary bytes and returns an empty string when the property holds, else
// what went wrong. The fuzz targets abort on a failure; the regression test
// runs the committed inputs through the same functions.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tervalo::fuzz {

using Input = std::span<const std::uint8_t>;

// Whatever reads as a JWW drawing writes again in its version, reads back,
// and the re-read holds the same entities in the same order with the same
// point states and inserts resolving to the same definitions. The header
// listing of the same bytes as a file agrees with the full read. What reads
// also renders (SVG and PNG), fitted within its extent.
std::string CheckJwwRoundTrip(Input data);
// The same for JWS figures.
std::string CheckJwsRoundTrip(Input data);
// JWC and JWK header listing of the bytes as a file: never fails badly.
std::string CheckJwcHeader(Input data);
std::string CheckJwkHeader(Input data);
// Loading the bytes as a settings file, saving and loading again gives the
// same settings.
std::string CheckSettingsFile(Input data);
// The whole temporary-to-real conversion of the bytes as a JWW drawing, with
// images kept in memory and with images copied out to a work folder: an
// output reads back with the source's entities, and nothing is left or
// written outside the conversion's folders.
std::string CheckJwwConversion(Input data);

// A fresh folder of its own for this process, removed at exit.
const std::string& ScratchFolder();

}  // namespace tervalo::fuzz
