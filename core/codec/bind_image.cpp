// The image section of a JWW drawing (version 700 and later): the image files
// bound into the drawing. Reading copies them out into BindImageFolder;
// writing takes back those that a text still refers to.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "fs/fsutil.h"
#include "model/jww_data.h"
#include "text/encoding.h"
#include "text/func.h"

namespace tervalo {

namespace {

// Texts refer to a bound image as "^@BM%temp%" + name + "," + parameters.
constexpr char16_t kImageRefPrefix[] = u"^@BM%temp%";
constexpr std::size_t kImageRefPrefixLen = 10;

constexpr std::uint32_t kMaxImageSize = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());

// A stored name is used as a file name inside BindImageFolder only when it
// cannot reach outside it: not empty, not "." or "..", no path separator and
// no colon (drive prefix or Windows stream name).
bool IsSafeImageName(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    return name.find_first_of(u"/\\:") == std::u16string::npos;
}

}  // namespace

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
    // leaves no copied-out files behind. Each entry's data are consumed in
    // full whatever happens to them later, so the next entry is read intact.
    std::vector<ByteSpan> data(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        TBindImageType& e = BindImage[i];
        e.Fname = in.NameIn();
        const std::size_t sizeAt = r.pos();
        const std::uint32_t size = r.u32();
        if (size > kMaxImageSize)
            throw IoError(kFileIoError, "image size " + std::to_string(size) + " at offset " +
                                            std::to_string(sizeAt) + " is negative");
        e.Fsize = static_cast<std::int32_t>(size);
        if (e.Fname.empty() || size == 0) continue;  // no data stored
        data[i] = r.bytes(size);
    }

    if (!BindImageExp) return;
    for (std::uint32_t i = 0; i < count; ++i) {
        const TBindImageType& e = BindImage[i];
        if (data[i].empty() || !IsSafeImageName(e.Fname)) continue;
        // A file that cannot be written is removed again by WriteWholeFile;
        // the image is then simply not available in the folder.
        WriteWholeFile(BindImageFolder + e.Fname, data[i]);
    }
}

void TJwwData::ImagesOut(ArchiveOut& out) {
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

    const std::size_t mainN = std::min<std::size_t>(EntNo.size(), Enthd.n1 > 0 ? Enthd.n1 : 0);
    for (std::size_t i = 0; i < mainN; ++i) {
        const TEntJwwNo& no = EntNo[i];
        if (no.EntType == kKindMoji && no.EntNo >= 0 && no.EntNo < EntMojiN &&
            static_cast<std::size_t>(no.EntNo) < EntMoji.size())
            markReferenced(EntMoji[no.EntNo].str);
    }
    const std::size_t defN = std::min<std::size_t>(EntBlockDef.size(), EntBlockDefN > 0 ? EntBlockDefN : 0);
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

    // Every image written is read into memory before the count is written;
    // one that is gone or cannot be read is left out, so the count always
    // matches the entries that follow.
    const bool enabled = BindImageExp || BindImageExr;
    std::vector<Bytes> files(n);
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        TBindImageType& e = BindImage[i];
        if (!e.exf) continue;
        const std::u16string path = BindImageFolder + e.Fname;
        if (!enabled || !IsSafeImageName(e.Fname) || !FileFound(path) || !ReadWholeFile(path, files[i]) ||
            files[i].size() > kMaxImageSize) {
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
        out.StrOut(e.Fname);
        out.w.u32(static_cast<std::uint32_t>(files[i].size()));
        out.w.bytes(files[i]);
    }
}

void TJwwData::BindImageDeleteGzFile() {
    for (const TBindImageType& e : BindImage) {
        if (!IsSafeImageName(e.Fname) || ExtLower(e.Fname) != u".gz") continue;
        const std::u16string path = BindImageFolder + e.Fname;
        if (FileFound(path)) DeleteFileQuiet(path);
    }
}

void TJwwData::BindImageDeleteNonGzFile() {
    for (const TBindImageType& e : BindImage) {
        if (!IsSafeImageName(e.Fname)) continue;
        // For a packed image this is its unpacked companion.
        std::u16string name = e.Fname;
        if (ExtLower(name) == u".gz") name = ReplaceExt(name, u"");
        if (!IsSafeImageName(name)) continue;
        const std::u16string path = BindImageFolder + name;
        if (FileFound(path)) DeleteFileQuiet(path);
    }
}

}  // namespace tervalo
