// The leading section of a JWW drawing: signature, version, the drawing's
// settings and its layer, pen, line type and text type tables. FileCheck and
// FileHeaderIn (used by the file list) live here too.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "archive/archive.h"
#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "codec/body_codec.h"
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

// Row i of a table, or an empty row when the table is shorter (a container
// that was never filled by reading).
template <typename Row>
const Row& RowAt(const std::vector<Row>& rows, std::size_t i) {
    static const Row empty{};
    return i < rows.size() ? rows[i] : empty;
}

double ValidOr(double v, double fallback) { return IsValidDouble(v) ? v : fallback; }

// Colours outside 0 .. 0xFFFFFF are written as 0 (black).
std::int32_t ColorForOutput(std::int32_t c) { return (c < 0 || c > 0xFFFFFF) ? 0 : c; }

template <typename T>
T Clamp(T v, T lo, T hi) {
    if (v < lo) return lo;
    if (v > hi) return hi;
    return v;
}

// Text sizes are written as magnitudes between 1e-10 and 1e10.
double SizeForOutput(double v) {
    double a = std::fabs(v);
    if (a < 1e-10) return 1e-10;
    if (a > 1e10) return 1e10;
    return a;
}

bool ValidSegmentCount(std::int32_t n) { return n == 2 || n == 4 || n == 6 || n == 8; }

}  // namespace

bool TJwwData::FileCheck(const std::u16string& FName) const {
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

bool TJwwData::FileHeaderIn(const std::u16string& FName) {
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
        const std::int32_t V = h.jwVer;
        ArchiveIn in(r, V, MojiEncode, &storedStrings);

        // The memo keeps its line breaks; every other string loses its control characters.
        h.strMemo = in.StrIn(&h.storedMemo);
        h.nZumen = r.i32();
        h.nWriteGLay = r.i32();
        for (std::size_t g = 0; g < 16; ++g) {
            TEntJwwLayerGroup& grp = EntLgrp[g];
            grp.anGLay = r.i32();
            grp.anWriteLay = r.i32();
            grp.adScale = r.f64();
            grp.anGLayProtect = r.i32();
            for (std::size_t l = 0; l < 16; ++l) {
                TEntJwwLayer& lay = EntLay[g * 16 + l];
                lay.aanLay = r.i32();
                lay.aanLayProtect = r.i32();
            }
        }
        r.skip(56);
        h.lnSunpou1 = r.i32();
        h.lnSunpou2 = r.i32();
        h.lnSunpou3 = r.i32();
        h.lnSunpou4 = r.i32();
        h.lnSunpou5 = r.i32();
        r.skip(4);
        h.nMaxDrawWid = r.i32();
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
        h.DPPrtGenten_x = r.f64();
        h.DPPrtGenten_y = r.f64();
        h.dPrtBairitsu = r.f64();
        h.nPrtSet = r.i32();
        h.nMemoriMode = r.i32();
        h.dMemoriHyoujiMin = r.f64();
        h.dMemoriX = r.f64();
        h.dMemoriY = r.f64();
        h.DpMemoriKjTen_x = r.f64();
        h.DpMemoriKjTen_y = r.f64();
        for (auto& lay : EntLay) lay.aStrLayName = in.NameIn(&lay.storedName);
        for (auto& grp : EntLgrp) grp.aStrGLayName = in.NameIn(&grp.storedName);
        h.dKageLevel = r.f64();
        h.dKageIdo = r.f64();
        h.nKage9_15JiFlg = r.i32();
        h.dKabeKageLevel = r.f64();
        if (V >= 300) {
            h.dTenkuuZuLevel = r.f64();
            h.dTenkuuZuEnkoR = r.f64();
        }
        h.nMMTani3D = r.i32();
        h.dBairitsu = r.f64();
        h.DPGenten_x = r.f64();
        h.DPGenten_y = r.f64();
        h.dHanniBairitsu = r.f64();
        h.DPHanniGenten_x = r.f64();
        h.DPHanniGenten_y = r.f64();
        if (V >= 231) {
            for (std::size_t i = 0; i < 8; ++i) {
                h.dZoomJumpBairitsu[i] = r.f64();
                h.DPZoomJumpGenten_x[i] = r.f64();
                h.DPZoomJumpGenten_y[i] = r.f64();
                h.nZoomJumpGLay[i] = r.i32();
            }
            h.dDm11 = r.f64();
            h.dDm12 = r.f64();
            h.dDm13 = r.f64();
            h.lnDm1 = r.i32();
            h.dDm21 = r.f64();
            h.dDm22 = r.f64();
            h.dMojiBG = r.f64();
            h.nMojiBG = r.i32();
        } else {
            // Older drawings have four zoom jumps and no layer groups for them.
            for (std::size_t i = 0; i < 4; ++i) {
                h.dZoomJumpBairitsu[i] = r.f64();
                h.DPZoomJumpGenten_x[i] = r.f64();
                h.DPZoomJumpGenten_y[i] = r.f64();
            }
        }
        for (double& d : h.adFukusenSuuchi) d = r.f64();
        h.dRyougawaFukusenTomeDe = r.f64();
        for (auto& c : EntCol) {
            c.aPenColor = r.i32();
            c.anPenWidth = r.i32();
        }
        for (auto& c : EntCol) {
            c.aPrtPenColor = r.i32();
            c.anPrtPenWidth = r.i32();
            c.adPrtTenHankei = r.f64();
        }
        for (auto& t : EntLtp1) {
            t.alLType = r.i32();
            t.anTokushuSenUintDot = r.i32();
            t.anTokushuSenPich = r.i32();
            t.anPrtTokushuSenPich = r.i32();
        }
        for (auto& t : EntLtp2) {
            t.alLType = r.i32();
            t.anRandSenWide = r.i32();
            t.anTokushuSenPich = r.i32();
            t.anPrtRandSenWide = r.i32();
            t.anPrtTokushuSenPich = r.i32();
        }
        for (auto& t : EntLtp3) {
            t.alLType = r.i32();
            t.anTokushuSenUintDot = r.i32();
            t.anTokushuSenPich = r.i32();
            t.anPrtTokushuSenPich = r.i32();
        }
        h.nDrawGamenTen = r.i32();
        h.nDrawPrtTen = r.i32();
        h.nBitMapFirstDraw = r.i32();
        h.nGyakuDraw = r.i32();
        h.nGyakuSearch = r.i32();
        h.nColorPrint = r.i32();
        h.nLayJunPrint = r.i32();
        h.nColJunPrint = r.i32();
        h.nPrtRenzoku = r.i32();
        h.nPrtKyoutsuuGray = r.i32();
        {
            // One stored value: tens are the print resolution setting, the
            // last digit the "print only what is not drawn" switch. Both
            // truncate toward zero, as C++ division does.
            const std::int32_t p = r.i32();
            h.nPrtDpi = p / 10;
            h.nPrtDispOnlyNonDraw = p % 10;
        }
        if (V >= 223) {
            h.lnDrawTime = r.i32();
            h.nEyeInit = r.i32();
            h.dEye_H_Ichi_1 = r.i32();
            h.dEye_H_Ichi_2 = r.i32();
            h.dEye_H_Ichi_3 = r.i32();
            h.dEye_Z_Ichi_1 = r.f64();
            h.dEye_Y_Ichi_1 = r.f64();
            h.dEye_Z_Ichi_2 = r.f64();
            h.dEye_Y_Ichi_2 = r.f64();
            h.dEye_V_Ichi_3 = r.f64();
        }
        if (V >= 225) {
            h.dSenNagasaSnpou = r.f64();
            h.dBoxSunpouX = r.f64();
            h.dBoxSunpouY = r.f64();
            h.dEnHankeiSnpou = r.f64();
        }
        if (V >= 230) {
            h.nSolidNinniColor = r.i32();
            h.SolidColor = r.i32();
        }
        if (V >= 420) {
            for (auto& c : EntColS) {
                c.aPenColor = r.i32();
                c.anPenWidth = r.i32();
            }
            for (auto& c : EntColS) {
                c.astrUDColorName = in.NameIn(&c.storedName);
                c.aPrtPenColor = r.i32();
                c.anPrtPenWidth = r.i32();
                c.adPrtTenHankei = r.f64();
            }
            for (auto& t : EntLtpS) {
                t.alLType = r.i32();
                t.anTokushuSenUintDot = r.i32();
                t.anTokushuSenPich = r.i32();
                t.anPrtTokushuSenPich = r.i32();
            }
            for (auto& t : EntLtpS) {
                t.astrUDLTypeName = in.NameIn(&t.storedName);
                t.anUDLTypeSegment = r.i32();
                for (double& d : t.aadUDLTypePitch) d = r.f64();
            }
        }
        for (auto& m : EntMoj) {
            m.adMojiX = ValidOr(r.f64(), 3.0);
            m.adMojiY = ValidOr(r.f64(), 3.0);
            m.adMojiD = ValidOr(r.f64(), 0.0);
            m.anMojiCol = r.i32();
        }
        h.dMojiSizeX = ValidOr(r.f64(), 3.0);
        h.dMojiSizeY = ValidOr(r.f64(), 3.0);
        h.dMojiKankaku = ValidOr(r.f64(), 0.0);
        h.nMojiColor = r.i32();
        h.nMojiShu = r.i32();
        h.dMojiSeiriGyouKan = r.f64();
        h.dMojiSeiriSuu = r.f64();
        h.nMojiKijunZureOn = r.i32();
        h.adMojiKijunZureX0 = r.f64();
        h.adMojiKijunZureX1 = r.f64();
        h.adMojiKijunZureX2 = r.f64();
        h.adMojiKijunZureY0 = r.f64();
        h.adMojiKijunZureY1 = r.f64();
        ReadLastHeaderDouble(r, lenient, h.adMojiKijunZureY2);
    });
}

void TJwwData::HeaderOut(ByteWriter& w, std::int32_t Ver) {
    const TEntJwwHeader& h = Enthd;
    const std::int32_t V = Ver;
    ArchiveOut out(w, Ver, FileOutOpt, &storedStrings);
    std::u16string scratch;

    Enthd.jwID = u"JwwData.";
    w.bytes(TextToAnsiBytes(Enthd.jwID));
    w.i32(Ver);
    out.StrOut(h.strMemo, h.storedMemo);
    w.i32(h.nZumen);
    w.i32(h.nWriteGLay);
    for (std::size_t g = 0; g < 16; ++g) {
        const auto& grp = RowAt(EntLgrp, g);
        w.i32(grp.anGLay);
        w.i32(grp.anWriteLay);
        w.f64(grp.adScale);
        w.i32(grp.anGLayProtect);
        for (std::size_t l = 0; l < 16; ++l) {
            const auto& lay = RowAt(EntLay, g * 16 + l);
            w.i32(lay.aanLay);
            w.i32(lay.aanLayProtect);
        }
    }
    w.fill(56, 0x20);
    w.i32(h.lnSunpou1);
    w.i32(h.lnSunpou2);
    w.i32(h.lnSunpou3);
    w.i32(h.lnSunpou4);
    w.i32(h.lnSunpou5);
    w.fill(4, 0x00);
    // Versions up to 420 know no width codes below -101.
    w.i32((V <= 420 && h.nMaxDrawWid < -101) ? -101 : h.nMaxDrawWid);
    w.f64(h.DPPrtGenten_x);
    w.f64(h.DPPrtGenten_y);
    w.f64(h.dPrtBairitsu);
    w.i32(h.nPrtSet);
    w.i32(h.nMemoriMode);
    w.f64(h.dMemoriHyoujiMin);
    w.f64(h.dMemoriX);
    w.f64(h.dMemoriY);
    w.f64(h.DpMemoriKjTen_x);
    w.f64(h.DpMemoriKjTen_y);
    for (std::size_t i = 0; i < 256; ++i)
        out.StrOut(Cleaned(RowAt(EntLay, i).aStrLayName, scratch), RowAt(EntLay, i).storedName);
    for (std::size_t g = 0; g < 16; ++g)
        out.StrOut(Cleaned(RowAt(EntLgrp, g).aStrGLayName, scratch), RowAt(EntLgrp, g).storedName);
    w.f64(h.dKageLevel);
    w.f64(h.dKageIdo);
    w.i32(h.nKage9_15JiFlg);
    w.f64(h.dKabeKageLevel);
    if (V >= 300) {
        w.f64(h.dTenkuuZuLevel);
        w.f64(h.dTenkuuZuEnkoR);
    }
    w.i32(h.nMMTani3D);
    w.f64(h.dBairitsu);
    w.f64(h.DPGenten_x);
    w.f64(h.DPGenten_y);
    w.f64(h.dHanniBairitsu);
    w.f64(h.DPHanniGenten_x);
    w.f64(h.DPHanniGenten_y);
    if (V >= 231) {
        for (std::size_t i = 0; i < 8; ++i) {
            w.f64(h.dZoomJumpBairitsu[i]);
            w.f64(h.DPZoomJumpGenten_x[i]);
            w.f64(h.DPZoomJumpGenten_y[i]);
            w.i32(h.nZoomJumpGLay[i]);
        }
        w.f64(h.dDm11);
        w.f64(h.dDm12);
        w.f64(h.dDm13);
        w.i32(h.lnDm1);
        w.f64(h.dDm21);
        w.f64(h.dDm22);
        w.f64(h.dMojiBG);
        w.i32(h.nMojiBG);
    } else {
        for (std::size_t i = 0; i < 4; ++i) {
            w.f64(h.dZoomJumpBairitsu[i]);
            w.f64(h.DPZoomJumpGenten_x[i]);
            w.f64(h.DPZoomJumpGenten_y[i]);
        }
    }
    for (double d : h.adFukusenSuuchi) w.f64(d);
    w.f64(h.dRyougawaFukusenTomeDe);
    for (std::size_t i = 0; i < 10; ++i) {
        const auto& c = RowAt(EntCol, i);
        w.i32(ColorForOutput(c.aPenColor));
        w.i32(Clamp(c.anPenWidth, 1, 16));
    }
    for (std::size_t i = 0; i < 10; ++i) {
        const auto& c = RowAt(EntCol, i);
        // Pen 0 is the background; it always prints white.
        w.i32(i == 0 ? 0xFFFFFF : ColorForOutput(c.aPrtPenColor));
        w.i32(Clamp(c.anPrtPenWidth, 1, 500));
        w.f64(Clamp(c.adPrtTenHankei, 0.1, 10.0));
    }
    for (std::size_t i = 0; i < 8; ++i) {
        const auto& t = RowAt(EntLtp1, i);
        w.i32(t.alLType);
        w.i32(t.anTokushuSenUintDot);
        w.i32(t.anTokushuSenPich);
        w.i32(t.anPrtTokushuSenPich);
    }
    for (std::size_t i = 0; i < 5; ++i) {
        const auto& t = RowAt(EntLtp2, i);
        w.i32(t.alLType);
        w.i32(t.anRandSenWide);
        w.i32(t.anTokushuSenPich);
        w.i32(t.anPrtRandSenWide);
        w.i32(t.anPrtTokushuSenPich);
    }
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& t = RowAt(EntLtp3, i);
        w.i32(t.alLType);
        w.i32(t.anTokushuSenUintDot);
        w.i32(t.anTokushuSenPich);
        w.i32(t.anPrtTokushuSenPich);
    }
    w.i32(h.nDrawGamenTen);
    w.i32(h.nDrawPrtTen);
    w.i32(h.nBitMapFirstDraw);
    w.i32(h.nGyakuDraw);
    w.i32(h.nGyakuSearch);
    w.i32(h.nColorPrint);
    w.i32(h.nLayJunPrint);
    w.i32(h.nColJunPrint);
    w.i32(h.nPrtRenzoku);
    w.i32(h.nPrtKyoutsuuGray);
    {
        // From version 600 the tens carry the print resolution setting (at
        // least 1); older versions store the last digit alone.
        std::int64_t p = h.nPrtDispOnlyNonDraw;
        if (V >= 600) p += h.nPrtDpi > 0 ? 10 * static_cast<std::int64_t>(h.nPrtDpi) : 10;
        w.u32(static_cast<std::uint32_t>(p));
    }
    if (V >= 223) {
        w.i32(h.lnDrawTime);
        w.i32(h.nEyeInit);
        w.i32(h.dEye_H_Ichi_1);
        w.i32(h.dEye_H_Ichi_2);
        w.i32(h.dEye_H_Ichi_3);
        w.f64(h.dEye_Z_Ichi_1);
        w.f64(h.dEye_Y_Ichi_1);
        w.f64(h.dEye_Z_Ichi_2);
        w.f64(h.dEye_Y_Ichi_2);
        w.f64(h.dEye_V_Ichi_3);
    }
    if (V >= 225) {
        w.f64(h.dSenNagasaSnpou);
        w.f64(h.dBoxSunpouX);
        w.f64(h.dBoxSunpouY);
        w.f64(h.dEnHankeiSnpou);
    }
    if (V >= 230) {
        w.i32(h.nSolidNinniColor);
        w.i32(h.SolidColor);
    }
    if (V >= 420) {
        for (std::size_t i = 0; i < 257; ++i) {
            const auto& c = RowAt(EntColS, i);
            w.i32(c.aPenColor);
            w.i32(c.anPenWidth);
        }
        for (std::size_t i = 0; i < 257; ++i) {
            const auto& c = RowAt(EntColS, i);
            std::u16string name = c.astrUDColorName;
            if (RemoveBlanks(name).empty()) name = u"Color_" + IntToText(static_cast<std::int32_t>(i));
            out.StrOut(Cleaned(name, scratch), c.storedName);
            // The user colours from 17 on print in their screen colour.
            w.i32(i >= 17 ? c.aPenColor : c.aPrtPenColor);
            w.i32(c.anPrtPenWidth);
            w.f64(c.adPrtTenHankei);
        }
        for (std::size_t i = 0; i < 33; ++i) {
            const auto& t = RowAt(EntLtpS, i);
            if (i >= 17 && !ValidSegmentCount(t.anUDLTypeSegment)) {
                // A user line type with an unusable segment count becomes a
                // plain dash pattern.
                w.u32(0xC3C3C3C3u);
                w.i32(8);
                w.i32(1);
                w.i32(8);
            } else {
                w.i32(t.alLType == 0 ? -1 : t.alLType);
                w.i32(t.anTokushuSenUintDot);
                w.i32(t.anTokushuSenPich);
                w.i32(t.anPrtTokushuSenPich);
            }
        }
        for (std::size_t i = 0; i < 33; ++i) {
            const auto& t = RowAt(EntLtpS, i);
            const std::u16string fallbackName = u"LType_" + IntToText(static_cast<std::int32_t>(i));
            if (i >= 17 && !ValidSegmentCount(t.anUDLTypeSegment)) {
                out.StrOut(fallbackName);
                w.i32(2);
                w.f64(1.0);
                w.f64(1.0);
                for (int k = 0; k < 8; ++k) w.f64(0.0);
            } else {
                std::u16string name = t.astrUDLTypeName;
                if (RemoveBlanks(name).empty()) name = fallbackName;
                out.StrOut(Cleaned(name, scratch), t.storedName);
                w.i32(t.anUDLTypeSegment);
                for (double d : t.aadUDLTypePitch) w.f64(d);
            }
        }
    }
    for (std::size_t i = 0; i < 10; ++i) {
        const auto& m = RowAt(EntMoj, i);
        w.f64(SizeForOutput(m.adMojiX));
        w.f64(SizeForOutput(m.adMojiY));
        w.f64(m.adMojiD);
        w.i32(m.anMojiCol);
    }
    w.f64(SizeForOutput(h.dMojiSizeX));
    w.f64(SizeForOutput(h.dMojiSizeY));
    w.f64(h.dMojiKankaku);
    w.i32(h.nMojiColor);
    w.i32(h.nMojiShu);
    w.f64(h.dMojiSeiriGyouKan);
    w.f64(h.dMojiSeiriSuu);
    w.i32(h.nMojiKijunZureOn);
    w.f64(h.adMojiKijunZureX0);
    w.f64(h.adMojiKijunZureX1);
    w.f64(h.adMojiKijunZureX2);
    w.f64(h.adMojiKijunZureY0);
    w.f64(h.adMojiKijunZureY1);
    w.f64(h.adMojiKijunZureY2);
}

}  // namespace tervalo
