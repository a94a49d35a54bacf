#include "archive/archive.h"

#include <cstring>

#include "text/encoding.h"

namespace tervalo {

namespace {

bool IsUnicodeForm(const std::uint8_t* p, std::size_t size) {
    return size >= 4 && p[0] == 0xFF && p[1] == 0xFE && p[2] == 0xFF;
}

// The length of the prefix of a kept archive string at p (`size` bytes).
std::size_t PrefixSize(const std::uint8_t* p, std::size_t size) {
    if (IsUnicodeForm(p, size)) return size >= 6 && p[3] == 0xFF ? 6 : 4;
    return size >= 3 && p[0] == 0xFF ? 3 : 1;
}

// Whether the string of `owner`, of this read, still holds `text`: the
// text is compared with what was read, unit for unit. The text of the
// UTF-16 form and of code page 932 text in ASCII is its stored bytes
// themselves; the text of other code page 932 bytes follows them (`units`).
bool StillStored(const StoredStrings& s, const StoredString& k, const std::u16string& text) {
    if (k.owner != static_cast<std::uint32_t>(s.id) ||
        std::uint64_t{k.offset} + k.size + std::uint64_t{2} * k.units > s.bytes.size())
        return false;
    const std::uint8_t* p = s.bytes.data() + k.offset;
    const std::size_t prefix = PrefixSize(p, k.size);
    if (prefix > k.size) return false;
    const std::uint8_t* payload = p + prefix;
    const std::size_t n = k.size - prefix;
    if (IsUnicodeForm(p, k.size)) {
        if (text.size() * 2 != n) return false;
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] != static_cast<char16_t>(payload[2 * i] | (payload[2 * i + 1] << 8))) return false;
        return true;
    }
    if (k.units) return text.size() == k.units && std::memcmp(p + k.size, text.data(), 2 * text.size()) == 0;
    if (text.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (payload[i] >= 0x80 || text[i] != payload[i]) return false;
    return true;
}

}  // namespace

std::u16string ArchiveIn::StrIn(StoredString* keep) { return ReadString(keep, nullptr); }

std::u16string ArchiveIn::NameInDeferred(StoredString& keep, std::uint32_t& deferred) {
    deferred = 0;
    std::u16string text = ReadString(&keep, &deferred);
    if (deferred || keep.size) return text;
    return StripControlChars(text);
}

void ArchiveIn::Kept(const std::u16string& text, StoredString& keep) const {
    if (!stored_ || !keep.size) return;
    // The bytes of the text got room for as many units as they have bytes
    // (code page 932 never gives more); a text that does not fit is not kept.
    const std::size_t end = std::size_t{keep.offset} + keep.size;
    if (end > stored_->bytes.size()) return;
    const std::size_t room = keep.size - PrefixSize(stored_->bytes.data() + keep.offset, keep.size);
    if (text.size() > room || end + 2 * room > stored_->bytes.size()) {
        keep = StoredString{};
        return;
    }
    std::memcpy(stored_->bytes.data() + end, text.data(), 2 * text.size());
    keep.units = static_cast<std::uint32_t>(text.size());
}

std::u16string ArchiveIn::ReadString(StoredString* keep, std::uint32_t* deferred) {
    // The length prefix is rebuilt from the values read, as the window may
    // have moved on by the time the text itself is read.
    std::uint8_t prefix[6];
    std::size_t prefixSize = 0;
    std::uint8_t b = r.u8();
    prefix[prefixSize++] = b;
    std::u16string text;
    bool clean = true;  // no control character and no NUL: the text is all of the bytes
    std::span<const std::uint8_t> payload;
    bool unicode = false;
    bool ascii = true;
    std::size_t ansiLength = b;
    if (b == 0xFF) {
        const std::uint16_t w = r.u16();
        prefix[prefixSize++] = static_cast<std::uint8_t>(w);
        prefix[prefixSize++] = static_cast<std::uint8_t>(w >> 8);
        ansiLength = w;
        unicode = w == 0xFFFE;
    }
    if (passOver_) {
        if (keep) *keep = StoredString{};
        if (!unicode) {
            r.skip(ansiLength);
            return text;
        }
        mojiEncode_ = true;
        std::uint32_t c = r.u8();
        if (c == 0xFF) c = r.u16();
        r.skip(std::size_t{2} * c);
        return text;
    }
    if (!unicode) {
        payload = r.bytes(ansiLength);
        for (std::uint8_t c : payload) {
            ascii &= c < 0x80;
            clean &= c >= 0x20;
        }
        if (!ascii && clean && deferred && keep && stored_) {
            *deferred = static_cast<std::uint32_t>(payload.size());
        } else if (ascii) {
            // Code page 932 keeps the ASCII range as it is: no converter needed.
            text.resize(payload.size());
            for (std::size_t i = 0; i < payload.size(); ++i) text[i] = payload[i];
            if (!clean) text.resize(static_cast<std::size_t>(ZeroTermLength(payload)));
        } else {
            text = AnsiBytesToText(payload);
        }
    } else {
        mojiEncode_ = true;
        std::uint32_t c = r.u8();
        prefix[prefixSize++] = static_cast<std::uint8_t>(c);
        if (c == 0xFF) {
            c = r.u16();
            prefix[prefixSize++] = static_cast<std::uint8_t>(c);
            prefix[prefixSize++] = static_cast<std::uint8_t>(c >> 8);
        }
        payload = r.bytes(std::size_t{2} * c);
        // The code units are kept exactly as stored, up to a NUL.
        text.resize(c);
        std::size_t n = 0;
        for (; n < c; ++n) {
            const char16_t u = static_cast<char16_t>(payload[2 * n] | (payload[2 * n + 1] << 8));
            if (u == 0) break;
            clean &= u >= 0x20;
            text[n] = u;
        }
        if (n < c) {
            clean = false;
            text.resize(n);
        }
    }
    if (keep) {
        *keep = StoredString{};
        const std::size_t size = prefixSize + payload.size();
        // Code page 932 text beyond ASCII keeps its text after its bytes: as
        // decoded here, or room for it when it is decoded later.
        const bool later = deferred && *deferred;
        const std::size_t textBytes = later ? 2 * payload.size() : !unicode && !ascii ? 2 * text.size() : 0;
        if (clean && stored_ && stored_->bytes.size() + size + textBytes <= 0xFFFFFFFFu) {
            auto& bytes = stored_->bytes;
            keep->offset = static_cast<std::uint32_t>(bytes.size());
            keep->size = static_cast<std::uint32_t>(size);
            keep->owner = static_cast<std::uint32_t>(stored_->id);
            bytes.insert(bytes.end(), prefix, prefix + prefixSize);
            bytes.insert(bytes.end(), payload.begin(), payload.end());
            if (textBytes) {
                bytes.resize(bytes.size() + textBytes);
                if (!later) {
                    std::memcpy(bytes.data() + keep->offset + size, text.data(), textBytes);
                    keep->units = static_cast<std::uint32_t>(text.size());
                }
            }
        } else if (later) {
            // No room to keep it: decode it now after all.
            *deferred = 0;
            text = AnsiBytesToText(payload);
        }
    }
    return text;
}

std::u16string ArchiveIn::NameIn(StoredString* keep) {
    std::u16string text = StrIn(keep);
    // A text that keeps its bytes holds no control character.
    if (keep && keep->size) return text;
    return StripControlChars(text);
}

std::uint32_t ArchiveIn::CountIn() {
    std::uint16_t n = r.u16();
    if (n != 0xFFFF) return n;
    return r.u32();
}

TEntJwwAttr ArchiveIn::AttrIn() {
    TEntJwwAttr a;
    FieldReader(*this).Record(a, 0);
    return a;
}

void ArchiveOut::StrOut(const std::u16string& text, const StoredString& kept) {
    if (kept.size && stored_ && std::uint64_t{kept.offset} + kept.size <= stored_->bytes.size()) {
        const std::uint8_t* p = stored_->bytes.data() + kept.offset;
        const bool unicode = (fileOutOpt_ & kOutOptUnicode) != 0;
        if (IsUnicodeForm(p, kept.size) == unicode && StillStored(*stored_, kept, text)) {
            w.bytes({p, kept.size});
            return;
        }
    }
    StrOut(text);
}

void ArchiveOut::StrOut(const std::u16string& text) {
    if (fileOutOpt_ & kOutOptUnicode) {
        const std::size_t c = text.size();
        if (c >= 65536) throw IoError(kFileIoError, "a text of 65 536 or more code units cannot be stored");
        std::uint8_t* p = w.room(6 + 2 * c);
        *p++ = 0xFF;
        p = Store<std::uint16_t>(p, 0xFFFE);
        if (c < 255) {
            *p++ = static_cast<std::uint8_t>(c);
        } else {
            *p++ = 0xFF;
            p = Store(p, static_cast<std::uint16_t>(c));
        }
        for (char16_t ch : text) p = Store<std::uint16_t>(p, ch);
        w.commit(p);
        return;
    }
    // Only the text before a NUL is stored, as its code page 932 bytes; ASCII
    // text is its own code page 932 form.
    const std::size_t head = std::min(text.size(), text.find(u'\0'));
    bool ascii = true;
    for (std::size_t i = 0; i < head && ascii; ++i) ascii = text[i] < 0x80;
    Bytes converted;
    if (!ascii) converted = TextToAnsiBytes(text.substr(0, head));
    const std::size_t l = ascii ? head : converted.size();
    if (l >= 65534) throw IoError(kFileIoError, "a text of 65 534 or more bytes cannot be stored");
    std::uint8_t* p = w.room(3 + l);
    if (l < 255) {
        *p++ = static_cast<std::uint8_t>(l);
    } else {
        *p++ = 0xFF;
        p = Store(p, static_cast<std::uint16_t>(l));
    }
    if (ascii) {
        for (std::size_t i = 0; i < head; ++i) *p++ = static_cast<std::uint8_t>(text[i]);
    } else if (l) {
        std::memcpy(p, converted.data(), l);
        p += l;
    }
    w.commit(p);
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

void ArchiveOut::AttrOut(const TEntJwwAttr& attr, std::int32_t kind) {
    FieldWriter(*this).Record(attr, kind);
}

const std::u16string& Cleaned(const std::u16string& text, std::u16string& scratch) {
    bool changes = false;
    for (std::size_t i = 0; i < text.size() && !changes; ++i) {
        const char16_t c = text[i];
        changes = c < 0x20 || (i + 1 < text.size() && ((c == u'^' && text[i + 1] == u'm') ||
                                                       (c == u'\\' && text[i + 1] == u'n')));
    }
    if (!changes) return text;
    scratch = CleanNameText(text);
    return scratch;
}

bool FieldWriter::IsBlank(const std::u16string& s) { return RemoveBlanks(s).empty(); }

}  // namespace tervalo
