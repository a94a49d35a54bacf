#include "text/encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

namespace tervalo {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';
constexpr std::uint8_t kAnsiSubstitute = 0x3F;  // '?'

// One iconv descriptor per direction and thread, opened on first use and
// reused; the state is reset before each conversion.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }
    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t cd_;
};

Converter& DecoderCp932() {
    thread_local Converter c("UTF-16LE", "CP932");
    return c;
}

Converter& EncoderCp932() {
    thread_local Converter c("CP932", "UTF-16LE");
    return c;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::u16string CutAtNul(std::u16string s) {
    auto pos = s.find(u'\0');
    if (pos != std::u16string::npos) s.resize(pos);
    return s;
}

// Runs the converter over [in, in + inLeft) into `out`, growing it as needed.
// Returns the iconv error that stopped the conversion (0 when all input was
// consumed); `in`/`inLeft` are advanced past what was converted.
int ConvertChunk(iconv_t cd, char*& in, std::size_t& inLeft, std::string& out) {
    for (;;) {
        std::size_t used = out.size();
        std::size_t room = inLeft * 4 + 16;
        out.resize(used + room);
        char* dst = out.data() + used;
        std::size_t dstLeft = room;
        std::size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        int err = (r == static_cast<std::size_t>(-1)) ? errno : 0;
        out.resize(used + (room - dstLeft));
        if (err == E2BIG) continue;
        return err;
    }
}

void AppendUtf16Le(std::u16string& text, const std::string& bytes) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                             (static_cast<std::uint8_t>(bytes[i + 1]) << 8)));
    }
}

// Encodes the text to code page 932 without cutting at NUL. Characters that
// code page 932 lacks, and unpaired surrogates, become one '?' each (a valid
// surrogate pair counts as one character).
Bytes EncodeCp932(const std::u16string& text) {
    Bytes result;
    if (text.empty()) return result;
    Converter& conv = EncoderCp932();
    if (!conv.ok()) {
        // No converter: keep ASCII, substitute the rest.
        for (char16_t c : text) result.push_back(c < 0x80 ? static_cast<std::uint8_t>(c) : kAnsiSubstitute);
        return result;
    }
    conv.reset();
    const Bytes utf16 = TextToUtf16Bytes(text);
    std::string src(utf16.begin(), utf16.end());
    char* in = src.data();
    std::size_t inLeft = src.size();
    std::string out;
    while (inLeft > 0) {
        int err = ConvertChunk(conv.get(), in, inLeft, out);
        if (err == 0) break;
        // An unrepresentable character or a broken surrogate at `in`: emit the
        // substitute and step over the whole character.
        std::size_t index = (src.size() - inLeft) / 2;
        std::size_t skip = 2;
        if (index < text.size() && IsHighSurrogate(text[index]) && index + 1 < text.size() &&
            IsLowSurrogate(text[index + 1])) {
            skip = 4;
        }
        if (skip > inLeft) skip = inLeft;
        out.push_back(static_cast<char>(kAnsiSubstitute));
        in += skip;
        inLeft -= skip;
        conv.reset();
    }
    result.assign(out.begin(), out.end());
    return result;
}

}  // namespace

Bytes TextToAnsiBytes(const std::u16string& text) { return EncodeCp932(text); }

std::u16string AnsiBytesToText(ByteSpan bytes) {
    std::u16string text;
    if (bytes.empty()) return text;
    // Only the part before the first zero byte can survive the cut at NUL:
    // code page 932 never uses a zero byte inside a double-byte character.
    bytes = bytes.first(static_cast<std::size_t>(ZeroTermLength(bytes)));
    if (bytes.empty()) return text;
    Converter& conv = DecoderCp932();
    if (!conv.ok()) {
        for (std::uint8_t b : bytes) text.push_back(b < 0x80 ? static_cast<char16_t>(b) : kReplacement);
        return CutAtNul(std::move(text));
    }
    conv.reset();
    std::string src(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    char* in = src.data();
    std::size_t inLeft = src.size();
    std::string out;
    while (inLeft > 0) {
        int err = ConvertChunk(conv.get(), in, inLeft, out);
        if (err == 0) break;
        // EILSEQ (invalid byte) or EINVAL (lead byte cut off at the end): one
        // replacement character for the offending byte, then carry on.
        AppendUtf16Le(text, out);
        out.clear();
        text.push_back(kReplacement);
        ++in;
        --inLeft;
        conv.reset();
    }
    AppendUtf16Le(text, out);
    return CutAtNul(std::move(text));
}

std::int32_t AnsiByteLength(const std::u16string& text) {
    std::u16string head = CutAtNul(text);
    std::size_t n = EncodeCp932(head).size();
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

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    auto put = [&out](char32_t cp) {
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
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            put(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            put(kReplacement);
        } else {
            put(c);
        }
    }
    return out;
}

}  // namespace tervalo
