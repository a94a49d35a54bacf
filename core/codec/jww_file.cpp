// Reading and writing whole JWW drawings: header and tables, entity list,
// block definitions and, from version 700 on, the bound images, in that order.
// The file is read into memory once (a large one through a window that
// follows the decoding) and decoded from there; the output is streamed
// through one buffer into the new file.
#include <string>

#include "archive/archive.h"
#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "codec/body_codec.h"
#include "codec/driver_support.h"
#include "fs/fsutil.h"
#include "model/jww_data.h"

namespace tervalo {

bool TJwwData::FileIn(const std::filesystem::path& FName) {
    DataInit();
    lastError_.clear();
    return ReadDrawingFile(FName, lastError_, [&](ByteReader& r) { return ReadFrom(r); });
}

bool TJwwData::ReadFromBuffer(std::span<const std::uint8_t> data) {
    ByteReader r(data);
    return ReadFrom(r);
}

bool TJwwData::ReadFrom(ByteReader& r) {
    DataInit();
    lastError_.clear();
    // A drawing whose header cannot be read stays empty but for the header
    // fields read; no block tree is built for it.
    if (!HeaderIn(r, false)) return false;
    bodyOffset_ = r.pos();
    const bool ok = RunGuarded(lastError_, [&] {
        ArchiveIn in(r, Enthd.jwVer, MojiEncode, &storedStrings);
        ReadBody(in, *this, Enthd.n1, Enthd.n2);
        if (Enthd.jwVer >= 700) ImagesIn(in);
    });
    // Whatever was read of the body gets its referenced definitions and
    // output numbers; the block tree itself is built only on request
    // (MakeBlockTree), as a drawing of a few kilobytes can place millions of
    // blocks.
    return MarkReferencesGuarded(*this, lastError_) && ok;
}

bool TJwwData::WriteTo(std::int32_t Ver, const ByteWriter::Sink& sink) {
    return WriteDrawingTo(lastError_, sink, Ver, FileOutOpt, &storedStrings, [&](ByteWriter& w) { HeaderOut(w, Ver); },
                          [&](ArchiveOut& ao) {
                              WriteBody(ao, *this, Enthd.n1, Enthd.n2, Enthd.jwVer);
                              if (Ver >= 700) ImagesOut(ao);
                          });
}

bool TJwwData::StreamTo(std::int32_t Ver, ByteReader& r, const std::function<void(DrawingBody&)>& convert,
                        const ByteWriter::Sink& sink) {
    const auto body = [&](ArchiveOut& ao) {
        bool unicode = MojiEncode;
        ArchiveIn in(r, Enthd.jwVer, unicode, &storedStrings);
        // The texts of the own list that may keep an image, for the image
        // section after the list.
        std::vector<std::u16string> imageTexts;
        const bool images = Ver >= 700 && BindImageN > 0;
        StreamBody(in, ao, *this, Enthd.n1, Enthd.n2, Enthd.jwVer, [&](DrawingBody& part) {
            convert(part);
            if (!images) return;
            for (std::size_t i = 0; i < part.EntMoji.size() && i < static_cast<std::size_t>(part.EntMojiN); ++i)
                if (IsImageReference(part.EntMoji[i].str)) imageTexts.push_back(part.EntMoji[i].str);
        });
        if (Ver >= 700) ImagesOut(ao, &imageTexts);
    };
    return WriteDrawingTo(lastError_, sink, Ver, FileOutOpt, &storedStrings, [&](ByteWriter& w) { HeaderOut(w, Ver); },
                          body);
}

bool TJwwData::WriteToBuffer(std::int32_t Ver, std::vector<std::uint8_t>& out) {
    lastError_.clear();
    return RunGuarded(lastError_, [&] {
        ByteWriter w;
        std::size_t expected = 16 * 1024 + 64 * EntNo.size();
        for (const auto& def : EntBlockDef) expected += 64 * def.mNo.size();
        w.reserve(expected);
        HeaderOut(w, Ver);
        ArchiveOut ao(w, Ver, FileOutOpt, &storedStrings);
        WriteBody(ao, *this, Enthd.n1, Enthd.n2, Enthd.jwVer);
        if (Ver >= 700) ImagesOut(ao);
        out = w.take();
    }, kNoMemoryToWrite);
}

bool TJwwData::FileOut(const std::filesystem::path& FName, std::int32_t Ver) {
    // Streamed into a new file beside the target, which is replaced only
    // when the whole drawing is written: a drawing that cannot be written (a
    // text too long for the file, a full disk) leaves the target as it was.
    return WriteDrawingFile(FName, lastError_, [&](const ByteWriter::Sink& sink) { return WriteTo(Ver, sink); });
}

}  // namespace tervalo
