// The JWS figure container: its 452-byte header and the drivers. The body
// (entity list and block definitions) goes through the shared body codec.
#include <algorithm>

#include "archive/archive.h"
#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "codec/body_codec.h"
#include "codec/driver_support.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "text/encoding.h"

namespace tervalo {

namespace {

constexpr char16_t kJwsSignature[] = u"JwsData";
constexpr std::size_t kSignatureSize = 7;
constexpr std::size_t kFillerSize = 193;
constexpr std::size_t kVersionOffset = kSignatureSize + kFillerSize;  // 200

bool IsSignature(std::span<const std::uint8_t> first7) {
    return AnsiBytesToText(first7) == kJwsSignature;
}

}  // namespace

TJwsData::TJwsData() { DataInit(); }

TJwsData::~TJwsData() { DataFree(); }

void TJwsData::DataInit() {
    ResetBody();
    Enthd = TEntJwsHeader{};
}

void TJwsData::DataFree() {
    FreeBlockDefMembers();
    DataInit();
}

std::int32_t TJwsData::NormalizeVersion(std::int32_t Ver) {
    if (Ver <= 230) return 230;
    if (Ver == 300) return 351;
    return Ver;
}

bool TJwsData::FileCheck(const std::filesystem::path& FName) const {
    Bytes head;
    return ReadFilePrefix(FName, kVersionOffset + 4, head) && HeadCheck(head);
}

bool TJwsData::HeadCheck(std::span<const std::uint8_t> head) {
    if (head.size() < kVersionOffset + 4) return false;
    if (!IsSignature(head.first(kSignatureSize))) return false;
    ByteReader r(head);
    r.seek(kVersionOffset);
    const std::int32_t ver = r.i32();
    return ver >= 230 && ver <= 700;
}

// Reads the header from the start of the buffer. In lenient mode (header
// listing) a file that ends inside the last field is accepted with the missing
// bytes of that field left as they were; otherwise every field must be whole.
bool TJwsData::HeaderIn(ByteReader& r, bool lenient) {
    return RunGuarded(lastError_, [&] {
        EntLgrp.assign(16, TEntJwwLayerGroup{});
        const std::size_t sigLen = std::min(kSignatureSize, r.remaining());
        Enthd.jwID = AnsiBytesToText(r.bytes(sigLen));
        if (Enthd.jwID != kJwsSignature) throw IoError(kJwsHeaderError, "signature is not JwsData");
        if (r.remaining() < kFillerSize + 4) throw IoError(kJwsVersionError, "file ends before the version");
        r.skip(kFillerSize);
        Enthd.jwVer = r.i32();
        if (Enthd.jwVer < 230 || Enthd.jwVer > 700)
            throw IoError(kJwsVersionError, "version " + std::to_string(Enthd.jwVer) + " is not from 230 to 700");
        Enthd.BasePoint_x = r.f64();
        Enthd.BasePoint_y = r.f64();
        for (auto& g : EntLgrp) {
            g.adScale = r.f64();
            g.anGLay = 2;
            g.anWriteLay = 0;
            g.anGLayProtect = 0;
            g.aStrGLayName.clear();
        }
        for (std::int32_t* d : {&Enthd.dmy01, &Enthd.dmy02, &Enthd.dmy03, &Enthd.dmy04, &Enthd.dmy05, &Enthd.dmy06})
            *d = r.i32();
        for (double* d : {&Enthd.dmy11, &Enthd.dmy12, &Enthd.dmy13, &Enthd.dmy14, &Enthd.dmy15, &Enthd.dmy16, &Enthd.Mx1,
                          &Enthd.My1, &Enthd.Mx2})
            *d = r.f64();
        ReadLastHeaderDouble(r, lenient, Enthd.My2);
    });
}

bool TJwsData::FileHeaderIn(const std::filesystem::path& FName) {
    DataInit();
    lastError_.clear();
    Bytes head;
    if (!ReadInputFile(FName, head, lastError_, kHeaderSize)) return false;
    ByteReader r(head);
    return HeaderIn(r, true);
}

bool TJwsData::ReadFromBuffer(std::span<const std::uint8_t> data) {
    ByteReader r(data);
    return ReadFrom(r);
}

bool TJwsData::ReadFrom(ByteReader& r) {
    DataInit();
    lastError_.clear();
    if (!HeaderIn(r, false)) return false;
    bodyOffset_ = r.pos();
    const bool ok = RunGuarded(lastError_, [&] {
        ArchiveIn in(r, Enthd.jwVer, MojiEncode, &storedStrings);
        ReadBody(in, *this, Enthd.n1, Enthd.n2);
    });
    return MarkReferencesGuarded(*this, lastError_) && ok;
}

bool TJwsData::FileIn(const std::filesystem::path& FName) {
    DataInit();
    lastError_.clear();
    return ReadDrawingFile(FName, lastError_, [&](ByteReader& r) { return ReadFrom(r); });
}

void TJwsData::HeaderOut(ByteWriter& w, std::int32_t Ver) {
    Enthd.jwID = u"JwsData";
    w.bytes(TextToAnsiBytes(Enthd.jwID));
    w.fill(kFillerSize, 0x2E);
    w.i32(Ver);
    w.f64(Enthd.BasePoint_x);
    w.f64(Enthd.BasePoint_y);
    for (std::size_t g = 0; g < 16; ++g) w.f64(g < EntLgrp.size() ? EntLgrp[g].adScale : 0.0);
    for (std::int32_t d : {Enthd.dmy01, Enthd.dmy02, Enthd.dmy03, Enthd.dmy04, Enthd.dmy05, Enthd.dmy06}) w.i32(d);
    for (double d : {Enthd.dmy11, Enthd.dmy12, Enthd.dmy13, Enthd.dmy14, Enthd.dmy15, Enthd.dmy16, Enthd.Mx1, Enthd.My1,
                     Enthd.Mx2, Enthd.My2})
        w.f64(d);
}

bool TJwsData::WriteToBuffer(std::int32_t Ver, std::vector<std::uint8_t>& out) {
    lastError_.clear();
    const std::int32_t v = NormalizeVersion(Ver);
    return RunGuarded(lastError_, [&] {
        ByteWriter w;
        w.reserve(kHeaderSize + 64 * static_cast<std::size_t>(EntNo.size()));
        HeaderOut(w, v);
        ArchiveOut ao(w, v, FileOutOpt, &storedStrings);
        WriteBody(ao, *this, Enthd.n1, Enthd.n2, Enthd.jwVer);
        out = w.take();
    }, kNoMemoryToWrite);
}

bool TJwsData::WriteTo(std::int32_t Ver, const ByteWriter::Sink& sink) {
    const std::int32_t v = NormalizeVersion(Ver);
    return WriteDrawingTo(lastError_, sink, v, FileOutOpt, &storedStrings, [&](ByteWriter& w) { HeaderOut(w, v); },
                          [&](ArchiveOut& ao) { WriteBody(ao, *this, Enthd.n1, Enthd.n2, Enthd.jwVer); });
}

bool TJwsData::StreamTo(std::int32_t Ver, ByteReader& r, const std::function<void(DrawingBody&)>& convert,
                        const ByteWriter::Sink& sink) {
    const std::int32_t v = NormalizeVersion(Ver);
    return WriteDrawingTo(lastError_, sink, v, FileOutOpt, &storedStrings, [&](ByteWriter& w) { HeaderOut(w, v); },
                          [&](ArchiveOut& ao) {
                              bool unicode = MojiEncode;
                              ArchiveIn in(r, Enthd.jwVer, unicode, &storedStrings);
                              StreamBody(in, ao, *this, Enthd.n1, Enthd.n2, Enthd.jwVer, convert);
                          });
}

bool TJwsData::FileOut(const std::filesystem::path& FName, std::int32_t Ver) {
    // Streamed into a new file beside the target, which is replaced only when
    // the whole figure is written; a failure leaves the target as it was.
    return WriteDrawingFile(FName, lastError_, [&](const ByteWriter::Sink& sink) { return WriteTo(Ver, sink); });
}

}  // namespace tervalo
