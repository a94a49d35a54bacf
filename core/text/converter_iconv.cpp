// Code page 932 through iconv and casing through ICU: the text services on
// Linux and other POSIX systems.
#include "text/converter.h"

#include <iconv.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <cerrno>

namespace tervalo::textconv {

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

std::u16string FromIcu(const icu::UnicodeString& u) {
    return std::u16string(reinterpret_cast<const char16_t*>(u.getBuffer()), static_cast<std::size_t>(u.length()));
}

icu::UnicodeString ToIcu(const std::u16string& text) {
    return icu::UnicodeString(reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()));
}

}  // namespace

std::u16string DecodeCp932(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    if (bytes.empty()) return text;
    Converter& conv = DecoderCp932();
    if (!conv.ok()) {
        for (std::uint8_t b : bytes) text.push_back(b < 0x80 ? static_cast<char16_t>(b) : kReplacement);
        return text;
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
    return text;
}

std::vector<std::uint8_t> EncodeCp932(const std::u16string& text) {
    std::vector<std::uint8_t> result;
    if (text.empty()) return result;
    Converter& conv = EncoderCp932();
    if (!conv.ok()) {
        // No converter: keep ASCII, substitute the rest.
        for (char16_t c : text) result.push_back(c < 0x80 ? static_cast<std::uint8_t>(c) : kAnsiSubstitute);
        return result;
    }
    conv.reset();
    std::string src;
    src.reserve(text.size() * 2);
    for (char16_t c : text) {
        src.push_back(static_cast<char>(c & 0xFF));
        src.push_back(static_cast<char>(c >> 8));
    }
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

std::u16string ToUpper(const std::u16string& text) {
    if (text.empty()) return {};
    icu::UnicodeString u = ToIcu(text);
    u.toUpper(icu::Locale::getDefault());
    return FromIcu(u);
}

std::u16string ToLower(const std::u16string& text) {
    if (text.empty()) return {};
    icu::UnicodeString u = ToIcu(text);
    u.toLower(icu::Locale::getDefault());
    return FromIcu(u);
}

std::u16string FoldCase(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        UChar32 c = text[i];
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        c = u_foldCase(c, U_FOLD_CASE_DEFAULT);
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::u16string LibraryNotice() { return u"ICU（Unicode License）"; }

}  // namespace tervalo::textconv
