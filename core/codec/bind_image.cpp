// The image section of a JWW drawing (version 700 and later): the image files
// bound into the drawing. Reading keeps each image's bytes and, on request,
// copies them out into BindImageFolder; writing stores back those that a text
// still refers to.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/archive.h"
#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "fs/fsutil.h"
#include "fs/platform.h"
#include "model/jww_data.h"
#include "text/encoding.h"
#include "text/func.h"

namespace tervalo {

namespace {

// Texts refer to a bound image as "^@BM%temp%" + name + "," + parameters.
constexpr char16_t kImageRefPrefix[] = u"^@BM%temp%";
constexpr std::size_t kImageRefPrefixLen = 10;

constexpr std::uint32_t kMaxImageSize = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());

// The Windows device names, which name a device rather than a file in every
// folder, whatever extension follows: CON, PRN, AUX, NUL, COM1-COM9 and
// LPT1-LPT9 (also with the superscript digits Windows counts among them).
bool IsReservedDeviceName(const std::u16string& name) {
    std::u16string stem = name.substr(0, name.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') stem.pop_back();  // "CON .txt" is CON too
    stem = ToUpperText(stem);
    if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL") return true;
    if (stem.size() != 4 || (stem.compare(0, 3, u"COM") != 0 && stem.compare(0, 3, u"LPT") != 0)) return false;
    const char16_t d = stem[3];
    return (d >= u'1' && d <= u'9') || d == u'\u00B9' || d == u'\u00B2' || d == u'\u00B3';
}

// A stored name is used as a file name inside BindImageFolder only when it
// cannot reach outside it or name a device: not empty, not "." or "..", no
// path separator, no colon (drive prefix or Windows stream name), and not a
// reserved device name.
bool IsSafeImageName(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    if (name.find_first_of(u"/\\:") != std::u16string::npos) return false;
    return !IsReservedDeviceName(name);
}

// The file a name lands on: names that differ only in letter case, or whose
// UTF-16 maps to the same file-system bytes (two lone surrogates both become
// U+FFFD), are one file on some file systems.
std::u16string FileIdentity(const std::u16string& name) { return ToUpperText(Utf8ToUtf16(Utf16ToUtf8(name))); }

}  // namespace

std::filesystem::path TJwwData::BindImagePath(const std::u16string& name) const {
    std::filesystem::path p;
    if (!IsSafeImageName(name) || !platform::PathFromText(name, p)) return {};
    return BindImageFolder / p;
}

void TJwwData::ImagesIn(ArchiveIn& in) {
    BindImageInit();
    if (!BindImageExp && !BindImageExr) return;
    ByteReader& r = in.r;

    const std::uint32_t count = r.u32();
    // Every entry takes at least one byte of name and four of size.
    if (count > r.remaining() / 5 || count > kMaxImageSize)
        throw IoError(kFileIoError, "image count " + std::to_string(count) + " exceeds the " +
                                        std::to_string(r.remaining()) + " bytes left");
    BindImage.assign(count, TBindImageType{});
    BindImageN = static_cast<std::int32_t>(count);

    // First take in the whole section, so that a drawing cut short inside it
    // leaves no copied-out files behind. Each entry keeps its own bytes, so
    // the writer can store them back whatever the entry's name.
    for (std::uint32_t i = 0; i < count; ++i) {
        TBindImageType& e = BindImage[i];
        e.Fname = in.NameIn(&e.storedFname);
        const std::size_t sizeAt = r.pos();
        const std::uint32_t size = r.u32();
        if (size > kMaxImageSize)
            throw IoError(kFileIoError, "image size " + std::to_string(size) + " at offset " +
                                            std::to_string(sizeAt) + " is negative");
        e.Fsize = static_cast<std::int32_t>(size);
        if (e.Fname.empty() || size == 0) continue;  // no data stored
        const ByteSpan bytes = r.bytes(size);
        e.data.assign(bytes.begin(), bytes.end());
    }

    if (!BindImageExp) return;
    // Copies for callers that want the images as files. Only a safe name is
    // used as a path, and only its first holder gets the file, so no entry's
    // copy is overwritten by a namesake's; the others stay in memory only.
    std::unordered_set<std::u16string> taken;
    for (TBindImageType& e : BindImage) {
        if (e.data.empty() || !IsSafeImageName(e.Fname)) continue;
        if (!taken.insert(FileIdentity(e.Fname)).second) continue;
        // A file that cannot be written is removed again by WriteWholeFile;
        // the image then stays in memory only.
        e.copied = WriteWholeFile(BindImagePath(e.Fname), e.data);
    }
}

void TJwwData::ImagesOut(ArchiveOut& out, const std::vector<std::u16string>* mainTexts) {
    const std::size_t n = std::min<std::size_t>(BindImage.size(), BindImageN > 0 ? BindImageN : 0);
    for (auto& e : BindImage) e.exf = false;

    std::vector<std::u16string> upperNames(n);
    for (std::size_t i = 0; i < n; ++i) upperNames[i] = ToUpperText(BindImage[i].Fname);

    // The first image (in list order) whose upper-cased name begins with the
    // upper-cased name in the text is the one the text refers to.
    auto markReferenced = [&](const std::u16string& s) {
        if (s.size() <= kImageRefPrefixLen || s.compare(0, kImageRefPrefixLen, kImageRefPrefix) != 0) return;
        const std::size_t comma = s.find(u',', kImageRefPrefixLen);
        if (comma == std::u16string::npos || comma == kImageRefPrefixLen) return;
        const std::u16string name = ToUpperText(s.substr(kImageRefPrefixLen, comma - kImageRefPrefixLen));
        if (name.empty()) return;
        for (std::size_t i = 0; i < n; ++i) {
            if (upperNames[i].starts_with(name)) {
                BindImage[i].exf = true;
                return;
            }
        }
    };

    // Without images there is nothing to look for in the texts.
    if (mainTexts && n > 0)
        for (const std::u16string& s : *mainTexts) markReferenced(s);
    const std::size_t mainN =
        n == 0 || mainTexts ? 0 : std::min<std::size_t>(EntNo.size(), Enthd.n1 > 0 ? Enthd.n1 : 0);
    for (std::size_t i = 0; i < mainN; ++i) {
        const TEntJwwNo& no = EntNo[i];
        if (no.EntType == kKindMoji && no.EntNo >= 0 && no.EntNo < EntMojiN &&
            static_cast<std::size_t>(no.EntNo) < EntMoji.size())
            markReferenced(EntMoji[no.EntNo].str);
    }
    const std::size_t defN = n == 0 ? 0 : std::min<std::size_t>(EntBlockDef.size(), EntBlockDefN > 0 ? EntBlockDefN : 0);
    for (std::size_t d = 0; d < defN; ++d) {
        const TEntJwwBlockDef& def = EntBlockDef[d];
        const std::size_t m = std::min<std::size_t>(def.mNo.size(), def.N > 0 ? def.N : 0);
        for (std::size_t j = 0; j < m; ++j) {
            const TEntJwwNo& no = def.mNo[j];
            if (no.EntType == kKindMoji && no.EntNo >= 0 && no.EntNo < def.mMojiN &&
                static_cast<std::size_t>(no.EntNo) < def.mMoji.size())
                markReferenced(def.mMoji[no.EntNo].str);
        }
    }

    // Where each image comes from: an image copied out while reading is taken
    // from its copy in the folder when the container works with copies
    // (BindImageExp), so a changed copy is stored and a deleted one left
    // out; every other image is stored from the bytes kept in memory. No
    // name is used as a path here unless it was used for the copy. Every
    // image is in memory before the count is written, so the count always
    // matches the entries that follow.
    const bool enabled = BindImageExp || BindImageExr;
    std::vector<Bytes> files(n);
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        TBindImageType& e = BindImage[i];
        if (!e.exf) continue;
        bool ok = enabled;
        if (ok && BindImageExp && e.copied) {
            const std::filesystem::path path = BindImagePath(e.Fname);
            ok = FileFound(path) && ReadWholeFile(path, files[i]);
        }
        const std::size_t size = BindImageExp && e.copied ? files[i].size() : e.data.size();
        if (!ok || size > kMaxImageSize) {
            e.exf = false;
            files[i] = Bytes{};
            continue;
        }
        ++count;
    }

    out.w.u32(count);
    for (std::size_t i = 0; i < n; ++i) {
        const TBindImageType& e = BindImage[i];
        if (!e.exf) continue;
        const Bytes& bytes = BindImageExp && e.copied ? files[i] : e.data;
        out.StrOut(e.Fname, e.storedFname);
        out.w.u32(static_cast<std::uint32_t>(bytes.size()));
        out.w.bytes(bytes);
    }
}

bool IsImageReference(const std::u16string& text) {
    return text.size() > kImageRefPrefixLen && text.compare(0, kImageRefPrefixLen, kImageRefPrefix) == 0;
}

void TJwwData::BindImageDeleteGzFile() {
    for (const TBindImageType& e : BindImage) {
        // Only this container's own copies; a file of that name that reading
        // did not write is not ours to delete.
        if (!e.copied || !IsSafeImageName(e.Fname) || ExtLower(e.Fname) != u".gz") continue;
        const std::filesystem::path path = BindImagePath(e.Fname);
        if (FileFound(path)) DeleteFileQuiet(path);
    }
}

void TJwwData::BindImageDeleteNonGzFile() {
    for (const TBindImageType& e : BindImage) {
        if (!e.copied || !IsSafeImageName(e.Fname)) continue;
        // For a packed image this is its unpacked companion.
        std::u16string name = e.Fname;
        if (ExtLower(name) == u".gz") name = ReplaceExt(name, u"");
        const std::filesystem::path path = BindImagePath(name);
        if (FileFound(path)) DeleteFileQuiet(path);
    }
}

}  // namespace tervalo
