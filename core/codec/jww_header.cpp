// The leading section of a JWW drawing: signature, version, the drawing's
// settings and its layer, pen, line type and text type tables. FileCheck and
// FileHeaderIn (used by the file list) live here too.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "archive/archive.h"
#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "codec/driver_support.h"
#include "fs/fsutil.h"
#include "model/jww_data.h"
#include "text/encoding.h"
#include "text/func.h"

namespace tervalo {

namespace {

constexpr std::size_t kSignatureSize = 8;
constexpr std::int32_t kMinVersion = 220;
constexpr std::int32_t kMaxVersion = 700;

// The header of most drawings fits in this much; FileHeaderIn reads more of
// the file only when it does not, up to kMaxHeaderBytes. The header holds
// about six hundred strings of Jw_cad's short settings and names; a header
// longer than that bound is refused rather than read.
constexpr std::size_t kHeaderPrefixSize = 64 * 1024;
constexpr std::size_t kMaxHeaderBytes = 16 * 1024 * 1024;

// Row i of a table. A read gives every table its full size first; a table
// to write that is shorter (a container never filled by reading) gives empty
// rows.
template <typename Row>
Row& RowAt(std::vector<Row>& rows, std::size_t i) {
    return rows[i];
}
template <typename Row>
const Row& RowAt(const std::vector<Row>& rows, std::size_t i) {
    static const Row empty{};
    return i < rows.size() ? rows[i] : empty;
}

// Colours outside 0 .. 0xFFFFFF are written as 0 (black).
std::int32_t ColorForOutput(std::int32_t c) { return (c < 0 || c > 0xFFFFFF) ? 0 : c; }

// A value written within lo .. hi.
template <typename T>
auto ClampTo(T lo, T hi) {
    return [lo, hi](T v) { return v < lo ? lo : (v > hi ? hi : v); };
}

bool ValidSegmentCount(std::int32_t n) { return n == 2 || n == 4 || n == 6 || n == 8; }

// Row i of the user line types as it is written: from 17 on, a line type
// with an unusable segment count becomes a plain dash pattern.
const TEntJwwLineTypeExNo& LineTypeRow(const std::vector<TEntJwwLineTypeExNo>& rows, std::size_t i,
                                       TEntJwwLineTypeExNo& dash) {
    const TEntJwwLineTypeExNo& t = RowAt(rows, i);
    if (i < 17 || ValidSegmentCount(t.anUDLTypeSegment)) return t;
    dash = TEntJwwLineTypeExNo{};
    dash.alLType = static_cast<std::int32_t>(0xC3C3C3C3u);
    dash.anTokushuSenUintDot = 8;
    dash.anTokushuSenPich = 1;
    dash.anPrtTokushuSenPich = 8;
    dash.astrUDLTypeName = u"LType_" + IntToText(static_cast<std::int32_t>(i));
    dash.anUDLTypeSegment = 2;
    dash.aadUDLTypePitch = {1.0, 1.0};
    return dash;
}
TEntJwwLineTypeExNo& LineTypeRow(std::vector<TEntJwwLineTypeExNo>& rows, std::size_t i, TEntJwwLineTypeExNo&) {
    return rows[i];
}

// The header after the signature and the version, described once for
// reading and writing. For a file listing (`lenient`) a file that ends
// inside the very last field still counts.
template <typename IO>
void TransferHeader(IO& io, Rec<IO, TJwwData>& d, bool lenient) {
    auto& h = d.Enthd;
    const std::int32_t V = io.version();
    // The memo keeps its line breaks; every other string loses its control characters.
    io.Str(h.strMemo, h.storedMemo);
    io.Fields(h.nZumen, h.nWriteGLay);
    for (std::size_t g = 0; g < 16; ++g) {
        auto& grp = RowAt(d.EntLgrp, g);
        io.Fields(grp.anGLay, grp.anWriteLay, grp.adScale, grp.anGLayProtect);
        for (std::size_t l = 0; l < 16; ++l) {
            auto& lay = RowAt(d.EntLay, g * 16 + l);
            io.Fields(lay.aanLay, lay.aanLayProtect);
        }
    }
    io.Filler(56, 0x20);
    io.Fields(h.lnSunpou1, h.lnSunpou2, h.lnSunpou3, h.lnSunpou4, h.lnSunpou5);
    io.Filler(4, 0x00);
    // Versions up to 420 know no width codes below -101.
    io.Fields(OnWrite(h.nMaxDrawWid, [V](std::int32_t w) { return (V <= 420 && w < -101) ? -101 : w; }));
    if constexpr (IO::kReading) {
        h.bSenHaba100 = false;
        h.nMaxDrawWidBak = h.nMaxDrawWid;
        if (h.nMaxDrawWid <= -101) {
            // Widths in 1/100 mm are stored as negative codes.
            const std::int32_t c = h.nMaxDrawWid;
            h.bSenHaba100 = true;
            if (c >= -500 && c <= -401)
                h.nMaxDrawWidBak = 400 + c;  // 400 - |c|
            else if (c >= -300 && c <= -201)
                h.nMaxDrawWidBak = -c - 200;  // |c| - 200
            else
                h.nMaxDrawWidBak = -100;
        }
    }
    io.Fields(h.DPPrtGenten_x, h.DPPrtGenten_y, h.dPrtBairitsu, h.nPrtSet, h.nMemoriMode, h.dMemoriHyoujiMin,
              h.dMemoriX, h.dMemoriY, h.DpMemoriKjTen_x, h.DpMemoriKjTen_y);
    for (std::size_t i = 0; i < 256; ++i) {
        auto& lay = RowAt(d.EntLay, i);
        io.Name(lay.aStrLayName, lay.storedName);
    }
    for (std::size_t g = 0; g < 16; ++g) {
        auto& grp = RowAt(d.EntLgrp, g);
        io.Name(grp.aStrGLayName, grp.storedName);
    }
    io.Fields(h.dKageLevel, h.dKageIdo, h.nKage9_15JiFlg, h.dKabeKageLevel);
    if (V >= 300) io.Fields(h.dTenkuuZuLevel, h.dTenkuuZuEnkoR);
    io.Fields(h.nMMTani3D, h.dBairitsu, h.DPGenten_x, h.DPGenten_y, h.dHanniBairitsu, h.DPHanniGenten_x,
              h.DPHanniGenten_y);
    if (V >= 231) {
        for (std::size_t i = 0; i < 8; ++i)
            io.Fields(h.dZoomJumpBairitsu[i], h.DPZoomJumpGenten_x[i], h.DPZoomJumpGenten_y[i], h.nZoomJumpGLay[i]);
        io.Fields(h.dDm11, h.dDm12, h.dDm13, h.lnDm1, h.dDm21, h.dDm22, h.dMojiBG, h.nMojiBG);
    } else {
        // Older drawings have four zoom jumps and no layer groups for them.
        for (std::size_t i = 0; i < 4; ++i)
            io.Fields(h.dZoomJumpBairitsu[i], h.DPZoomJumpGenten_x[i], h.DPZoomJumpGenten_y[i]);
    }
    for (auto& x : h.adFukusenSuuchi) io.Fields(x);
    io.Fields(h.dRyougawaFukusenTomeDe);
    for (std::size_t i = 0; i < 10; ++i) {
        auto& c = RowAt(d.EntCol, i);
        io.Fields(OnWrite(c.aPenColor, ColorForOutput), OnWrite(c.anPenWidth, ClampTo(1, 16)));
    }
    for (std::size_t i = 0; i < 10; ++i) {
        auto& c = RowAt(d.EntCol, i);
        // Pen 0 is the background; it always prints white.
        io.Fields(OnWrite(c.aPrtPenColor, [i](std::int32_t v) { return i == 0 ? 0xFFFFFF : ColorForOutput(v); }),
                  OnWrite(c.anPrtPenWidth, ClampTo(1, 500)), OnWrite(c.adPrtTenHankei, ClampTo(0.1, 10.0)));
    }
    for (std::size_t i = 0; i < 8; ++i) {
        auto& t = RowAt(d.EntLtp1, i);
        io.Fields(t.alLType, t.anTokushuSenUintDot, t.anTokushuSenPich, t.anPrtTokushuSenPich);
    }
    for (std::size_t i = 0; i < 5; ++i) {
        auto& t = RowAt(d.EntLtp2, i);
        io.Fields(t.alLType, t.anRandSenWide, t.anTokushuSenPich, t.anPrtRandSenWide, t.anPrtTokushuSenPich);
    }
    for (std::size_t i = 0; i < 4; ++i) {
        auto& t = RowAt(d.EntLtp3, i);
        io.Fields(t.alLType, t.anTokushuSenUintDot, t.anTokushuSenPich, t.anPrtTokushuSenPich);
    }
    io.Fields(h.nDrawGamenTen, h.nDrawPrtTen, h.nBitMapFirstDraw, h.nGyakuDraw, h.nGyakuSearch, h.nColorPrint,
              h.nLayJunPrint, h.nColJunPrint, h.nPrtRenzoku, h.nPrtKyoutsuuGray);
    if constexpr (IO::kReading) {
        // One stored value: tens are the print resolution setting, the last
        // digit the "print only what is not drawn" switch. Both truncate
        // toward zero, as C++ division does.
        std::int32_t p = 0;
        io.Fields(p);
        h.nPrtDpi = p / 10;
        h.nPrtDispOnlyNonDraw = p % 10;
    } else {
        // From version 600 the tens carry the print resolution setting (at
        // least 1); older versions store the last digit alone.
        std::int64_t p = h.nPrtDispOnlyNonDraw;
        if (V >= 600) p += h.nPrtDpi > 0 ? 10 * static_cast<std::int64_t>(h.nPrtDpi) : 10;
        io.Fields(static_cast<std::uint32_t>(p));
    }
    if (V >= 223)
        io.Fields(h.lnDrawTime, h.nEyeInit, h.dEye_H_Ichi_1, h.dEye_H_Ichi_2, h.dEye_H_Ichi_3, h.dEye_Z_Ichi_1,
                  h.dEye_Y_Ichi_1, h.dEye_Z_Ichi_2, h.dEye_Y_Ichi_2, h.dEye_V_Ichi_3);
    if (V >= 225) io.Fields(h.dSenNagasaSnpou, h.dBoxSunpouX, h.dBoxSunpouY, h.dEnHankeiSnpou);
    if (V >= 230) io.Fields(h.nSolidNinniColor, h.SolidColor);
    if (V >= 420) {
        for (std::size_t i = 0; i < 257; ++i) {
            auto& c = RowAt(d.EntColS, i);
            io.Fields(c.aPenColor, c.anPenWidth);
        }
        for (std::size_t i = 0; i < 257; ++i) {
            auto& c = RowAt(d.EntColS, i);
            io.Name(c.astrUDColorName, c.storedName, [i] { return u"Color_" + IntToText(static_cast<std::int32_t>(i)); });
            // The user colours from 17 on print in their screen colour.
            io.Fields(OnWrite(c.aPrtPenColor, [&c, i](std::int32_t v) { return i >= 17 ? c.aPenColor : v; }),
                      c.anPrtPenWidth, c.adPrtTenHankei);
        }
        TEntJwwLineTypeExNo dash;
        for (std::size_t i = 0; i < 33; ++i) {
            auto& t = LineTypeRow(d.EntLtpS, i, dash);
            io.Fields(OnWrite(t.alLType, [](std::int32_t v) { return v == 0 ? -1 : v; }), t.anTokushuSenUintDot,
                      t.anTokushuSenPich, t.anPrtTokushuSenPich);
        }
        for (std::size_t i = 0; i < 33; ++i) {
            auto& t = LineTypeRow(d.EntLtpS, i, dash);
            io.Name(t.astrUDLTypeName, t.storedName, [i] { return u"LType_" + IntToText(static_cast<std::int32_t>(i)); });
            io.Fields(t.anUDLTypeSegment);
            for (auto& x : t.aadUDLTypePitch) io.Fields(x);
        }
    }
    for (std::size_t i = 0; i < 10; ++i) {
        auto& m = RowAt(d.EntMoj, i);
        io.Fields(Adjust(m.adMojiX, kTextSizeIn, kTextSizeOut), Adjust(m.adMojiY, kTextSizeIn, kTextSizeOut),
                  OnRead(m.adMojiD, kTextSpacingIn), m.anMojiCol);
    }
    io.Fields(Adjust(h.dMojiSizeX, kTextSizeIn, kTextSizeOut), Adjust(h.dMojiSizeY, kTextSizeIn, kTextSizeOut),
              OnRead(h.dMojiKankaku, kTextSpacingIn), h.nMojiColor, h.nMojiShu, h.dMojiSeiriGyouKan, h.dMojiSeiriSuu,
              h.nMojiKijunZureOn, h.adMojiKijunZureX0, h.adMojiKijunZureX1, h.adMojiKijunZureX2,
              h.adMojiKijunZureY0, h.adMojiKijunZureY1);
    if constexpr (IO::kReading)
        ReadLastHeaderDouble(io.archive().r, lenient, h.adMojiKijunZureY2);
    else
        io.Fields(h.adMojiKijunZureY2);
}

}  // namespace

bool TJwwData::FileCheck(const std::filesystem::path& FName) const {
    Bytes head;
    return ReadFilePrefix(FName, kSignatureSize + 4, head) && HeadCheck(head);
}

bool TJwwData::HeadCheck(std::span<const std::uint8_t> head) {
    if (head.size() < kSignatureSize + 4) return false;
    ByteReader r(head);
    if (AnsiBytesToText(r.bytes(kSignatureSize)) != u"JwwData.") return false;
    const std::int32_t ver = r.i32();
    return ver >= kMinVersion && ver <= kMaxVersion;
}

bool TJwwData::FileHeaderIn(const std::filesystem::path& FName) {
    // Only as much of the file as the header needs is read: a prefix that
    // grows fourfold while the header runs past it, never beyond
    // kMaxHeaderBytes, so listing a huge file costs what its header costs.
    Bytes data;
    for (std::size_t limit = kHeaderPrefixSize;; limit = std::min(limit * 4, kMaxHeaderBytes)) {
        DataInit();
        lastError_.clear();
        if (!ReadInputFile(FName, data, lastError_, limit)) return false;
        ByteReader r(data);
        // A file shorter than the prefix is all there: for a listing, a file
        // that ends inside the last field still counts.
        if (data.size() < limit) return HeaderIn(r, true);
        if (HeaderIn(r, false)) return true;
        if (lastError_.rfind(kFileIoError, 0) != 0) return false;  // a signature or version error
        if (limit >= kMaxHeaderBytes) {
            lastError_ = "the header runs past its first " + std::to_string(kMaxHeaderBytes >> 20) +
                         " MiB, more than any drawing's header holds";
            return false;
        }
    }
}

bool TJwwData::HeaderIn(ByteReader& r, bool lenient) {
    TEntJwwHeader& h = Enthd;
    return RunGuarded(lastError_, [&] {
        EntLgrp.assign(16, {});
        EntLay.assign(256, {});
        EntCol.assign(10, {});
        EntLtp1.assign(8, {});
        EntLtp2.assign(5, {});
        EntLtp3.assign(4, {});
        EntMoj.assign(10, {});
        EntColS.assign(257, {});
        EntLtpS.assign(33, {});

        h.jwID = AnsiBytesToText(r.bytes(std::min(kSignatureSize, r.remaining())));
        if (h.jwID != u"JwwData.") throw IoError(kJwwHeaderError, "the file does not start with JwwData.");
        h.jwVer = r.i32();
        if (h.jwVer < kMinVersion || h.jwVer > kMaxVersion)
            throw IoError(kJwwVersionError, "version " + std::to_string(h.jwVer));
        ArchiveIn in(r, h.jwVer, MojiEncode, &storedStrings);
        FieldReader io(in);
        TransferHeader(io, *this, lenient);
    });
}

void TJwwData::HeaderOut(ByteWriter& w, std::int32_t Ver) {
    Enthd.jwID = u"JwwData.";
    w.bytes(TextToAnsiBytes(Enthd.jwID));
    w.i32(Ver);
    ArchiveOut out(w, Ver, FileOutOpt, &storedStrings);
    FieldWriter io(out);
    TransferHeader(io, std::as_const(*this), false);
}

}  // namespace tervalo
