// Text encodings and text cleaning shared by every Jw_cad reader and writer.
// Strings are held as UTF-16 code units exactly as read; ANSI text in the
// drawing files is code page 932 (Shift_JIS), converted by the system's own
// converter (text/converter.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tervalo {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

// The text in code page 932; no terminator. Characters that code page 932
// cannot represent become the converter's substitute byte ('?').
Bytes TextToAnsiBytes(const std::u16string& text);

// Decodes code page 932 bytes and cuts the result at its first NUL character.
// Invalid sequences decode to U+FFFD, byte by byte.
std::u16string AnsiBytesToText(ByteSpan bytes);

// Number of code page 932 bytes of the text before its first NUL character.
std::int32_t AnsiByteLength(const std::u16string& text);

// Number of bytes before the first zero byte (the whole length when there is none).
std::int32_t ZeroTermLength(ByteSpan bytes);

// Code units of the text, little-endian, no byte order mark, no terminator.
Bytes TextToUtf16Bytes(const std::u16string& text);

// Little-endian code units (a trailing odd byte is ignored), cut at the first NUL.
std::u16string Utf16BytesToText(ByteSpan bytes);

// Sets the first `count` bytes of `bytes` to `value`; nothing when count <= 0.
void FillBytes(std::uint8_t value, std::int32_t count, std::uint8_t* bytes);

// Removes every character below U+0020.
std::u16string StripControlChars(const std::u16string& text);

// Removes spaces, ideographic spaces and every character below U+0020.
std::u16string RemoveBlanks(const std::u16string& text);

// Removes the pairs "^m" and "\n" and every character below U+0020; a
// non-empty text that becomes empty is returned as a single space.
std::u16string CleanNameText(const std::u16string& text);

// False for NaN and the infinities.
bool IsValidDouble(double value);

// Convenience for tests and front ends: UTF-8 <-> UTF-16. A surrogate
// without its partner becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(const std::u16string& text);

// The pieces of Utf16ToUtf8, for writers that treat some characters apart
// (JSON escapes) or must keep a lone surrogate (Windows file names).
// NextCodePoint returns the character at `i` and moves `i` past it: a
// surrogate pair gives its character, a surrogate without its partner comes
// back as it is. AppendUtf8 appends the UTF-8 bytes of a code point; a
// surrogate gets the three-byte form (ED A0 80 for U+D800) that UTF-8
// readers refuse.
char32_t NextCodePoint(std::u16string_view text, std::size_t& i);
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace tervalo
