#include "text/encoding.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "text/converter.h"

namespace tervalo {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::u16string CutAtNul(std::u16string s) {
    auto pos = s.find(u'\0');
    if (pos != std::u16string::npos) s.resize(pos);
    return s;
}

}  // namespace

// Code page 932 is ASCII below 0x80, and such a byte is part of another
// character only as the trail byte after a lead byte (0x81 and up). So the
// ASCII at the start of a text is converted here, character for character,
// and only what follows goes through the system's converter, which costs
// hundreds of instructions per call however short the text.
Bytes TextToAnsiBytes(const std::u16string& text) {
    std::size_t ascii = 0;
    while (ascii < text.size() && text[ascii] < 0x80) ++ascii;
    Bytes bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(ascii));
    if (ascii == text.size()) return bytes;
    const Bytes rest = textconv::EncodeCp932(text.substr(ascii));
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

std::u16string AnsiBytesToText(ByteSpan bytes) {
    // Only the part before the first zero byte can survive the cut at NUL:
    // code page 932 never uses a zero byte inside a double-byte character.
    bytes = bytes.first(static_cast<std::size_t>(ZeroTermLength(bytes)));
    std::size_t ascii = 0;
    while (ascii < bytes.size() && bytes[ascii] < 0x80) ++ascii;
    std::u16string text(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(ascii));
    if (ascii == bytes.size()) return text;
    return text + CutAtNul(textconv::DecodeCp932(bytes.subspan(ascii)));
}

std::int32_t AnsiByteLength(const std::u16string& text) {
    std::u16string head = CutAtNul(text);
    std::size_t n = TextToAnsiBytes(head).size();
    if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(n);
}

std::int32_t ZeroTermLength(ByteSpan bytes) {
    std::size_t n = bytes.size();
    if (!bytes.empty()) {
        const void* zero = std::memchr(bytes.data(), 0, bytes.size());
        if (zero) n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes.data());
    }
    if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(n);
}

Bytes TextToUtf16Bytes(const std::u16string& text) {
    Bytes out;
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

std::u16string Utf16BytesToText(ByteSpan bytes) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

void FillBytes(std::uint8_t value, std::int32_t count, std::uint8_t* bytes) {
    if (count <= 0 || bytes == nullptr) return;
    std::memset(bytes, value, static_cast<std::size_t>(count));
}

std::u16string StripControlChars(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text)
        if (c >= 0x20) out.push_back(c);
    return out;
}

std::u16string RemoveBlanks(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text)
        if (c > 0x20 && c != u'\u3000') out.push_back(c);
    return out;
}

std::u16string CleanNameText(const std::u16string& text) {
    if (text.empty()) return {};
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (i + 1 < text.size() &&
            ((text[i] == u'^' && text[i + 1] == u'm') || (text[i] == u'\\' && text[i + 1] == u'n'))) {
            i += 2;
            continue;
        }
        if (text[i] >= 0x20) out.push_back(text[i]);
        ++i;
    }
    if (out.empty()) out.push_back(u' ');
    return out;
}

bool IsValidDouble(double value) { return std::isfinite(value); }

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const std::uint8_t*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        std::uint8_t b = s[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        // Length and the allowed range of the second byte (this excludes
        // overlong forms, surrogates and values above U+10FFFF).
        int len = 0;
        std::uint8_t lo = 0x80, hi = 0xBF;
        char32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; }
        else if (b == 0xE0) { len = 3; lo = 0xA0; cp = b & 0x0F; }
        else if (b >= 0xE1 && b <= 0xEC) { len = 3; cp = b & 0x0F; }
        else if (b == 0xED) { len = 3; hi = 0x9F; cp = b & 0x0F; }
        else if (b >= 0xEE && b <= 0xEF) { len = 3; cp = b & 0x0F; }
        else if (b == 0xF0) { len = 4; lo = 0x90; cp = b & 0x07; }
        else if (b >= 0xF1 && b <= 0xF3) { len = 4; cp = b & 0x07; }
        else if (b == 0xF4) { len = 4; hi = 0x8F; cp = b & 0x07; }
        if (len == 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        // Consume the longest valid prefix; a broken sequence becomes one
        // replacement character and decoding resumes at the offending byte.
        std::size_t j = i + 1;
        int got = 1;
        bool broken = false;
        while (got < len) {
            if (j >= n) { broken = true; break; }
            std::uint8_t c = s[j];
            std::uint8_t l = (got == 1) ? lo : 0x80;
            std::uint8_t h = (got == 1) ? hi : 0xBF;
            if (c < l || c > h) { broken = true; break; }
            cp = (cp << 6) | (c & 0x3F);
            ++j;
            ++got;
        }
        if (broken) {
            out.push_back(kReplacement);
            i = j;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i = j;
    }
    return out;
}

char32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
    const char16_t c = text[i++];
    if (IsHighSurrogate(c) && i < text.size() && IsLowSurrogate(text[i]))
        return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i++] - 0xDC00);
    return c;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        AppendUtf8(out, cp >= 0xD800 && cp <= 0xDFFF ? kReplacement : cp);
    }
    return out;
}

}  // namespace tervalo
