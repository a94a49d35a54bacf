#include "archive/archive.h"

#include "text/encoding.h"

namespace tervalo {

namespace {

std::uint8_t MapPenStyleOld(std::uint8_t s) {
    static constexpr std::uint8_t table[] = {1, 4, 3, 6, 8, 8, 2, 5, 7, 6, 6, 8, 8, 17, 17};  // 31..45
    if (s >= 31 && s <= 45) return table[s - 31];
    if (s >= 46 && s <= 62) return kFallbackPenStyle;
    return s;
}

std::uint16_t MapPenColorOld(std::uint16_t c) {
    static constexpr std::uint16_t table[] = {2, 8, 3, 6, 4, 5, 1, 2, 5, 8, 4, 3, 6, 5, 2, 2};  // 101..116
    if (c >= 101 && c <= 116) return table[c - 101];
    if (c >= 117 && c <= 356) return kFallbackPenColor;
    return c;
}

bool InRange(int v, int lo, int hi) { return v >= lo && v <= hi; }

}  // namespace

std::u16string ArchiveIn::StrIn() {
    std::uint8_t b = r.u8();
    if (b != 0xFF) return AnsiBytesToText(r.bytes(b));
    std::uint16_t w = r.u16();
    if (w != 0xFFFE) return AnsiBytesToText(r.bytes(w));
    mojiEncode_ = true;
    std::uint32_t c = r.u8();
    if (c == 0xFF) c = r.u16();
    // The code units are kept exactly as stored, up to a NUL.
    return Utf16BytesToText(r.bytes(std::size_t{2} * c));
}

std::u16string ArchiveIn::NameIn() { return StripControlChars(StrIn()); }

std::uint32_t ArchiveIn::CountIn() {
    std::uint16_t n = r.u16();
    if (n != 0xFFFF) return n;
    return r.u32();
}

TEntJwwAttr ArchiveIn::AttrIn() {
    TEntJwwAttr a;
    a.lGroup = r.u32();
    a.nPenStyle = r.u8();
    a.nPenColor = r.u16();
    if (version_ >= 351) a.nPenWidth = r.u16();
    a.nLayer = r.u16();
    a.nGLayer = r.u16();
    a.sFlg = r.u16();
    return a;
}

void ArchiveOut::StrOut(const std::u16string& text) {
    if (fileOutOpt_ & kOutOptUnicode) {
        const std::size_t c = text.size();
        if (c >= 65536) throw IoError(kFileIoError, "a text of 65 536 or more code units cannot be stored");
        w.u8(0xFF);
        w.u16(0xFFFE);
        if (c < 255) {
            w.u8(static_cast<std::uint8_t>(c));
        } else {
            w.u8(0xFF);
            w.u16(static_cast<std::uint16_t>(c));
        }
        for (char16_t ch : text) w.u16(ch);
        return;
    }
    // Only the text before a NUL is stored, as its code page 932 bytes.
    std::u16string head = text.substr(0, text.find(u'\0'));
    Bytes ansi = TextToAnsiBytes(head);
    const std::size_t l = ansi.size();
    if (l >= 65534) throw IoError(kFileIoError, "a text of 65 534 or more bytes cannot be stored");
    if (l < 255) {
        w.u8(static_cast<std::uint8_t>(l));
    } else {
        w.u8(0xFF);
        w.u16(static_cast<std::uint16_t>(l));
    }
    w.bytes(ansi);
}

void ArchiveOut::CountOut(std::uint32_t n) {
    if (n < 0xFFFF) {
        w.u16(static_cast<std::uint16_t>(n));
    } else {
        w.u16(0xFFFF);
        w.u32(n);
    }
}

void ArchiveOut::ClassTagOut(std::uint32_t index) {
    if (index < 0x7FFF) {
        w.u16(static_cast<std::uint16_t>(0x8000 + index));
    } else {
        w.u16(0x7FFF);
        w.u32(index | 0x80000000u);
    }
}

TEntJwwAttr MapAttrForOutput(const TEntJwwAttr& attr, std::int32_t ver, std::int32_t kind) {
    TEntJwwAttr a = attr;
    if (ver < 420) {
        if (kind == kKindLine || kind == kKindEnko) a.nPenStyle = MapPenStyleOld(a.nPenStyle);
        if (kind >= kKindLine && kind <= kKindSolid) a.nPenColor = MapPenColorOld(a.nPenColor);
    }
    const int s = a.nPenStyle;
    switch (kind) {
        case kKindLine:
        case kKindEnko:
            if (!(InRange(s, 1, 9) || InRange(s, 11, 19) || InRange(s, 31, 62))) a.nPenStyle = kFallbackPenStyle;
            break;
        case kKindTen:
            if (s != 1 && s != kMarkerPenStyle) a.nPenStyle = kFallbackPenStyle;
            break;
        case kKindMoji:
            if (!InRange(s, 1, 9)) a.nPenStyle = kFallbackPenStyle;
            break;
        default:
            break;
    }
    const int c = a.nPenColor;
    if (kind >= kKindLine && kind <= kKindSunpo) {
        if (!(InRange(c, 1, 9) || InRange(c, 101, 356))) a.nPenColor = kFallbackPenColor;
    } else if (kind == kKindSolid) {
        if (!(InRange(c, 1, 10) || InRange(c, 101, 356))) a.nPenColor = kFallbackPenColor;
    }
    if (a.nLayer > 15) a.nLayer = 0;
    if (a.nGLayer > 15) a.nGLayer = 0;
    if (a.nPenWidth > 30000) a.nPenWidth = 0;
    if (ver < 351) a.nPenWidth = 0;
    return a;
}

void ArchiveOut::AttrOut(const TEntJwwAttr& attr, std::int32_t kind) {
    const TEntJwwAttr a = MapAttrForOutput(attr, ver_, kind);
    w.u32(a.lGroup);
    w.u8(a.nPenStyle);
    w.u16(a.nPenColor);
    if (ver_ >= 351) w.u16(a.nPenWidth);
    w.u16(a.nLayer);
    w.u16(a.nGLayer);
    w.u16(a.sFlg);
}

}  // namespace tervalo
