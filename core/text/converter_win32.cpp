// Code page 932 and casing through the Windows national-language functions:
// MultiByteToWideChar / WideCharToMultiByte with code page 932 (the code page
// the drawing program itself uses) and LCMapStringEx with the user's locale.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "text/converter.h"

namespace tervalo::textconv {

namespace {

constexpr UINT kCodePage = 932;
constexpr char16_t kReplacement = u'\uFFFD';
constexpr std::uint8_t kAnsiSubstitute = 0x3F;  // '?'

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

const wchar_t* Wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

// Decodes bytes that must all be valid; false when any is not.
bool DecodeStrict(const std::uint8_t* bytes, int n, std::u16string& out) {
    const auto* in = reinterpret_cast<const char*>(bytes);
    const int len = ::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, in, n, nullptr, 0);
    if (len <= 0) return false;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(len));
    if (::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, in, n, reinterpret_cast<wchar_t*>(out.data() + at),
                              len) != len) {
        out.resize(at);
        return false;
    }
    return true;
}

// Encodes text that must all be representable exactly; false when any
// character is not (no look-alike "best fit" replacements are taken).
bool EncodeStrict(const char16_t* text, int n, std::vector<std::uint8_t>& out) {
    BOOL usedDefault = FALSE;
    const int len = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, Wide(text), n, nullptr, 0, nullptr,
                                          &usedDefault);
    if (len <= 0 || usedDefault) return false;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(len));
    if (::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, Wide(text), n,
                              reinterpret_cast<char*>(out.data() + at), len, nullptr, &usedDefault) != len ||
        usedDefault) {
        out.resize(at);
        return false;
    }
    return true;
}

std::u16string MapCase(const std::u16string& text, DWORD flags) {
    if (text.empty()) return {};
    const int n = static_cast<int>(text.size());
    const int len = ::LCMapStringEx(LOCALE_NAME_USER_DEFAULT, flags, Wide(text.data()), n, nullptr, 0, nullptr,
                                    nullptr, 0);
    if (len <= 0) return text;
    std::u16string out(static_cast<std::size_t>(len), u'\0');
    if (::LCMapStringEx(LOCALE_NAME_USER_DEFAULT, flags, Wide(text.data()), n,
                        reinterpret_cast<wchar_t*>(out.data()), len, nullptr, nullptr, 0) != len)
        return text;
    return out;
}

}  // namespace

std::u16string DecodeCp932(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    if (bytes.empty()) return text;
    text.reserve(bytes.size());
    // Most text is valid as a whole: one call.
    if (bytes.size() <= 0x7FFFFFFF && DecodeStrict(bytes.data(), static_cast<int>(bytes.size()), text)) return text;
    text.clear();
    // Otherwise character by character: a lead byte takes its trail byte
    // with it; what does not decode becomes U+FFFD for its first byte, and
    // decoding resumes right after that byte.
    std::size_t i = 0;
    while (i < bytes.size()) {
        const bool lead = ::IsDBCSLeadByteEx(kCodePage, bytes[i]) != 0;
        const std::size_t n = lead && i + 1 < bytes.size() ? 2 : 1;
        if (lead && n == 1) {
            text.push_back(kReplacement);  // a lead byte cut off at the end
            ++i;
        } else if (DecodeStrict(bytes.data() + i, static_cast<int>(n), text)) {
            i += n;
        } else {
            text.push_back(kReplacement);
            ++i;
        }
    }
    return text;
}

std::vector<std::uint8_t> EncodeCp932(const std::u16string& text) {
    std::vector<std::uint8_t> out;
    if (text.empty()) return out;
    out.reserve(text.size() * 2);
    if (text.size() <= 0x7FFFFFFF && EncodeStrict(text.data(), static_cast<int>(text.size()), out)) return out;
    out.clear();
    // Character by character (a surrogate pair is one character): each one
    // that code page 932 lacks becomes one '?'.
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t n =
            IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
        if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]) ||
            !EncodeStrict(text.data() + i, static_cast<int>(n), out))
            out.push_back(kAnsiSubstitute);
        i += n;
    }
    return out;
}

std::u16string ToUpper(const std::u16string& text) { return MapCase(text, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING); }

std::u16string ToLower(const std::u16string& text) { return MapCase(text, LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING); }

std::u16string FoldCase(const std::u16string& text) {
    // Lower-casing without the locale's special rules is the folding the
    // system itself uses for names.
    if (text.empty()) return {};
    const int n = static_cast<int>(text.size());
    std::u16string out(text.size(), u'\0');
    if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, Wide(text.data()), n,
                        reinterpret_cast<wchar_t*>(out.data()), n, nullptr, nullptr, 0) != n)
        return text;
    return out;
}

std::u16string LibraryNotice() { return {}; }

}  // namespace tervalo::textconv
