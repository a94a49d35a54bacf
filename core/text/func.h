// Small text utilities: substrings with 0-based indices, locale-aware case
// conversion, the hexadecimal UTF-8 form used by the settings file, and
// number/text conversions that never fail.
#pragma once

#include <cstdint>
#include <string>

#include "text/encoding.h"

namespace tervalo {

Bytes TextToUtf8Bytes(const std::u16string& text);
std::u16string Utf8BytesToText(ByteSpan bytes);
std::u16string BytesToHex(ByteSpan bytes);
Bytes HexToBytes(const std::u16string& text);
std::u16string EncodeHexUtf8(const std::u16string& text);
std::u16string DecodeHexUtf8(const std::u16string& text);

std::int32_t TextPos(const std::u16string& sub, const std::u16string& text);
std::u16string TextFrom(const std::u16string& text, std::int32_t start);
std::u16string TextMid(const std::u16string& text, std::int32_t start, std::int32_t count);
std::u16string RepeatText(const std::u16string& text, std::int32_t n);
std::u16string ToUpperText(const std::u16string& text);
std::u16string ToLowerText(const std::u16string& text);

std::u16string IntToText(std::int32_t value);
std::int32_t StrToIntOrZero(const std::u16string& text);
// General format, up to 15 significant digits, always with a full stop.
std::u16string FloatToText(double value);
double StrToFloatOrZero(const std::u16string& text);

}  // namespace tervalo
