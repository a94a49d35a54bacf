// The archive primitives of the Jw_cad formats: archive strings (ANSI and
// Unicode forms), count words, class tag words and the 13- or 15-byte entity
// attribute with its old-version mapping. Both the JWW and the JWS containers
// use these; the version, the output options and the Unicode flag are passed
// in by the container.
#pragma once

#include <cstdint>
#include <string>

#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "model/records.h"

namespace tervalo {

// Reading side: the file's version and the container's Unicode flag.
class ArchiveIn {
public:
    ArchiveIn(ByteReader& reader, std::int32_t version, bool& mojiEncode)
        : r(reader), version_(version), mojiEncode_(mojiEncode) {}

    ByteReader& r;
    std::int32_t version() const { return version_; }

    // One archive string in any of its four forms; UTF-16 code units are kept
    // exactly as stored. Sets the Unicode flag when the Unicode marker is seen.
    std::u16string StrIn();
    // StrIn, then every character below U+0020 removed.
    std::u16string NameIn();
    // A count word: u16, or 0xFFFF followed by a u32.
    std::uint32_t CountIn();
    // The attribute in the form of the file's version (13 bytes below 351).
    TEntJwwAttr AttrIn();

private:
    std::int32_t version_;
    bool& mojiEncode_;
};

// Writing side: the target version and the output option bits.
class ArchiveOut {
public:
    ArchiveOut(ByteWriter& writer, std::int32_t ver, std::int32_t fileOutOpt)
        : w(writer), ver_(ver), fileOutOpt_(fileOutOpt) {}

    ByteWriter& w;
    std::int32_t ver() const { return ver_; }
    std::int32_t fileOutOpt() const { return fileOutOpt_; }

    // One archive string; the Unicode forms when option bit 0x20 is set.
    // Throws IoError when the text is too long for the archive forms
    // (65 534 code page 932 bytes or more, 65 536 code units or more), so a
    // corrupt length is never written.
    void StrOut(const std::u16string& text);
    void CountOut(std::uint32_t n);
    void ClassTagOut(std::uint32_t index);
    // Writes the attribute of a record of the given kind code after the
    // old-version mapping and the range checks; the record is not changed.
    void AttrOut(const TEntJwwAttr& attr, std::int32_t kind);

private:
    std::int32_t ver_;
    std::int32_t fileOutOpt_;
};

// The attribute as AttrOut would write it for version `ver` (mapping and checks
// applied); exposed for tests and for comparing models across a re-write.
TEntJwwAttr MapAttrForOutput(const TEntJwwAttr& attr, std::int32_t ver, std::int32_t kind);

// Fallback pen style and colour used for values a file may not carry.
inline constexpr std::uint8_t kFallbackPenStyle = 1;
inline constexpr std::uint16_t kFallbackPenColor = 1;

// Option bits of FileOutOpt.
inline constexpr std::int32_t kOutOptUnicode = 0x20;

}  // namespace tervalo
