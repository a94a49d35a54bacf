#include "archive/archive.h"

#include "text/encoding.h"

namespace tervalo {

namespace {

// A check value over the text read and where its bytes are kept; any change
// of the text, or a record carried into another container, gives another
// value (but for a chance of 2^-64).
std::uint64_t CheckOf(const StoredStrings& s, std::uint32_t offset, const std::u16string& text) {
    std::uint64_t h = s.id * 0x9E3779B97F4A7C15ull ^ (std::uint64_t{offset} << 20) ^ text.size();
    auto mix = [&h](std::uint64_t v) {
        h = (h ^ v) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    };
    const char16_t* p = text.data();
    std::size_t n = text.size();
    for (; n >= 4; n -= 4, p += 4) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        mix(v);
    }
    std::uint64_t tail = 0;
    for (std::size_t i = 0; i < n; ++i) tail |= std::uint64_t{p[i]} << (16 * i);
    mix(tail ^ 0xA5A5);
    return h * 0x94D049BB133111EBull;
}

bool IsUnicodeForm(const std::uint8_t* p, std::size_t size) {
    return size >= 4 && p[0] == 0xFF && p[1] == 0xFE && p[2] == 0xFF;
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
    if (stored_ && keep.size) keep.check = CheckOf(*stored_, keep.offset, text);
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
    std::size_t ansiLength = b;
    if (b == 0xFF) {
        const std::uint16_t w = r.u16();
        prefix[prefixSize++] = static_cast<std::uint8_t>(w);
        prefix[prefixSize++] = static_cast<std::uint8_t>(w >> 8);
        ansiLength = w;
        unicode = w == 0xFFFE;
    }
    if (!unicode) {
        payload = r.bytes(ansiLength);
        bool ascii = true;
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
        if (clean && stored_ && stored_->bytes.size() + size <= 0xFFFFFFFFu) {
            auto& bytes = stored_->bytes;
            keep->offset = static_cast<std::uint32_t>(bytes.size());
            keep->size = static_cast<std::uint32_t>(size);
            bytes.insert(bytes.end(), prefix, prefix + prefixSize);
            bytes.insert(bytes.end(), payload.begin(), payload.end());
            if (!deferred || !*deferred) keep->check = CheckOf(*stored_, keep->offset, text);
        } else if (deferred && *deferred) {
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
    FieldReader io(*this);
    io.Fields(io.Attr(a, 0));
    return a;
}

void ArchiveOut::StrOut(const std::u16string& text, const StoredString& kept) {
    if (kept.size && stored_ && std::uint64_t{kept.offset} + kept.size <= stored_->bytes.size()) {
        const std::uint8_t* p = stored_->bytes.data() + kept.offset;
        const bool unicode = (fileOutOpt_ & kOutOptUnicode) != 0;
        if (IsUnicodeForm(p, kept.size) == unicode && CheckOf(*stored_, kept.offset, text) == kept.check) {
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
    FieldWriter io(*this);
    io.Fields(io.Attr(attr, kind));
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
