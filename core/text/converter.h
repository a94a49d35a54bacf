// The system's own text services behind one interface: code page 932 (the
// ANSI code page of the Japanese drawing program's files) and locale-aware
// casing. One implementation per platform is compiled: converter_iconv.cpp
// (iconv and ICU) or converter_win32.cpp (the Windows national-language
// functions). Both follow the same rules for what the converter cannot map,
// so that a drawing reads and writes alike everywhere.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tervalo::textconv {

// Decodes code page 932 bytes to UTF-16. A byte that does not start a valid
// character (a bad lead byte, a lead byte with a bad trail byte, a lead byte
// cut off at the end) becomes one U+FFFD, and decoding resumes at the byte
// after it. Zero bytes decode to U+0000; the caller cuts where it wants.
std::u16string DecodeCp932(std::span<const std::uint8_t> bytes);

// Encodes UTF-16 text to code page 932. Each character that code page 932
// cannot represent exactly (no "best fit" look-alikes), an unpaired
// surrogate, and a surrogate pair, becomes one '?' (0x3F).
std::vector<std::uint8_t> EncodeCp932(const std::u16string& text);

// Upper- and lower-casing by the user's locale with linguistic rules.
std::u16string ToUpper(const std::u16string& text);
std::u16string ToLower(const std::u16string& text);

// Folds the case of each character (simple folding, character by character)
// for matching names without regard to case.
std::u16string FoldCase(const std::u16string& text);

// The library these conversions are made with and its licence, one line for
// the program's about box; empty when the system's own functions make them.
std::u16string LibraryNotice();

}  // namespace tervalo::textconv
