// Reading and writing whole JWW drawings: header and tables, entity list,
// block definitions and, from version 700 on, the bound images, in that order.
// The file is read into memory once and decoded from there; the output is
// built in memory and written in one go.
#include <string>

#include "archive/archive.h"
#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "codec/body_codec.h"
#include "codec/driver_support.h"
#include "fs/fsutil.h"
#include "model/jww_data.h"

namespace tervalo {

bool TJwwData::FileIn(const std::u16string& FName) {
    Bytes data;
    if (!ReadInputFile(FName, data, lastError_)) {
        DataInit();
        return false;
    }
    return ReadFromBuffer(data);
}

bool TJwwData::ReadFromBuffer(std::span<const std::uint8_t> data) {
    DataInit();
    lastError_.clear();
    ByteReader r(data);
    // A drawing whose header cannot be read stays empty but for the header
    // fields read; no block tree is built for it.
    if (!HeaderIn(r, false)) return false;
    const bool ok = RunGuarded(lastError_, [&] {
        ArchiveIn in(r, Enthd.jwVer, MojiEncode);
        ReadBody(in, *this, Enthd.n1, Enthd.n2);
        if (Enthd.jwVer >= 700) ImagesIn(in);
    });
    // Whatever was read of the body gets its referenced definitions and
    // output numbers; the block tree itself is built only on request
    // (MakeBlockTree), as a drawing of a few kilobytes can place millions of
    // blocks.
    return MarkReferencesGuarded(*this, lastError_) && ok;
}

bool TJwwData::WriteToBuffer(std::int32_t Ver, std::vector<std::uint8_t>& out) {
    lastError_.clear();
    return RunGuarded(lastError_, [&] {
        ByteWriter w;
        std::size_t expected = 16 * 1024 + 64 * EntNo.size();
        for (const auto& def : EntBlockDef) expected += 64 * def.mNo.size();
        w.reserve(expected);
        HeaderOut(w, Ver);
        ArchiveOut ao(w, Ver, FileOutOpt);
        WriteBody(ao, *this, Enthd.n1, Enthd.n2, Enthd.jwVer);
        if (Ver >= 700) ImagesOut(ao);
        out = std::move(w.data());
    }, kNoMemoryToWrite);
}

bool TJwwData::FileOut(const std::u16string& FName, std::int32_t Ver) {
    // The whole file is built in memory first: a drawing that cannot be
    // written (a text too long for the file) never touches the disk.
    Bytes data;
    if (!WriteToBuffer(Ver, data)) return false;
    // Every byte is checked; a failed write (a full disk, for example)
    // removes its file.
    return WriteOutputFile(FName, data, lastError_);
}

}  // namespace tervalo
