#include "dos/jwc_data.h"

#include "dos/header_blocks.h"
#include "fs/fsutil.h"

namespace tervalo {

namespace {

// Paper length (mm) of each paper size code; other codes use the drawing
// width itself, so their data unit is 1.
std::int32_t PaperLength(std::int32_t psize, std::int32_t drawWidth) {
    switch (psize) {
        case 0: return 1189;
        case 1: return 841;
        case 2: return 594;
        case 3: return 420;
        case 4: return 297;
        case 8: return 1682;
        case 9: return 2378;
        case 10: return 3364;
        case 11: return 4756;
        case 12: return 10000;
        case 13: return 50000;
        case 14: return 100000;
        default: return drawWidth;
    }
}

}  // namespace

TJwcData::TJwcData() { DataInit(); }

TJwcData::~TJwcData() { DataFree(); }

void TJwcData::DataInit() {
    lineN = 0;
    arcN = 0;
    mojiN = 0;
    tenN = 0;
    EntVten.clear();
    EntMjtp.clear();
    EntLgrp.clear();
    EntLay.clear();
    EntLine.clear();
    EntArc.clear();
    EntMoji.clear();
    EntTen.clear();
    myMinWx = myMinWy = myMaxWx = myMaxWy = 0;
    // The record's member initialisers are the defaults of an empty drawing.
    Enthd = TEntJwcHeader{};
}

void TJwcData::DataFree() { DataInit(); }

bool TJwcData::FileCheck(const std::filesystem::path& FName) {
    return dos::FileHasSignature(FName, kSignature);
}

bool TJwcData::FileHeaderIn(const std::filesystem::path& FName) {
    DataInit();
    Bytes head;
    if (!ReadFilePrefix(FName, dos::kMaxHeaderBytes, head)) return false;
    return HeaderIn(head);
}

std::u16string TJwcData::Memo() const { return Enthd.comment1 + u" " + Enthd.comment2; }

void TJwcData::SplitParams(const std::u16string& text, std::int32_t n) {
    dos::SplitParamsInto(Enthd.para, text, n);
}

bool TJwcData::HeaderIn(ByteSpan data) {
    using dos::ParamInt;
    using dos::ParamSingle;
    try {
        dos::HeaderBlockReader reader(data);
        auto& h = Enthd;
        const auto& p = h.para;

        dos::ReadIdentBlock(reader, h.jwID, h.comment1, h.comment2);
        h.scaleF = h.jwID.size() > 22 && h.jwID[22] == u'f';

        // Block 2: counts, current settings, plot and grid parameters.
        SplitParams(dos::ReadParamBlock(reader), 32);
        h.lineCount = ParamInt(p, 0);
        h.arcCount = ParamInt(p, 1);
        h.mojiCount = ParamInt(p, 2);
        h.tenCount = ParamInt(p, 3);
        h.vtenCount = ParamInt(p, 4);
        h.curFno = ParamInt(p, 5);
        h.curMfno = ParamInt(p, 6);
        h.curMlcol = ParamInt(p, 7);
        h.curMpcol = ParamInt(p, 8);
        h.wLayScale = ParamSingle(p, 9);
        h.wLayNo = ParamInt(p, 10);
        h.psize = ParamInt(p, 11);
        h.lcol = ParamInt(p, 12);
        h.ltyp = ParamInt(p, 13);
        h.plotOrgX = ParamSingle(p, 14);
        h.plotOrgY = ParamSingle(p, 15);
        h.lpitch1 = ParamSingle(p, 16);
        h.lpitch2 = ParamSingle(p, 17);
        h.drawtime = ParamInt(p, 18);
        for (std::size_t i = 0; i < h.penWidth.size(); ++i) h.penWidth[i] = ParamInt(p, 19 + i);
        h.gridX = ParamSingle(p, 25);
        h.gridY = ParamSingle(p, 26);
        h.gridOrgX = ParamSingle(p, 27);
        h.gridOrgY = ParamSingle(p, 28);
        h.gridScale = ParamSingle(p, 29);
        h.drawWidth = ParamInt(p, 30);
        if (h.drawWidth == 0) h.drawWidth = 518;
        h.flgPthin = ParamInt(p, 31);
        h.para.clear();

        // Block 3: move and dimension settings, screen position.
        SplitParams(dos::ReadParamBlock(reader), 28);
        h.mvDist = ParamSingle(p, 0);
        h.mtDist = ParamSingle(p, 1);
        h.arLen = ParamSingle(p, 2);
        h.arAng = ParamSingle(p, 3);
        h.locMR = ParamInt(p, 4);
        h.flgMconma = ParamInt(p, 5);
        h.flgMzeros = ParamInt(p, 6);
        h.typLside = ParamInt(p, 7);
        h.mvUnit = ParamInt(p, 8);
        h.mvKeta = ParamInt(p, 9);
        h.sOfsetXL = ParamSingle(p, 10);
        h.sOfsetXM = ParamSingle(p, 11);
        h.sOfsetXR = ParamSingle(p, 12);
        h.sOfsetYD = ParamSingle(p, 13);
        h.sOfsetYM = ParamSingle(p, 14);
        h.sOfsetYT = ParamSingle(p, 15);
        h.s1len = ParamInt(p, 16);
        h.sOrgXm = ParamInt(p, 17);
        h.sOrgYm = ParamInt(p, 18);
        h.dlinDistB = ParamSingle(p, 19);
        for (std::size_t i = 0; i < h.dlinDist.size(); ++i) h.dlinDist[i] = ParamSingle(p, 20 + i);
        h.svScrnOX = ParamSingle(p, 25);
        h.svScrnOY = ParamSingle(p, 26);
        h.svScrnScl = ParamSingle(p, 27);
        h.para.clear();

        // Block 4: buffer addresses, sub-zoom positions, height settings.
        SplitParams(dos::ReadParamBlock(reader), 22);
        h.sBufAdr1 = dos::SegmentAddress(p[0]);
        h.sBufAdr2 = dos::SegmentAddress(p[1]);
        float* const subZoom[] = {&h.subZm0X, &h.subZm0Y, &h.subZm0S, &h.subZm1X, &h.subZm1Y,
                                  &h.subZm1S, &h.subZm2X, &h.subZm2Y, &h.subZm2S, &h.subZm3X,
                                  &h.subZm3Y, &h.subZm3S, &h.subZm4X, &h.subZm4Y, &h.subZm4S};
        for (std::size_t i = 0; i < std::size(subZoom); ++i) *subZoom[i] = ParamSingle(p, 2 + i);
        h.hiIdo = ParamSingle(p, 17);
        h.hiHi = ParamSingle(p, 18);
        h.hiTaka = ParamSingle(p, 19);
        h.flgHok = ParamInt(p, 20);
        h.flg25Dm = ParamInt(p, 21);
        h.para.clear();

        // drawWidth is never 0 here (replaced above).
        const double paper = PaperLength(h.psize, h.drawWidth);
        h.dataUnit = static_cast<float>(paper / h.drawWidth);
        return true;
    } catch (...) {
        Enthd.para.clear();
        return false;
    }
}

}  // namespace tervalo
