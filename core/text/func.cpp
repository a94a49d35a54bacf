#include "text/func.h"

#include <charconv>
#include <clocale>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>

#include "text/converter.h"

namespace tervalo {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

std::u16string AsciiToText(std::string_view s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

Bytes TextToUtf8Bytes(const std::u16string& text) {
    std::string s = Utf16ToUtf8(text);
    return Bytes(s.begin(), s.end());
}

std::u16string Utf8BytesToText(ByteSpan bytes) {
    // The lenient decoder cannot fail: malformed input becomes U+FFFD.
    std::u16string text =
        Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    auto nul = text.find(u'\0');
    if (nul != std::u16string::npos) text.resize(nul);
    return text;
}

std::u16string BytesToHex(ByteSpan bytes) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        if (b == 0) break;
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

Bytes HexToBytes(const std::u16string& text) {
    Bytes out;
    out.reserve(text.size() / 2 + 2);
    for (std::size_t k = 0; k < text.size(); k += 2) {
        // A lone last character of an odd-length text is read on its own.
        std::u16string pair = u"$" + text.substr(k, 2);
        out.push_back(static_cast<std::uint8_t>(StrToIntOrZero(pair) & 0xFF));
    }
    out.push_back(0);
    return out;
}

std::u16string EncodeHexUtf8(const std::u16string& text) { return BytesToHex(TextToUtf8Bytes(text)); }

std::u16string DecodeHexUtf8(const std::u16string& text) { return Utf8BytesToText(HexToBytes(text)); }

std::int32_t TextPos(const std::u16string& sub, const std::u16string& text) {
    // An empty pattern is never found, as with the classic Pos.
    if (sub.empty()) return -1;
    auto pos = text.find(sub);
    if (pos == std::u16string::npos || pos > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return -1;
    return static_cast<std::int32_t>(pos);
}

std::u16string TextFrom(const std::u16string& text, std::int32_t start) {
    if (start < 0) start = 0;
    if (static_cast<std::size_t>(start) >= text.size()) return {};
    return text.substr(static_cast<std::size_t>(start));
}

std::u16string TextMid(const std::u16string& text, std::int32_t start, std::int32_t count) {
    if (start < 0) start = 0;
    if (count <= 0 || static_cast<std::size_t>(start) >= text.size()) return {};
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count));
}

std::u16string RepeatText(const std::u16string& text, std::int32_t n) {
    std::u16string out;
    if (n <= 0 || text.empty()) return out;
    out.reserve(text.size() * static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) out += text;
    return out;
}

std::u16string ToUpperText(const std::u16string& text) { return textconv::ToUpper(text); }

std::u16string ToLowerText(const std::u16string& text) { return textconv::ToLower(text); }

std::u16string IntToText(std::int32_t value) { return AsciiToText(std::to_string(value)); }

std::int32_t StrToIntOrZero(const std::u16string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == u'$') {
        base = 16;
        ++i;
    }
    if (i >= n) return 0;
    // Magnitude limit: 2^31 - 1, or 2^31 for a negative value.
    const std::uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
    std::uint64_t value = 0;
    for (; i < n; ++i) {
        int d = (base == 16) ? HexDigit(text[i]) : ((text[i] >= u'0' && text[i] <= u'9') ? text[i] - u'0' : -1);
        if (d < 0) return 0;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        if (value > limit) return 0;
    }
    std::int64_t signedValue = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
    return static_cast<std::int32_t>(signedValue);
}

std::u16string FloatToText(double value) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    if (res.ec != std::errc()) return u"0";
    // Always with a full stop, whatever the locale: the text is read back by
    // StrToFloatOrZero, which accepts nothing else.
    std::u16string out;
    out.reserve(static_cast<std::size_t>(res.ptr - buf));
    for (const char* c = buf; c != res.ptr; ++c) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*c)));
    return out;
}

double StrToFloatOrZero(const std::u16string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Only digits, one decimal point and an exponent: no "inf", "nan" or
    // hexadecimal forms, and nothing may follow the number.
    if (i >= n || !((text[i] >= u'0' && text[i] <= u'9') || text[i] == u'.')) return 0.0;
    std::string ascii;
    ascii.reserve(n - i);
    for (; i < n; ++i) {
        char16_t c = text[i];
        bool allowed = (c >= u'0' && c <= u'9') || c == u'.' || c == u'e' || c == u'E' || c == u'+' || c == u'-';
        if (!allowed) return 0.0;
        ascii.push_back(static_cast<char>(c));
    }
    double value = 0.0;
    auto res = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != ascii.data() + ascii.size()) return 0.0;
    return negative ? -value : value;
}

}  // namespace tervalo
