// The archive primitives of the Jw_cad formats: archive strings (ANSI and
// Unicode forms), count words, class tag words and the 13- or 15-byte entity
// attribute with its old-version mapping. Both the JWW and the JWS containers
// use these; the version, the output options and the Unicode flag are passed
// in by the container.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "archive/fields.h"
#include "model/drawing_body.h"
#include "model/records.h"

namespace tervalo {

// Reading side: the file's version and the container's Unicode flag.
class ArchiveIn {
public:
    ArchiveIn(ByteReader& reader, std::int32_t version, bool& mojiEncode, StoredStrings* stored = nullptr)
        : r(reader), version_(version), mojiEncode_(mojiEncode), stored_(stored) {}

    ByteReader& r;
    std::int32_t version() const { return version_; }

    // One archive string in any of its four forms; UTF-16 code units are kept
    // exactly as stored. Sets the Unicode flag when the Unicode marker is seen.
    // With `keep` (and stored strings given), a string that holds no control
    // character or NUL keeps its archive bytes there.
    std::u16string StrIn(StoredString* keep = nullptr);
    // StrIn, then every character below U+0020 removed.
    std::u16string NameIn(StoredString* keep = nullptr);
    // NameIn, except that a text of code page 932 beyond ASCII that keeps its
    // bytes is left undecoded: the result is empty, `deferred` holds the size
    // of its text bytes (the end of the kept bytes), and the caller decodes it
    // later (many at once, which costs the converter far less) and calls
    // Kept(). `deferred` is 0 for a text decoded here.
    std::u16string NameInDeferred(StoredString& keep, std::uint32_t& deferred);
    // Completes the kept form of a text decoded later.
    void Kept(const std::u16string& text, StoredString& keep) const;
    const StoredStrings* stored() const { return stored_; }
    // Where the strings read from now on keep their bytes (nullptr: nowhere);
    // returns where they went before.
    StoredStrings* KeepStringsIn(StoredStrings* stored) {
        std::swap(stored, stored_);
        return stored;
    }
    // While set, strings are only passed over (the Unicode marker still
    // counts): their text is left empty and nothing is kept, for a read that
    // counts records without looking at their texts.
    void PassOverTexts(bool on) { passOver_ = on; }
    // A count word: u16, or 0xFFFF followed by a u32.
    std::uint32_t CountIn();
    // The attribute in the form of the file's version (13 bytes below 351).
    TEntJwwAttr AttrIn();

private:
    std::u16string ReadString(StoredString* keep, std::uint32_t* deferred);
    std::int32_t version_;
    bool& mojiEncode_;
    StoredStrings* stored_;
    bool passOver_ = false;
};

// Writing side: the target version and the output option bits.
class ArchiveOut {
public:
    ArchiveOut(ByteWriter& writer, std::int32_t ver, std::int32_t fileOutOpt,
               const StoredStrings* stored = nullptr)
        : w(writer), ver_(ver), fileOutOpt_(fileOutOpt), stored_(stored) {}

    ByteWriter& w;
    std::int32_t ver() const { return ver_; }
    std::int32_t fileOutOpt() const { return fileOutOpt_; }

    // One archive string; the Unicode forms when option bit 0x20 is set.
    // Throws IoError when the text is too long for the archive forms
    // (65 534 code page 932 bytes or more, 65 536 code units or more), so a
    // corrupt length is never written.
    void StrOut(const std::u16string& text);
    // The same, but a text that is still the one read into `kept`, in the
    // form it was stored in, is written with exactly its stored bytes.
    void StrOut(const std::u16string& text, const StoredString& kept);
    void CountOut(std::uint32_t n);
    void ClassTagOut(std::uint32_t index);
    // Writes the attribute of a record of the given kind code after the
    // old-version mapping and the range checks; the record is not changed.
    void AttrOut(const TEntJwwAttr& attr, std::int32_t kind);

private:
    std::int32_t ver_;
    std::int32_t fileOutOpt_;
    const StoredStrings* stored_;
};

// Fallback pen style and colour used for values a file may not carry.
inline constexpr std::uint8_t kFallbackPenStyle = 1;
inline constexpr std::uint16_t kFallbackPenColor = 1;

// The attribute as AttrOut would write it for version `ver` (mapping and checks
// applied); exposed for tests and for comparing models across a re-write.
// Inline, as every record written goes through it.
TERVALO_INLINE TEntJwwAttr MapAttrForOutput(const TEntJwwAttr& attr, std::int32_t ver, std::int32_t kind) {
    auto in = [](int v, int lo, int hi) { return v >= lo && v <= hi; };
    TEntJwwAttr a = attr;
    if (ver < 420) {
        static constexpr std::uint8_t styles[] = {1, 4, 3, 6, 8, 8, 2, 5, 7, 6, 6, 8, 8, 17, 17};  // 31..45
        static constexpr std::uint16_t colors[] = {2, 8, 3, 6, 4, 5, 1, 2, 5, 8, 4, 3, 6, 5, 2, 2};  // 101..116
        if (kind == kKindLine || kind == kKindEnko) {
            if (in(a.nPenStyle, 31, 45)) a.nPenStyle = styles[a.nPenStyle - 31];
            else if (in(a.nPenStyle, 46, 62)) a.nPenStyle = kFallbackPenStyle;
        }
        if (kind >= kKindLine && kind <= kKindSolid) {
            if (in(a.nPenColor, 101, 116)) a.nPenColor = colors[a.nPenColor - 101];
            else if (in(a.nPenColor, 117, 356)) a.nPenColor = kFallbackPenColor;
        }
    }
    const int s = a.nPenStyle;
    switch (kind) {
        case kKindLine:
        case kKindEnko:
            if (!(in(s, 1, 9) || in(s, 11, 19) || in(s, 31, 62))) a.nPenStyle = kFallbackPenStyle;
            break;
        case kKindTen:
            if (s != 1 && s != kMarkerPenStyle) a.nPenStyle = kFallbackPenStyle;
            break;
        case kKindMoji:
            if (!in(s, 1, 9)) a.nPenStyle = kFallbackPenStyle;
            break;
        default:
            break;
    }
    const int c = a.nPenColor;
    if (kind >= kKindLine && kind <= kKindSunpo) {
        if (!(in(c, 1, 9) || in(c, 101, 356))) a.nPenColor = kFallbackPenColor;
    } else if (kind == kKindSolid) {
        if (!(in(c, 1, 10) || in(c, 101, 356))) a.nPenColor = kFallbackPenColor;
    }
    if (a.nLayer > 15) a.nLayer = 0;
    if (a.nGLayer > 15) a.nGLayer = 0;
    if (a.nPenWidth > 30000 || ver < 351) a.nPenWidth = 0;
    return a;
}

// Text sizes are stored as magnitudes from 1e-10 to 1e10; sizes and spacing
// read that are not numbers (they would poison every later use) become 3
// and 0. For Adjust and OnRead in record descriptions.
inline constexpr auto kTextSizeOut = [](double v) {
    v = std::fabs(v);
    if (v < 1e-10) return 1e-10;
    if (v > 1e10) return 1e10;
    return v;
};
inline constexpr auto kTextSizeIn = [](double v) { return std::isfinite(v) ? v : 3.0; };
inline constexpr auto kTextSpacingIn = [](double v) { return std::isfinite(v) ? v : 0.0; };

// Option bits of FileOutOpt.
inline constexpr std::int32_t kOutOptUnicode = 0x20;

// First version whose attribute holds the pen width.
inline constexpr std::int32_t kFirstPenWidthVersion = 351;

// The text as CleanNameText makes it: `text` itself when cleaning changes
// nothing (the usual case, without a copy), else the cleaned copy, kept in
// `scratch`.
const std::u16string& Cleaned(const std::u16string& text, std::u16string& scratch);

// The reading cursor of record descriptions (see fields.h): fills the record
// from the archive.
class FieldReader {
public:
    static constexpr bool kReading = true;
    static constexpr bool kWriting = false;

    explicit FieldReader(ArchiveIn& in) : in_(in) {}

    std::int32_t version() const { return in_.version(); }
    ArchiveIn& archive() { return in_; }

    template <typename... F>
    TERVALO_INLINE void Fields(F&&... f) {
        ReadFields(in_.r, f...);
    }
    // The attribute of a record of `kind`, as it is stored, and the fields after it.
    template <typename... F>
    TERVALO_INLINE void Record(TEntJwwAttr& a, std::int32_t, F&&... f) {
        ReadAttrFields(in_.r, in_.version() >= kFirstPenWidthVersion, a, f...);
    }
    // Bytes that carry nothing: skipped here, written as `fill`.
    void Filler(std::size_t n, std::uint8_t) { in_.r.skip(n); }
    // A string as stored; a name loses its control characters. `fallback`
    // gives the name written in place of a blank one.
    void Str(std::u16string& s, StoredString& keep) { s = in_.StrIn(&keep); }
    void Name(std::u16string& s, StoredString& keep) { s = in_.NameIn(&keep); }
    template <typename Fallback>
    void Name(std::u16string& s, StoredString& keep, Fallback&&) {
        Name(s, keep);
    }

private:
    ArchiveIn& in_;
};

// The writing cursor of record descriptions: stores the record for the
// target version; the record is not changed.
class FieldWriter {
public:
    static constexpr bool kReading = false;
    static constexpr bool kWriting = true;

    explicit FieldWriter(ArchiveOut& out) : out_(out) {}

    std::int32_t version() const { return out_.ver(); }
    ArchiveOut& archive() { return out_; }

    template <typename... F>
    TERVALO_INLINE void Fields(const F&... f) {
        WriteFields(out_.w, f...);
    }
    // The attribute after the old-version mapping and the range checks, and
    // the fields after it.
    template <typename... F>
    TERVALO_INLINE void Record(const TEntJwwAttr& a, std::int32_t kind, const F&... f) {
        WriteAttrFields(out_.w, out_.ver() >= kFirstPenWidthVersion, MapAttrForOutput(a, out_.ver(), kind), f...);
    }
    void Filler(std::size_t n, std::uint8_t fill) { out_.w.fill(n, fill); }
    void Str(const std::u16string& s, const StoredString& keep) { out_.StrOut(s, keep); }
    void Name(const std::u16string& s, const StoredString& keep) { out_.StrOut(Cleaned(s, scratch_), keep); }
    template <typename Fallback>
    void Name(const std::u16string& s, const StoredString& keep, Fallback&& fallback) {
        if (IsBlank(s))
            out_.StrOut(Cleaned(fallback(), scratch_), keep);
        else
            Name(s, keep);
    }

private:
    static bool IsBlank(const std::u16string& s);
    ArchiveOut& out_;
    std::u16string scratch_;
};

}  // namespace tervalo
